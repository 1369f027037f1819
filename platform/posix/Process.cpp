// Process-level Win32 calls on POSIX: last error, own module name, string
// comparison and the working directory.
#include <windows.h>

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "PathForm.h"

static thread_local DWORD lastError = ERROR_SUCCESS;

extern "C" DWORD WINAPI GetLastError(void) { return lastError; }

extern "C" void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

static std::string ReadOwnExecutablePath() {
    std::string path(PATH_MAX, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", &path[0], path.size());
        if (length < 0) return std::string();
        if (static_cast<size_t>(length) < path.size()) {
            path.resize(static_cast<size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The program's path in Windows form for a GetModuleFileName call, or false
// with the call's error set.
static bool OwnWindowsPath(HMODULE hModule, DWORD nSize, std::string* path) {
    if (hModule != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return false;
    }
    std::string posixPath = ReadOwnExecutablePath();
    if (posixPath.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    *path = ToWindowsPath(posixPath);
    return true;
}

// Windows' contract, for both forms: the return value is the length copied
// without the NUL; when the name does not fit it is cut to nSize - 1
// characters, terminated, and the return value is nSize with
// ERROR_INSUFFICIENT_BUFFER.
template <typename Character>
static DWORD CopyModuleName(const std::basic_string<Character>& name, Character* lpFilename, DWORD nSize) {
    if (name.size() >= nSize) {
        memcpy(lpFilename, name.data(), (nSize - 1) * sizeof(Character));
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, name.c_str(), (name.size() + 1) * sizeof(Character));
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!OwnWindowsPath(hModule, nSize, &path)) return 0;
    return CopyModuleName(path, lpFilename, nSize);
}

// The same name in UTF-16: file names here are UTF-8, as is every code page.
extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!OwnWindowsPath(hModule, nSize, &path)) return 0;
    int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::u16string wide(static_cast<size_t>(units > 0 ? units : 1), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], units);
    wide.resize(wide.size() - 1);
    return CopyModuleName(wide, lpFilename, nSize);
}

extern "C" int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    // Windows treats a null pointer as an empty string here.
    return strcmp(lpString1 != nullptr ? lpString1 : "", lpString2 != nullptr ? lpString2 : "");
}

extern "C" int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    return strcasecmp(lpString1 != nullptr ? lpString1 : "", lpString2 != nullptr ? lpString2 : "");
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (lpPathName == nullptr || chdir(ToPosixPath(lpPathName).c_str()) != 0) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    char posixPath[PATH_MAX];
    if (getcwd(posixPath, sizeof posixPath) == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string path = ToWindowsPath(posixPath);
    // Like Windows: on a short buffer, return the size needed, NUL included.
    if (lpBuffer == nullptr || path.size() >= nBufferLength) return static_cast<DWORD>(path.size() + 1);
    memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

extern "C" DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
