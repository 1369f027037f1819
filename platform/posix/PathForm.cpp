#include "PathForm.h"

#include <algorithm>

std::string ToPosixPath(const char* windowsPath) {
    std::string path = windowsPath != nullptr ? windowsPath : "";
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ToWindowsPath(const std::string& posixPath) {
    std::string path = posixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
