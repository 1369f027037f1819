// The service side of the program: ServiceMain starts the kernel on the
// dispatcher's thread, the control handler stops it on the main thread, and
// both report through the one status record.
#include "ServiceControl.h"

#include "Kernel.h"
#include "ProductProfile.h"

// The service's status as last reported, with the handle to report it on.
// ServiceMain writes it up to its last report; the service manager sends no
// control before that report, and the handler owns the record after it.
struct ServiceStatusRecord {
    SERVICE_STATUS_HANDLE handle;
    SERVICE_STATUS status;
};

static ServiceStatusRecord ServiceStatus;

// Service-specific exit code of a start that failed; the reason itself is in
// the event log.
static const DWORD kKernelStartFailed = 1;

static void ReportCurrentStatus() { SetServiceStatus(ServiceStatus.handle, &ServiceStatus.status); }

static void ReportStatus(DWORD state, DWORD win32ExitCode = NO_ERROR, DWORD serviceSpecificExitCode = 0) {
    ServiceStatus.status.dwCurrentState = state;
    ServiceStatus.status.dwWin32ExitCode = win32ExitCode;
    ServiceStatus.status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    ReportCurrentStatus();
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    ServiceStatus.status.dwServiceType = SERVICE_WIN32;
    // Preshutdown, not shutdown: before Windows shuts down, the service
    // manager waits for the service to report stopped (up to the preshutdown
    // time-out, ten seconds by default) while the handler runs the kernel's
    // stop, so a server that flushes on stop loses nothing at a reboot.
    ServiceStatus.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN;
    ServiceStatus.status.dwCheckPoint = 0;
    ServiceStatus.status.dwWaitHint = 0;
    ServiceStatus.handle = RegisterServiceCtrlHandlerExA(Profile.serviceName, ServiceCtrlHandler, nullptr);
    if (ServiceStatus.handle == nullptr) return;  // no handle to report on
    ReportStatus(SERVICE_START_PENDING);
    bool started = StartKernel();
    // This thread ends when ServiceMain returns; the stop comes on the main
    // thread, which attaches itself.
    DetachFromVm();
    if (started) {
        ReportStatus(SERVICE_RUNNING);
    } else {
        // A failure, not a clean stop, so that the service manager's
        // recovery actions and monitoring see it.
        ReportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, kKernelStartFailed);
    }
}

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_PRESHUTDOWN) {
        ReportStatus(SERVICE_STOP_PENDING);
        StopKernel();
        ReportStatus(SERVICE_STOPPED);
        return NO_ERROR;
    }
    // Every other control, interrogate included, is answered with the
    // current record.
    ReportCurrentStatus();
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}
