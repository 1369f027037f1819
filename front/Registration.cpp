// Console commands "install" and "uninstall": this executable becomes, or
// stops being, the profile's service in the local service database, and
// the source of its events in the Application log.
#include "Registration.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "EventSource.h"
#include "InstallationAccess.h"
#include "LaunchLayout.h"
#include "ProductProfile.h"
#include "ReportError.h"
#include "SystemText.h"

// A failed call: its line on standard error, and its error for the exit code.
static DWORD Failed(const char* call, DWORD error) {
    PrintFailedCall(call, error);
    return error;
}

// The service manager reads an unquoted path with blanks one word at a time
// (C:\Program.exe, then C:\Program Files\Halvern.exe, ...) and would run the
// first program it finds there as LocalSystem, so such a path goes in quotes.
char* ServiceCommandLine(const char* modulePath) {
    size_t length = strlen(modulePath);
    char* commandLine = static_cast<char*>(malloc(length + 3));
    if (commandLine == nullptr) return nullptr;
    if (strchr(modulePath, ' ') == nullptr) {
        memcpy(commandLine, modulePath, length + 1);
    } else {
        commandLine[0] = '"';
        memcpy(commandLine + 1, modulePath, length);
        commandLine[length + 1] = '"';
        commandLine[length + 2] = '\0';
    }
    return commandLine;
}

void CommandLineProgram(const char* commandLine, char* program, size_t capacity) {
    const char* start = commandLine;
    size_t length = strlen(commandLine);
    if (commandLine[0] == '"') {
        start = commandLine + 1;
        const char* close = strchr(start, '"');
        length = close != nullptr ? static_cast<size_t>(close - start) : strlen(start);
    }
    if (length >= capacity) length = capacity - 1;
    memcpy(program, start, length);
    program[length] = '\0';
}

bool CommandLineNamesProgram(const char* commandLine, const char* modulePath) {
    size_t capacity = strlen(commandLine) + 1;
    char* program = static_cast<char*>(malloc(capacity));
    if (program == nullptr) return false;
    CommandLineProgram(commandLine, program, capacity);
    bool names = lstrcmpiA(program, modulePath) == 0;
    free(program);
    return names;
}

// Before Windows shuts down, the service manager waits for the service's
// stopped report up to its preshutdown time-out, 10 s by default from
// Windows 10 version 1703 on: too short for a kernel that flushes on stop.
static const DWORD kPreshutdownTimeout = 3 * 60 * 1000;

static void SetPreshutdownTimeout(SC_HANDLE service) {
    SERVICE_PRESHUTDOWN_INFO preshutdown = {kPreshutdownTimeout};
    if (ChangeServiceConfig2A(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown)) return;
    DWORD error = GetLastError();
    fputs("The service's preshutdown time-out is not set to 3 minutes, so a reboot may cut the kernel's stop short: ",
          stderr);
    PrintFailedCall("ChangeServiceConfig2A", error);
}

// A SID of the service's own, so that a folder can be granted to
// NT SERVICE\<name> alone. Without it the service runs as before.
static void GiveServiceSid(SC_HANDLE service) {
    SERVICE_SID_INFO sid = {SERVICE_SID_TYPE_UNRESTRICTED};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid);
}

// Registers the running executable as an own-process, demand-start service
// under LocalSystem. Returns 0, or the error of the call that failed.
static DWORD CreateOwnService(SC_HANDLE manager, const char* modulePath) {
    char* commandLine = ServiceCommandLine(modulePath);
    if (commandLine == nullptr) return Failed("malloc", ERROR_NOT_ENOUGH_MEMORY);
    SC_HANDLE service = CreateServiceA(manager, Profile.serviceName, Profile.displayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    free(commandLine);
    if (service == nullptr) return Failed("CreateServiceA", error);
    SetPreshutdownTimeout(service);
    GiveServiceSid(service);
    CloseServiceHandle(service);
    return ERROR_SUCCESS;
}

static SC_HANDLE OpenServiceManager(DWORD* error) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    *error = manager == nullptr ? Failed("OpenSCManagerA", GetLastError()) : ERROR_SUCCESS;
    return manager;
}

// The service manager would start the program by the path Windows gives it
// in the ANSI code page; with '?' for the characters that page lacks, that
// path names no file, and every start would fail as "module not found".
static DWORD RefuseUnnamablePath() {
    char* modulePath = GetModulePath();
    printf("Error registering service\n");
    fputs("Cannot register ", stderr);
    PrintAnsi(stderr, modulePath != nullptr ? modulePath : "the program");
    fputs(
        ": its path has characters that the system's code page cannot hold. Install the program to a folder "
        "whose name uses only characters of the system's code page.\n",
        stderr);
    fflush(stderr);
    free(modulePath);
    return ERROR_NO_UNICODE_TRANSLATION;
}

DWORD InstallService() {
    if (!ModulePathIsFaithful()) return RefuseUnnamablePath();
    DWORD error;
    SC_HANDLE manager = OpenServiceManager(&error);
    if (manager == nullptr) {
        printf("Error opening service control manager\n");
        return error;
    }
    char* modulePath = GetModulePath();
    error = modulePath != nullptr ? CreateOwnService(manager, modulePath) : Failed("malloc", ERROR_NOT_ENOUGH_MEMORY);
    if (error != ERROR_SUCCESS) {
        printf("Error registering service\n");
    } else {
        printf("Service registration successful\n");
        AddEventSource(modulePath);
        PrintChangeableSummary();
    }
    free(modulePath);
    CloseServiceHandle(manager);
    return error;
}

// Deletes the service; returns 0, or the error of the call that failed.
static DWORD DeleteOwnService(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, Profile.serviceName, DELETE);
    if (service == nullptr) {
        printf("Error opening service\n");
        return Failed("OpenServiceA", GetLastError());
    }
    DWORD error = ERROR_SUCCESS;
    if (DeleteService(service)) {
        printf("Service unregistration successful\n");
    } else {
        error = Failed("DeleteService", GetLastError());
        printf("Error deleting service\n");
    }
    CloseServiceHandle(service);
    return error;
}

DWORD UninstallService() {
    DWORD error;
    SC_HANDLE manager = OpenServiceManager(&error);
    if (manager == nullptr) {
        printf("Error opening service control manager\n");
        return error;
    }
    error = DeleteOwnService(manager);
    // A service deleted by other means (sc delete) leaves its source behind;
    // an uninstall then still removes it, and reports the service missing.
    if (error == ERROR_SUCCESS || error == ERROR_SERVICE_DOES_NOT_EXIST) {
        char* modulePath = GetModulePath();
        if (modulePath != nullptr) RemoveEventSource(modulePath);
        free(modulePath);
    }
    CloseServiceHandle(manager);
    return error;
}
