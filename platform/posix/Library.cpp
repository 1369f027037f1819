// LoadLibraryA / GetProcAddress over dlopen / dlsym. Paths come in Windows
// form; the library keeps its Windows file name (server\jvm.dll), whatever
// its format.
#include <windows.h>

#include <dlfcn.h>
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
