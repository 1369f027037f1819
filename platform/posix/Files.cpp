// Reading a file named in Windows form, the loader's search for a file
// name, and the standard handles.
#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "PathForm.h"
#include "Waitables.h"

namespace {

// A handle: a file CreateFileA opened, or one of the standard handles,
// which CloseHandle closes but cannot free.
struct OpenFile {
    int descriptor;
    bool standard;
};

OpenFile standardHandles[] = {{0, true}, {1, true}, {2, true}};

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
    // Windows opens a directory only with FILE_FLAG_BACKUP_SEMANTICS.
    struct stat status;
    if (fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(descriptor);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return new OpenFile{descriptor, false};
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

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, void*) {
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE || lpNumberOfBytesWritten == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ssize_t put = write(static_cast<OpenFile*>(hFile)->descriptor, lpBuffer, nNumberOfBytesToWrite);
    *lpNumberOfBytesWritten = put > 0 ? static_cast<DWORD>(put) : 0;
    if (put < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (hObject == nullptr || hObject == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (CloseWaitableHandle(hObject)) return TRUE;
    auto* file = static_cast<OpenFile*>(hObject);
    close(file->descriptor);
    if (!file->standard) delete file;
    return TRUE;
}

// Offsets past 2 GiB need lpDistanceToMoveHigh, which nothing here uses.
extern "C" DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG* lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr || dwMoveMethod != FILE_BEGIN || lDistanceToMove < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    // As on Windows, a position past the end is allowed; a read there gets nothing.
    off_t at = lseek(static_cast<OpenFile*>(hFile)->descriptor, lDistanceToMove, SEEK_SET);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    return static_cast<DWORD>(at);
}

namespace {

std::string OwnDirectory() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return std::string();
    std::string directory(path, static_cast<size_t>(length));
    return directory.substr(0, directory.rfind('/') + 1);
}

// The entry of `directory` whose name is `name` in any case, as Windows'
// file systems compare names; empty when there is none. Directories do not
// count: the loader wants a file.
std::string FindInDirectory(const std::string& directory, const char* name) {
    DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) return std::string();
    std::string found;
    while (const dirent* entry = readdir(listing)) {
        if (strcasecmp(entry->d_name, name) != 0) continue;
        std::string path = (directory.empty() || directory.back() == '/' ? directory : directory + "/") + entry->d_name;
        struct stat status;
        if (stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
            found = path;
            break;
        }
    }
    closedir(listing);
    return found;
}

}  // namespace

extern "C" DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR, DWORD nBufferLength, LPSTR lpBuffer,
                                    LPSTR* lpFilePart) {
    if (lpFileName == nullptr || lpFileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string found;
    if (strchr(lpFileName, '\\') != nullptr || strchr(lpFileName, '/') != nullptr) {
        // A name with a directory is only checked, never searched for.
        struct stat status;
        std::string path = ToPosixPath(lpFileName);
        if (stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) found = path;
    } else {
        char current[PATH_MAX];
        std::string directories = lpPath != nullptr ? ToPosixPath(lpPath) : OwnDirectory();
        if (lpPath == nullptr && getcwd(current, sizeof current) != nullptr) directories += std::string(":") + current;
        if (lpPath == nullptr && getenv("PATH") != nullptr) directories += std::string(":") + getenv("PATH");
        for (size_t start = 0; found.empty() && start <= directories.size();) {
            size_t end = directories.find_first_of(lpPath != nullptr ? ";" : ":", start);
            if (end == std::string::npos) end = directories.size();
            if (end > start) found = FindInDirectory(directories.substr(start, end - start), lpFileName);
            start = end + 1;
        }
    }
    if (found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (found[0] != '/') {
        char current[PATH_MAX];
        if (getcwd(current, sizeof current) != nullptr) found = std::string(current) + "/" + found;
    }
    std::string path = ToWindowsPath(found);
    // Like Windows: on a short buffer, the size needed, NUL included.
    if (lpBuffer == nullptr || path.size() >= nBufferLength) return static_cast<DWORD>(path.size() + 1);
    memcpy(lpBuffer, path.c_str(), path.size() + 1);
    if (lpFilePart != nullptr) *lpFilePart = lpBuffer + path.rfind('\\') + 1;
    return static_cast<DWORD>(path.size());
}

extern "C" HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    switch (nStdHandle) {
        case STD_INPUT_HANDLE:
            return &standardHandles[0];
        case STD_OUTPUT_HANDLE:
            return &standardHandles[1];
        case STD_ERROR_HANDLE:
            return &standardHandles[2];
        default:
            SetLastError(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
    }
}

extern "C" DWORD WINAPI GetFileType(HANDLE hFile) {
    struct stat status;
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE ||
        fstat(static_cast<OpenFile*>(hFile)->descriptor, &status) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(NO_ERROR);
    if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
}

// A character device that is no terminal (NUL) is no console, as on Windows.
extern "C" BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    if (hConsoleHandle == nullptr || hConsoleHandle == INVALID_HANDLE_VALUE || lpMode == nullptr ||
        !isatty(static_cast<OpenFile*>(hConsoleHandle)->descriptor)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpMode = 0;
    return TRUE;
}
