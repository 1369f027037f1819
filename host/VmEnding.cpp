#include "VmEnding.h"

#include "EndReports.h"
#include "StartFailures.h"

// Written by the thread that starts the kernel and by the stop; read by the
// hooks on whichever thread the VM calls them.
struct KernelEndRecord {
    volatile LONG stage;
    const JvmOptionList* createOptions;
    FinalStatusReport finalStatusReport;
    volatile LONG claimed;
};

static KernelEndRecord KernelEnd;

void EnterKernelStage(KernelStage stage) { InterlockedExchange(&KernelEnd.stage, static_cast<LONG>(stage)); }

void NoteCreateOptions(const JvmOptionList* options) { KernelEnd.createOptions = options; }

void SetFinalStatusReport(FinalStatusReport report) { KernelEnd.finalStatusReport = report; }

bool ClaimKernelEnd() { return InterlockedCompareExchange(&KernelEnd.claimed, 1, 0) == 0; }

static void ReportFinalStatus(DWORD serviceSpecificExitCode) {
    if (KernelEnd.finalStatusReport != nullptr) KernelEnd.finalStatusReport(serviceSpecificExitCode);
}

static void HandleVmEnding(bool aborted, jint code) {
    if (!ClaimKernelEnd()) return;
    switch (static_cast<KernelStage>(KernelEnd.stage)) {
        case KernelNotCreated:
            return;
        case KernelCreating:
            ReportCreateEnded(KernelEnd.createOptions, aborted, code);
            ReportFinalStatus(kKernelStartFailedCode);
            return;
        case KernelFindingClass:
        case KernelStarting:
            ReportStartEnded(KernelEnd.stage == KernelFindingClass, aborted, code);
            ReportFinalStatus(kKernelStartFailedCode);
            return;
        case KernelRunning:
            ReportVmEnded(false, aborted, code, KernelEnd.createOptions);
            // An abort is a crash, and the service manager must see one, so
            // that its recovery actions for crashes apply.
            if (!aborted) ReportFinalStatus(static_cast<DWORD>(code));
            return;
        case KernelStopping:
            // The stop was asked for: whatever the VM ends with, no recovery.
            if (aborted || code != 0) ReportVmEnded(true, aborted, code, KernelEnd.createOptions);
            ReportFinalStatus(0);
            return;
    }
}

void JNICALL VmExitHook(jint code) { HandleVmEnding(false, code); }

void JNICALL VmAbortHook(void) { HandleVmEnding(true, 0); }
