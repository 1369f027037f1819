// Console commands "install" and "uninstall": this executable becomes, or
// stops being, the profile's service in the local service database.
#include "Registration.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LaunchLayout.h"
#include "ProductProfile.h"

static SC_HANDLE OpenServiceManager() { return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }

// The service manager reads an unquoted path with blanks one word at a time
// (C:\Program.exe, then C:\Program Files\Halvern.exe, ...) and would run the
// first program it finds there as LocalSystem, so such a path goes in quotes.
// Returns a heap string, or null when memory is short.
static char* ServiceCommandLine(const char* modulePath) {
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

// Registers the running executable as an own-process, demand-start service
// under LocalSystem. Returns the new service's handle, or null.
static SC_HANDLE CreateOwnService(SC_HANDLE manager) {
    char* modulePath = GetModulePath();
    if (modulePath == nullptr) return nullptr;
    char* commandLine = ServiceCommandLine(modulePath);
    free(modulePath);
    if (commandLine == nullptr) return nullptr;
    SC_HANDLE service = CreateServiceA(manager, Profile.serviceName, Profile.displayName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       commandLine, nullptr, nullptr, nullptr, nullptr, nullptr);
    free(commandLine);
    return service;
}

void InstallService() {
    SC_HANDLE manager = OpenServiceManager();
    if (manager == nullptr) {
        printf("Error opening service control manager\n");
        return;
    }
    SC_HANDLE service = CreateOwnService(manager);
    if (service == nullptr) {
        printf("Error registering service\n");
    } else {
        printf("Service registration successful\n");
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void UninstallService() {
    SC_HANDLE manager = OpenServiceManager();
    if (manager == nullptr) {
        printf("Error opening service control manager\n");
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, Profile.serviceName, DELETE);
    if (service == nullptr) {
        printf("Error opening service\n");
    } else {
        if (DeleteService(service)) {
            printf("Service unregistration successful\n");
        } else {
            printf("Error deleting service\n");
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}
