// Entry point: offer the process to the service dispatcher first; when the
// Service Control Manager did not start us, carry out a console command.
#include <windows.h>

#include "Console.h"
#include "ProductProfile.h"
#include "ServiceControl.h"

int main(int argc, char** argv) {
    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {const_cast<LPSTR>(Profile.serviceName), ServiceMain},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherA(dispatchTable)) return 0;  // ran as a service, now stopped
    if (GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return 1;
    RunConsole(argc, argv);
    return 0;
}
