#ifndef HOST_KERNEL_H
#define HOST_KERNEL_H

// Loads the VM, creates it, constructs the profile's kernel class and calls
// start. True only if start returned without an exception; every failure
// has been reported through ReportError once.
bool StartKernel();

// Calls the kernel's stop on the calling thread, attaching it to the VM
// first. Only after StartKernel returned true.
void StopKernel();

#endif
