// LoadLibraryA / GetProcAddress over dlopen / dlsym. Paths come in Windows
// form; the library keeps its Windows file name (server\jvm.dll), whatever
// its format.
#include <windows.h>

#include <dlfcn.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "PathForm.h"

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = ToPosixPath(lpLibFileName);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        // As Windows: a file that is there but no loadable library of this
        // machine is a bad image, anything else a missing module.
        struct stat status;
        bool isFile = stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
        SetLastError(isFile ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HMODULE>(library);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr || dlclose(static_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (hModule == nullptr || lpProcName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(static_cast<void*>(hModule), lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

namespace {

// Like Windows: the length without the NUL, or on a short buffer the size needed.
UINT CopyFolder(const char* folder, LPSTR lpBuffer, UINT uSize) {
    UINT length = static_cast<UINT>(strlen(folder));
    if (lpBuffer == nullptr || length >= uSize) return length + 1;
    memcpy(lpBuffer, folder, length + 1);
    return length;
}

const char kSystemFolder[] = "\\usr\\lib";

}  // namespace

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyFolder(kSystemFolder, lpBuffer, uSize);
}

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) { return CopyFolder("\\usr", lpBuffer, uSize); }

extern "C" BOOL WINAPI SetDllDirectoryA(LPCSTR) { return TRUE; }

// A load confined to the system folder takes only a bare name, and opens it there.
extern "C" HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (hFile != nullptr || (dwFlags & ~static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwFlags == 0) return LoadLibraryA(lpLibFileName);
    if (lpLibFileName == nullptr || strpbrk(lpLibFileName, "\\/") != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryA((std::string(kSystemFolder) + "\\" + lpLibFileName).c_str());
}
