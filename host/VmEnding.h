#ifndef HOST_VM_ENDING_H
#define HOST_VM_ENDING_H

#include <windows.h>

#include <jni.h>

#include "JvmOptions.h"

// The VM may end the process itself: a start-up error or a fatal error
// (abort), System.exit or Runtime.halt in the kernel (exit). Its "exit" and
// "abort" options call these hooks first, on any of its threads; each writes
// the event that the kernel's stage calls for, makes the service's final
// status report, and returns, so that the VM ends the process.
void JNICALL VmExitHook(jint code);
void JNICALL VmAbortHook(void);

// Where the kernel's life stands, for the hooks.
enum KernelStage {
    KernelNotCreated,    // nothing of the VM runs yet
    KernelCreating,      // inside JNI_CreateJavaVM with these options
    KernelFindingClass,  // the kernel class is looked up (its static initializer may run)
    KernelStarting,      // the kernel is constructed and its start runs
    KernelRunning,
    KernelStopping,  // a requested stop runs
};
void EnterKernelStage(KernelStage stage);
// The options the VM is being created with, for the create failure detail.
void NoteCreateOptions(const JvmOptionList* options);

// How the service makes its final status report, set by the service before
// the start; a console run sets none. serviceSpecificExitCode 0 is a clean
// stop; any other is a failure with that code.
typedef void (*FinalStatusReport)(DWORD serviceSpecificExitCode);
void SetFinalStatusReport(FinalStatusReport report);

// The service-specific exit code of a kernel that did not start; the reason
// is in the event log.
enum { kKernelStartFailedCode = 1 };

// True for the first caller only, whatever its thread: the one that
// reports how the kernel ended (one final status report and one event).
bool ClaimKernelEnd();

#endif
