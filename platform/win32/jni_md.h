#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

// Machine-dependent JNI definitions for Windows targets (i686 and x86_64).
// A Windows jvm.dll exports its invocation functions, and calls through its
// function tables, with the __stdcall convention; a caller that assumes
// cdecl leaves the stack unbalanced on every call on 32-bit Windows. On
// x86_64 the attribute is accepted and ignored (one convention).
// Integer widths follow the LLP64 model: long is 32 bits on both targets.

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
