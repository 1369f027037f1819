#ifndef HOST_THROWABLE_TEXT_H
#define HOST_THROWABLE_TEXT_H

#include <jni.h>

#include "Detail.h"

// Appends what the exception pending on env says, then leaves none pending.
// Returns false (and appends nothing) when no exception was pending.
//
// The text is the throwable's toString, then a line "Caused by: <toString>"
// for each cause (up to ten, and none twice); with withStackTrace a blank
// line and the trace as printStackTrace prints it follow. What the VM cannot
// tell (a toString that throws, no memory left) makes the text shorter.
bool AppendPendingThrowable(JNIEnv* env, Detail* detail, bool withStackTrace);

// The same for a throwable the caller holds (and has cleared); no exception
// is pending when it may be called, nor after.
void AppendThrowable(JNIEnv* env, Detail* detail, jthrowable throwable, bool withStackTrace);

// Whether object is an instance of the class (a JNI name, e.g.
// "java/lang/Error"); false also when the class cannot be found. No
// exception may be pending, and none is left.
bool IsInstanceOfClass(JNIEnv* env, jobject object, const char* className);

#endif
