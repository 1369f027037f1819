#ifndef FRONT_SERVICE_CONTROL_H
#define FRONT_SERVICE_CONTROL_H

#include <windows.h>

// The service's status as last reported, with the handle to report it on.
struct ServiceStatusRecord {
    SERVICE_STATUS_HANDLE handle;
    SERVICE_STATUS status;
};

extern ServiceStatusRecord ServiceStatus;

// Service entry named in the dispatch table; runs on the dispatcher's thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler; runs on the main thread inside the dispatcher call.
void WINAPI ServiceCtrlHandler(DWORD control);

#endif
