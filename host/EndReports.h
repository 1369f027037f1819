#ifndef HOST_END_REPORTS_H
#define HOST_END_REPORTS_H

#include <jni.h>

#include "JvmOptions.h"

// How a kernel that started came to its end, when that is worth an event:
// each is reported once, with the fixed message and a detail to act on.

// The VM ended the process itself (aborted, or exited with exitCode) while
// the kernel ran, or while a requested stop ran. An abort's detail names
// where the VM's error report is, found by the options it was created with.
void ReportVmEnded(bool stopping, bool aborted, jint exitCode, const JvmOptionList* options);

// The kernel's stop threw; the exception is cleared.
void ReportStopThrew(JNIEnv* env);

#endif
