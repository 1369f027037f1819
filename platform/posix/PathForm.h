#ifndef HALVERN_PLATFORM_PATH_FORM_H
#define HALVERN_PLATFORM_PATH_FORM_H

#include <string>

// The system speaks in Windows paths (backslashes); POSIX wants slashes.
std::string ToPosixPath(const char* windowsPath);
std::string ToWindowsPath(const std::string& posixPath);

#endif
