#ifndef HOST_START_FAILURES_H
#define HOST_START_FAILURES_H

#include <jni.h>
#include <windows.h>

#include "JvmOptions.h"

// Every way a kernel start can fail, each reported once through
// ReportError: the fixed message, and a detail with what an administrator
// needs to act on it. Nothing here runs on a good start.

// LoadLibraryA failed with `error` (libraryPath null: none was tried).
void ReportLoadFailure(const char* moduleDirectory, const char* libraryPath, DWORD error);
// The library lacks `missingExport`, or (missingExport null) answered
// `result` when asked for JNI 1.4 defaults.
void ReportDefaultArgsFailure(const char* libraryPath, const char* missingExport, jint result);
// JNI_CreateJavaVM is missing (missingExport), the options could not be
// assembled (options.options null), or the VM answered `result`.
void ReportCreateFailure(const char* libraryPath, const char* missingExport, const JvmOptionList& options, jint result);
// The VM ended the process itself (aborted, or exited with exitCode) while
// it was being created with `options` (null: not known), or during the
// kernel's start: while its class was looked up, or while it was
// constructed or started. The detail gives what the VM printed.
void ReportCreateEnded(const JvmOptionList* options, bool aborted, jint exitCode);
void ReportStartEnded(bool findingClass, bool aborted, jint exitCode);
// FindClass found nothing, or the class's static initializer threw; the
// pending exception says which and why, and is cleared.
void ReportClassNotFound(JNIEnv* env, const char* className);
// Any of the three is null.
void ReportMissingMethods(const char* className, jmethodID constructorId, jmethodID startId, jmethodID stopId);
// The constructor or start threw (the exception is cleared), or the
// constructor gave no object and no exception.
void ReportStartThrew(JNIEnv* env);

#endif
