// The service side of the program: ServiceMain starts the kernel on the
// dispatcher's thread, the control handler stops it on the main thread, and
// both report through the one status record.
#include "ServiceControl.h"

#include "Kernel.h"
#include "ProductProfile.h"
#include "VmEnding.h"

// The service's status as last reported, with the handle to report it on.
// ServiceMain writes it up to its last report; the service manager sends no
// control before that report, and the handler owns the record after it. The
// final report may come from any thread (the VM may end the process on one
// of its own): it is made once, on a copy.
struct ServiceStatusRecord {
    SERVICE_STATUS_HANDLE handle;
    SERVICE_STATUS status;
};

static ServiceStatusRecord ServiceStatus;

static void ReportCurrentStatus() { SetServiceStatus(ServiceStatus.handle, &ServiceStatus.status); }

static void ReportStatus(DWORD state, DWORD win32ExitCode = NO_ERROR, DWORD serviceSpecificExitCode = 0) {
    ServiceStatus.status.dwCurrentState = state;
    ServiceStatus.status.dwWin32ExitCode = win32ExitCode;
    ServiceStatus.status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    ReportCurrentStatus();
}

// Stopped: cleanly (0), or as a failure with that service-specific code, so
// that the service manager's recovery actions and monitoring see it. Called
// by whoever claimed the kernel's end.
static void ReportStopped(DWORD serviceSpecificExitCode) {
    SERVICE_STATUS status = ServiceStatus.status;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = serviceSpecificExitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    SetServiceStatus(ServiceStatus.handle, &status);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    ServiceStatus.status.dwServiceType = SERVICE_WIN32;
    ServiceStatus.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    ServiceStatus.status.dwCheckPoint = 0;
    ServiceStatus.status.dwWaitHint = 0;
    ServiceStatus.handle = RegisterServiceCtrlHandlerExA(Profile.serviceName, ServiceCtrlHandler, nullptr);
    if (ServiceStatus.handle == nullptr) return;  // no handle to report on
    SetFinalStatusReport(ReportStopped);
    ReportStatus(SERVICE_START_PENDING);
    bool started = StartKernel();
    // This thread ends when ServiceMain returns; the stop comes on the main
    // thread, which attaches itself.
    DetachFromVm();
    if (started) {
        // Preshutdown, not shutdown: before Windows shuts down, the service
        // manager waits for the service to report stopped (up to the
        // preshutdown time-out) while the handler runs the kernel's stop, so
        // a server that flushes on stop loses nothing at a reboot. Only a
        // running kernel can be stopped so: a stop must not run beside start.
        ServiceStatus.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN;
        ReportStatus(SERVICE_RUNNING);
    } else if (ClaimKernelEnd()) {
        ReportStopped(kKernelStartFailedCode);
    }
}

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_PRESHUTDOWN) {
        ReportStatus(SERVICE_STOP_PENDING);
        // A stop that threw has been reported; it was asked for all the
        // same, so it is no failure for the recovery actions.
        StopKernel();
        if (ClaimKernelEnd()) ReportStopped(0);
        return NO_ERROR;
    }
    // Every other control, interrogate included, is answered with the
    // current record.
    ReportCurrentStatus();
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}
