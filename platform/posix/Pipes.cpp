// What a service's output log needs on POSIX: a pipe whose reading end can
// be asked how much it holds, standard handles that can be replaced (the
// descriptor a library's C runtime writes to with them), files opened for
// appending, folders made, files renamed and deleted, and the local time
// with its offset from UTC.
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "OpenFile.h"
#include "PathForm.h"

namespace {

DWORD ErrorOf(int error) {
    switch (error) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        default:
            return ERROR_ACCESS_DENIED;
    }
}

bool Failed(int error) {
    SetLastError(ErrorOf(error));
    return false;
}

}  // namespace

HANDLE OpenFileForWriting(LPCSTR fileName, DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes) {
    int flags = O_WRONLY | O_CLOEXEC;
    // Access to append data alone writes at the end, whatever the position.
    if ((desiredAccess & (GENERIC_WRITE | FILE_APPEND_DATA)) == FILE_APPEND_DATA) flags |= O_APPEND;
    if (creationDisposition == OPEN_ALWAYS) flags |= O_CREAT;
    if (creationDisposition == CREATE_ALWAYS) flags |= O_CREAT | O_TRUNC;
    // Windows opens the link itself; here a link is not opened at all.
    if ((flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) flags |= O_NOFOLLOW;
    if ((desiredAccess & (GENERIC_WRITE | FILE_APPEND_DATA)) == 0 ||
        (creationDisposition != OPEN_ALWAYS && creationDisposition != CREATE_ALWAYS &&
         creationDisposition != OPEN_EXISTING)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int descriptor = open(ToPosixPath(fileName).c_str(), flags, 0644);
    if (descriptor < 0) {
        Failed(errno);
        return INVALID_HANDLE_VALUE;
    }
    return new OpenFile{descriptor, false};
}

// nSize is a suggestion, as on Windows. Writing to a pipe whose reading end
// is closed fails, as on Windows, instead of ending the process.
extern "C" BOOL WINAPI CreatePipe(HANDLE* hReadPipe, HANDLE* hWritePipe, void*, DWORD nSize) {
    int ends[2];
    if (hReadPipe == nullptr || hWritePipe == nullptr || pipe2(ends, O_CLOEXEC) != 0) return Failed(errno);
    if (nSize > 0) fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(nSize));
    signal(SIGPIPE, SIG_IGN);
    *hReadPipe = new OpenFile{ends[0], false};
    *hWritePipe = new OpenFile{ends[1], false};
    return TRUE;
}

// Tells only how many bytes wait; it never reads them.
extern "C" BOOL WINAPI PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize, LPDWORD lpBytesRead,
                                     LPDWORD lpTotalBytesAvail, LPDWORD lpBytesLeftThisMessage) {
    int waiting = 0;
    if (hNamedPipe == nullptr || hNamedPipe == INVALID_HANDLE_VALUE || (lpBuffer != nullptr && nBufferSize > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (ioctl(static_cast<OpenFile*>(hNamedPipe)->descriptor, FIONREAD, &waiting) != 0) return Failed(errno);
    if (lpBytesRead != nullptr) *lpBytesRead = 0;
    if (lpTotalBytesAvail != nullptr) *lpTotalBytesAvail = static_cast<DWORD>(waiting);
    if (lpBytesLeftThisMessage != nullptr) *lpBytesLeftThisMessage = 0;
    return TRUE;
}

extern "C" BOOL WINAPI SetStdHandle(DWORD nStdHandle, HANDLE hHandle) {
    int target = nStdHandle == STD_OUTPUT_HANDLE ? 1 : nStdHandle == STD_ERROR_HANDLE ? 2 : -1;
    if (target < 0 || hHandle == nullptr || hHandle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    fflush(target == 1 ? stdout : stderr);
    if (dup2(static_cast<OpenFile*>(hHandle)->descriptor, target) < 0) return Failed(errno);
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, void*) {
    if (lpPathName == nullptr || mkdir(ToPosixPath(lpPathName).c_str(), 0755) != 0) return Failed(errno);
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    std::string from = ToPosixPath(lpExistingFileName);
    std::string to = ToPosixPath(lpNewFileName);
    struct stat status;
    if ((dwFlags & MOVEFILE_REPLACE_EXISTING) == 0 && lstat(to.c_str(), &status) == 0) return Failed(EEXIST);
    if (rename(from.c_str(), to.c_str()) != 0) return Failed(errno);
    return TRUE;
}

// A folder is not deleted, as on Windows.
extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (lpFileName == nullptr || unlink(ToPosixPath(lpFileName).c_str()) != 0) return Failed(errno);
    return TRUE;
}

extern "C" BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    struct stat status;
    if (hFile == nullptr || hFile == INVALID_HANDLE_VALUE || lpFileSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fstat(static_cast<OpenFile*>(hFile)->descriptor, &status) != 0) return Failed(errno);
    lpFileSize->QuadPart = static_cast<int64_t>(status.st_size);
    return TRUE;
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

// The offset in force now, daylight saving time included, is in Bias
// (minutes to add to the local time for UTC); the other biases are 0.
extern "C" DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    *lpTimeZoneInformation = TIME_ZONE_INFORMATION();
    lpTimeZoneInformation->Bias = static_cast<LONG>(-local.tm_gmtoff / 60);
    return TIME_ZONE_ID_UNKNOWN;
}

// Milliseconds of a monotonic clock, wrapping at 2^32 as on Windows.
extern "C" DWORD WINAPI GetTickCount(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

// A descriptor of its own for the handle's file.
extern "C" int _open_osfhandle(intptr_t osfhandle, int) {
    HANDLE handle = reinterpret_cast<HANDLE>(osfhandle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
    return dup(static_cast<OpenFile*>(handle)->descriptor);
}

extern "C" int _dup2(int fd1, int fd2) { return dup2(fd1, fd2) < 0 ? -1 : 0; }
