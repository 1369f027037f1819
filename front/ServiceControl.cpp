// The service side of the program: ServiceMain starts the kernel on the
// dispatcher's thread, the control handler has it stopped on a thread of the
// host's own, and every report, from whichever thread, is made under one
// lock from the one status record.
#include "ServiceControl.h"

#include "Kernel.h"
#include "OutputLog.h"
#include "ProductProfile.h"
#include "VmEnding.h"

// A pending state carries a check point that moves while the work goes on,
// and the time within which a caller may expect the next move.
static const DWORD kPendingWaitHint = 30000;
static const DWORD kProgressInterval = 5000;
// After 10 minutes a start or stop that hangs shows as one that makes no
// progress.
static const int kProgressSteps = 120;
// How long the handler waits for the kernel's stop before it leaves the
// stopped report to the stop thread: well within the 30 s a handler has.
static const DWORD kStopHandOff = 3000;

static const DWORD kAcceptsNothing = 0;
// Preshutdown, not shutdown: before Windows shuts down, the service manager
// waits for the service to report stopped (up to the preshutdown time-out,
// which install sets) while the kernel's stop runs, so a server that
// flushes on stop loses nothing at a reboot.
static const DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN;

// The service's status as last reported, with the handle to report it on.
// Written and reported only under StatusLock. After STOPPED nothing more is
// reported, so STOPPED is last whichever thread the VM ends the process on.
struct ServiceStatusRecord {
    SERVICE_STATUS_HANDLE handle;
    SERVICE_STATUS status;
    bool stoppedReported;
};

static SRWLOCK StatusLock = SRWLOCK_INIT;
static ServiceStatusRecord ServiceStatus;

// Reports the record as it stands. The caller holds StatusLock.
static void ReportLocked() {
    if (ServiceStatus.stoppedReported) return;
    ServiceStatus.stoppedReported = ServiceStatus.status.dwCurrentState == SERVICE_STOPPED;
    SetServiceStatus(ServiceStatus.handle, &ServiceStatus.status);
}

static bool IsPending(DWORD state) { return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING; }

// A new state: a pending one starts at check point 1 with the wait hint,
// any other has neither. The caller holds StatusLock.
static void SetStateLocked(DWORD state, DWORD controlsAccepted) {
    ServiceStatus.status.dwCurrentState = state;
    ServiceStatus.status.dwControlsAccepted = controlsAccepted;
    ServiceStatus.status.dwCheckPoint = IsPending(state) ? 1 : 0;
    ServiceStatus.status.dwWaitHint = IsPending(state) ? kPendingWaitHint : 0;
}

static void ReportState(DWORD state, DWORD controlsAccepted) {
    AcquireSRWLockExclusive(&StatusLock);
    SetStateLocked(state, controlsAccepted);
    ReportLocked();
    ReleaseSRWLockExclusive(&StatusLock);
}

// Stopped: cleanly (0), or as a failure with that service-specific code, so
// that the service manager's recovery actions and monitoring see it. Called
// by whoever claimed the kernel's end, on any thread.
static void ReportStopped(DWORD serviceSpecificExitCode) {
    EndOutputLog();  // before the process may end
    AcquireSRWLockExclusive(&StatusLock);
    SetStateLocked(SERVICE_STOPPED, kAcceptsNothing);
    ServiceStatus.status.dwWin32ExitCode = serviceSpecificExitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    ServiceStatus.status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    ReportLocked();
    ReleaseSRWLockExclusive(&StatusLock);
}

// One step of progress in a pending state; none in any other.
static void ReportProgress() {
    AcquireSRWLockExclusive(&StatusLock);
    if (IsPending(ServiceStatus.status.dwCurrentState)) {
        ++ServiceStatus.status.dwCheckPoint;
        ReportLocked();
    }
    ReleaseSRWLockExclusive(&StatusLock);
}

static void ReportCurrentStatus() {
    AcquireSRWLockExclusive(&StatusLock);
    ReportLocked();
    ReleaseSRWLockExclusive(&StatusLock);
}

// Stop pending for the first stop of a running kernel; false for any other
// (a stop during the start, or while a stop runs), which changes nothing.
static bool ReportStopPendingIfRunning() {
    AcquireSRWLockExclusive(&StatusLock);
    bool running = ServiceStatus.status.dwCurrentState == SERVICE_RUNNING;
    if (running) {
        SetStateLocked(SERVICE_STOP_PENDING, kAcceptsNothing);
        ReportLocked();
    }
    ReleaseSRWLockExclusive(&StatusLock);
    return running;
}

// ------------------------------------------------------------------ progress

// While the kernel's start or stop runs, a thread of its own moves the check
// point every 5 s. The start's owner is ServiceMain, the stop's the stop
// thread; the two never overlap. Without a thread there is no progress,
// and the work goes on all the same.
struct ProgressRecord {
    HANDLE ended;
    HANDLE thread;
};

static ProgressRecord Progress;

static DWORD WINAPI MoveCheckPoint(LPVOID) {
    for (int step = 0; step < kProgressSteps; ++step) {
        if (WaitForSingleObject(Progress.ended, kProgressInterval) != WAIT_TIMEOUT) return 0;
        ReportProgress();
    }
    return 0;
}

static void BeginProgress() {
    Progress.ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (Progress.ended == nullptr) return;
    Progress.thread = CreateThread(nullptr, 0, MoveCheckPoint, nullptr, 0, nullptr);
    if (Progress.thread != nullptr) return;
    CloseHandle(Progress.ended);
    Progress.ended = nullptr;
}

static void EndProgress() {
    if (Progress.thread == nullptr) return;
    SetEvent(Progress.ended);
    WaitForSingleObject(Progress.thread, INFINITE);
    CloseHandle(Progress.thread);
    CloseHandle(Progress.ended);
    Progress.thread = Progress.ended = nullptr;
}

// ---------------------------------------------------------------------- stop

// Who reports the stopped state after a stop: the handler when the stop
// ended within its wait, the stop thread when it ended after.
enum StopReporter { StopUndecided, StopEndedInTime, StopHandedOff };
static volatile LONG StopReport = StopUndecided;

// A stop that threw has been reported; it was asked for all the same, so it
// is no failure for the recovery actions. A VM that ended the process during
// the stop has claimed the end itself.
static void ReportStopEnded() {
    if (ClaimKernelEnd()) ReportStopped(0);
}

// The kernel's stop on a thread of the host's own, which attaches itself to
// the VM and leaves it again before it ends. However long the stop takes,
// the host waits for it.
static DWORD WINAPI StopOnOwnThread(LPVOID) {
    BeginProgress();
    StopKernel();
    DetachFromVm();
    EndProgress();
    if (InterlockedCompareExchange(&StopReport, StopEndedInTime, StopUndecided) == StopHandedOff) ReportStopEnded();
    return 0;
}

// Runs the stop and returns within 3 s: a quick stop is reported stopped
// before it returns, a longer one by the stop thread. Without a thread, the
// stop runs here, however long it takes.
static void StopTheKernel() {
    HANDLE thread = CreateThread(nullptr, 0, StopOnOwnThread, nullptr, 0, nullptr);
    if (thread == nullptr) {
        StopKernel();
        ReportStopEnded();
        return;
    }
    WaitForSingleObject(thread, kStopHandOff);
    CloseHandle(thread);
    if (InterlockedCompareExchange(&StopReport, StopHandedOff, StopUndecided) == StopEndedInTime) ReportStopEnded();
}

// ------------------------------------------------------------ service entries

// False when there is no handle to report on.
static bool RegisterHandler() {
    AcquireSRWLockExclusive(&StatusLock);
    ServiceStatus.status.dwServiceType = SERVICE_WIN32;
    ServiceStatus.handle = RegisterServiceCtrlHandlerExA(Profile.serviceName, ServiceCtrlHandler, nullptr);
    bool registered = ServiceStatus.handle != nullptr;
    ReleaseSRWLockExclusive(&StatusLock);
    return registered;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    if (!RegisterHandler()) return;
    SetFinalStatusReport(ReportStopped);
    // A start pending service accepts no control: a stop must not run
    // beside the kernel's start.
    ReportState(SERVICE_START_PENDING, kAcceptsNothing);
    BeginProgress();
    OpenOutputLog();  // before the VM's library loads
    bool started = StartKernel();
    EndProgress();
    // This thread ends when ServiceMain returns; the stop comes on a thread
    // that attaches itself.
    DetachFromVm();
    if (started) {
        ReportState(SERVICE_RUNNING, kAcceptedWhileRunning);
    } else if (ClaimKernelEnd()) {
        ReportStopped(kKernelStartFailedCode);
    }
}

DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_PRESHUTDOWN) {
        if (!ReportStopPendingIfRunning()) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        StopTheKernel();
        return NO_ERROR;
    }
    // Every other control, interrogate included, is answered with the
    // current record.
    ReportCurrentStatus();
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}
