// The service side of the program: ServiceMain starts the kernel on the
// dispatcher's thread, the control handler stops it on the main thread, and
// both report through the one status record.
#include "ServiceControl.h"

#include "Kernel.h"
#include "ProductProfile.h"

ServiceStatusRecord ServiceStatus;

// Service-specific exit code of a start that failed; the reason itself is in
// the event log.
static const DWORD kKernelStartFailed = 1;

static void ReportServiceStatus() { SetServiceStatus(ServiceStatus.handle, &ServiceStatus.status); }

static void SetStartPendingStatus() {
    ServiceStatus.status.dwServiceType = SERVICE_WIN32;
    ServiceStatus.status.dwCurrentState = SERVICE_START_PENDING;
    ServiceStatus.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    ServiceStatus.status.dwWin32ExitCode = NO_ERROR;
    ServiceStatus.status.dwServiceSpecificExitCode = 0;
    ServiceStatus.status.dwCheckPoint = 0;
    ServiceStatus.status.dwWaitHint = 0;
}

// A failed start is reported as a failure, not as a clean stop, so that the
// service manager's recovery actions and monitoring see it.
static void SetFailedStartStatus() {
    ServiceStatus.status.dwCurrentState = SERVICE_STOPPED;
    ServiceStatus.status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    ServiceStatus.status.dwServiceSpecificExitCode = kKernelStartFailed;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    SetStartPendingStatus();
    ServiceStatus.handle = RegisterServiceCtrlHandlerA(Profile.serviceName, ServiceCtrlHandler);
    if (ServiceStatus.handle == nullptr) return;  // no handle to report on
    ReportServiceStatus();
    if (StartKernel()) {
        ServiceStatus.status.dwCurrentState = SERVICE_RUNNING;
    } else {
        SetFailedStartStatus();
    }
    // The last write to the record on this thread: the service manager sends
    // no control before this report, and the handler owns the record after it.
    ReportServiceStatus();
}

void WINAPI ServiceCtrlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP) {
        ServiceStatus.status.dwCurrentState = SERVICE_STOP_PENDING;
        ReportServiceStatus();
        StopKernel();
        ServiceStatus.status.dwCurrentState = SERVICE_STOPPED;
    }
    // Every control, interrogate included, is answered with the current record.
    ReportServiceStatus();
}
