#ifndef HOST_KERNEL_H
#define HOST_KERNEL_H

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

#endif
