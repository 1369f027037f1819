// ExpandEnvironmentStringsA and GetFileAttributesA on POSIX: what a registry
// value of type REG_EXPAND_SZ needs to be looked at as a file; and
// GetEnvironmentVariableA. GetTempPathA: where a VM's error report may have gone.
#include <windows.h>

#include <errno.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "PathForm.h"

extern char** environ;

namespace {

// Windows compares the names of environment variables without regard to case.
const char* EnvironmentValue(const std::string& name) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals != nullptr && static_cast<size_t>(equals - *entry) == name.size() &&
            strncasecmp(*entry, name.c_str(), name.size()) == 0)
            return equals + 1;
    }
    return nullptr;
}

bool Exists(const std::string& posixPath) {
    struct stat info;
    return stat(posixPath.c_str(), &info) == 0;
}

}  // namespace

// %NAME% becomes the variable's value; a name that is not set stays as it
// is, and its closing '%' may open the next one, as on Windows. Returns the
// length of the result with its NUL; when nSize is less, nothing is written.
extern "C" DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    if (lpSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string expanded;
    for (const char* at = lpSrc; *at != '\0';) {
        const char* close = at[0] == '%' ? strchr(at + 1, '%') : nullptr;
        const char* value = close != nullptr && close > at + 1 ? EnvironmentValue(std::string(at + 1, close)) : nullptr;
        if (value != nullptr) {
            expanded += value;
            at = close + 1;
        } else if (close != nullptr) {
            expanded.append(at, close);
            at = close;
        } else {
            expanded += *at++;
        }
    }
    DWORD needed = static_cast<DWORD>(expanded.size() + 1);
    if (lpDst != nullptr && nSize >= needed) memcpy(lpDst, expanded.c_str(), needed);
    return needed;
}

// A missing file is ERROR_FILE_NOT_FOUND, a missing directory on the way
// ERROR_PATH_NOT_FOUND.
extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    std::string path = ToPosixPath(lpFileName);
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    if (path.empty() || errno == ENOTDIR) {
        SetLastError(ERROR_PATH_NOT_FOUND);
    } else if (errno == ENOENT) {
        size_t slash = path.find_last_of('/');
        bool parentThere = slash == std::string::npos || Exists(slash == 0 ? "/" : path.substr(0, slash));
        SetLastError(parentThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    } else {
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return INVALID_FILE_ATTRIBUTES;
}

// As Windows: TMP, then TEMP; /tmp where neither is set, as a Linux VM has it.
extern "C" DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    const char* folder = EnvironmentValue("TMP");
    if (folder == nullptr || folder[0] == '\0') folder = EnvironmentValue("TEMP");
    if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
    std::string path = ToWindowsPath(folder);
    if (path.back() != '\\') path += '\\';
    // Like Windows: on a short buffer, the size needed, NUL included.
    if (lpBuffer == nullptr || path.size() >= nBufferLength) return static_cast<DWORD>(path.size() + 1);
    memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

// Like Windows: the length without the NUL, or on a short buffer the size
// needed; 0 with ERROR_ENVVAR_NOT_FOUND when the variable is not set.
extern "C" DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    const char* found = lpName != nullptr ? EnvironmentValue(lpName) : nullptr;
    if (found == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::string value = found;
    if (strcasecmp(lpName, "PATH") == 0) {
        value = ToWindowsPath(value);
        std::replace(value.begin(), value.end(), ':', ';');
    }
    DWORD length = static_cast<DWORD>(value.size());
    if (lpBuffer == nullptr || length >= nSize) return length + 1;
    memcpy(lpBuffer, value.c_str(), length + 1);
    return length;
}
