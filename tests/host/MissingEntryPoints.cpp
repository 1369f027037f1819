// A VM library that lacks entry points: with WITH_DEFAULT_ARGS it has only
// JNI_GetDefaultJavaVMInitArgs, otherwise neither.
#define _JNI_IMPLEMENTATION_
#include <jni.h>

#ifdef WITH_DEFAULT_ARGS
extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) { return JNI_OK; }
#else
extern "C" JNIEXPORT jint JNICALL NotAnEntryPoint(void) { return JNI_OK; }
#endif
