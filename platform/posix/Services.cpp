// There is no Service Control Manager on POSIX: the dispatcher refuses the
// way Windows does for a process it did not start, and the database refuses
// every connection. The programs therefore always run their console commands.
#include <windows.h>

extern "C" BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA*) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return FALSE;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR, LPHANDLER_FUNCTION) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExA(LPCSTR, LPHANDLER_FUNCTION_EX, LPVOID) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" SC_HANDLE WINAPI OpenSCManagerA(LPCSTR, LPCSTR, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

extern "C" SC_HANDLE WINAPI CreateServiceA(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR,
                                           LPDWORD, LPCSTR, LPCSTR, LPCSTR) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

extern "C" SC_HANDLE WINAPI OpenServiceA(SC_HANDLE, LPCSTR, DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI QueryServiceConfigA(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE, LPSERVICE_STATUS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI ChangeServiceConfig2A(SC_HANDLE, DWORD, LPVOID) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI QueryServiceConfig2A(SC_HANDLE, DWORD, LPBYTE, DWORD, LPDWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// No registry either: nothing can be read or written.
extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY phkResult, LPDWORD) {
    if (phkResult != nullptr) *phkResult = nullptr;
    return ERROR_ACCESS_DENIED;
}

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY phkResult) {
    if (phkResult != nullptr) *phkResult = nullptr;
    return ERROR_FILE_NOT_FOUND;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, BYTE*, LPDWORD) {
    return ERROR_INVALID_HANDLE;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) {
    return ERROR_INVALID_HANDLE;
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY, LPCSTR) { return ERROR_FILE_NOT_FOUND; }

extern "C" LSTATUS WINAPI RegCloseKey(HKEY) { return ERROR_INVALID_HANDLE; }
