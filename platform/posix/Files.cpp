// CreateFileA / ReadFile / CloseHandle for reading a file named in Windows
// form.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "PathForm.h"

namespace {

struct OpenFile {
    int descriptor;
};

}  // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, void*,
                                     DWORD dwCreationDisposition, DWORD, HANDLE) {
    if (lpFileName == nullptr || dwDesiredAccess != GENERIC_READ || dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int descriptor = open(ToPosixPath(lpFileName).c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        SetLastError(errno == ENOENT    ? ERROR_FILE_NOT_FOUND
                     : errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                        : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return new OpenFile{descriptor};
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                                void*) {
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE || lpNumberOfBytesRead == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t got = read(static_cast<OpenFile*>(hFile)->descriptor, lpBuffer, nNumberOfBytesToRead);
    if (got < 0) {
        *lpNumberOfBytesRead = 0;
        SetLastError(ERROR_ACCESS_DENIED);  // a directory, or a read error
        return FALSE;
    }
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == nullptr || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* file = static_cast<OpenFile*>(hObject);
    close(file->descriptor);
    delete file;
    return TRUE;
}
