#include "Program.h"

#include <windows.h>

#include "Console.h"
#include "ProductProfile.h"
#include "ServiceControl.h"

int RunProgram(int argc, char** argv) {
    // First of all, the current folder leaves the library search: a folder an
    // administrator's shell stands in must not supply this process's
    // libraries, jvm.dll's own imports included.
    SetDllDirectoryA("");
    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {const_cast<LPSTR>(Profile.serviceName), ServiceMain},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherA(dispatchTable)) return 0;  // ran as a service, now stopped
    if (GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return 1;
    return RunConsole(argc, argv);
}
