#ifndef PLATFORM_POSIX_OPEN_FILE_H
#define PLATFORM_POSIX_OPEN_FILE_H

#include <windows.h>

// A file handle: a file CreateFileA opened, an end of a pipe, or one of the
// standard handles, which CloseHandle closes but cannot free.
struct OpenFile {
    int descriptor;
    bool standard;
};

// CreateFileA for any access but reading alone (platform/posix/Pipes.cpp).
HANDLE OpenFileForWriting(LPCSTR fileName, DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes);

#endif
