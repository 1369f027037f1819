#ifndef HOST_KERNEL_H
#define HOST_KERNEL_H

#include <windows.h>

#include "JvmOptions.h"

// Loads the VM, creates it, constructs the profile's kernel class and calls
// start. True only if start returned without an exception; every failure
// has been reported through ReportError once.
bool StartKernel();

// The calling thread leaves the VM, if one was created. JNI requires a
// native thread that is attached to detach before it ends: the service
// thread that ran StartKernel calls this before it returns.
void DetachFromVm();

// Calls the kernel's stop on the calling thread, attaching it to the VM
// first. Only after StartKernel returned true. False when the stop threw:
// that has been reported once, and the exception cleared.
bool StopKernel();

// What a check of the installation asks, the way the start asks it.

// The VM library's path below the module directory (which ends in a
// backslash), in a heap block; null when the directory is unknown or
// memory is short.
char* BuildLibraryPath(const char* moduleDirectory);

// The start's questions to a loaded VM library before it creates a VM: its
// default arguments at JNI 1.4 (into args), then whether it knows JNI 9.
enum VmLibraryAnswer {
    VmLibraryAnswered,
    VmLibraryLacksDefaultArgs,    // no export JNI_GetDefaultJavaVMInitArgs
    VmLibraryRefusedDefaultArgs,  // *result says how
};
VmLibraryAnswer AskVmLibrary(HMODULE library, JavaVMInitArgs* args, jint* result, VmGeneration* generation);

// The options the start hands to a VM of this generation, hooks included;
// misreadings, when given, tells where the init file is read otherwise
// than it is written.
JvmOptionList BuildStartOptions(const char* moduleDirectory, VmGeneration generation,
                                InitFileMisreadings* misreadings = nullptr);

#endif
