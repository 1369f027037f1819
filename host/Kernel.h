#ifndef HOST_KERNEL_H
#define HOST_KERNEL_H

#include <jni.h>

// Handles of the running kernel, filled by StartKernel and used by
// StopKernel, possibly on another thread. Process-wide; never cleared.
// kernel is a global reference, valid on every thread; env is the
// interface pointer of the thread that made the last StartKernel or
// StopKernel call.
struct KernelBinding {
    JavaVM* vm;
    JNIEnv* env;
    jclass kernelClass;
    jmethodID constructorId;
    jmethodID startId;
    jmethodID stopId;
    jobject kernel;
};

extern KernelBinding Kernel;

// Loads the VM, creates it, constructs the profile's kernel class and calls
// start. True only if start returned without an exception; every failure
// has been reported through ReportError once.
bool StartKernel();

// Calls the kernel's stop on the calling thread, attaching it to the VM
// first. Only after StartKernel returned true.
void StopKernel();

#endif
