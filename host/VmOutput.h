#ifndef HOST_VM_OUTPUT_H
#define HOST_VM_OUTPUT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include <jni.h>

#include "Detail.h"

// What the VM itself prints (its start-up errors, warnings, unified logging
// to stdout) reaches the host through the "vfprintf" option instead of the
// VM's own C runtime. The host keeps the first kVmStartOutputCapacity bytes
// printed until the kernel has started, for the failure details, and the
// newest kVmOutputTailCapacity bytes of what comes after, however much that
// is, for a VM that aborts later. The hook may be called on any of the VM's
// threads, and none of them waits for another.
enum { kVmStartOutputCapacity = 16 * 1024, kVmOutputTailCapacity = 2048 };

// The hook: formats with the host's own C runtime (the VM's FILE* is never
// touched) and keeps or shows the text. Returns the number of bytes printed.
jint JNICALL VmPrintHook(FILE* vmStream, const char* format, va_list arguments);

// A console run: the VM's words are also printed on standard error as they come.
void EchoVmOutputOnConsole();

// The kernel has started: what the VM prints from now on goes to the tail only.
void EndVmStartOutput();

// Whether the VM printed anything before the kernel started.
bool VmPrintedBeforeStart();

// Appends what the VM printed before the start (cut visibly past the
// capacity), or the tail of what it printed since; false, appending
// nothing, when it printed nothing there. Bytes that a writer has reserved
// but not yet copied are left out, and nothing after them.
bool AppendVmStartOutput(Detail* detail);
bool AppendVmOutputTail(Detail* detail);

// For tests: what the VM printed is forgotten, as before a VM's start, and
// the tail counts on from `tailPrinted` bytes, as if that many had passed.
void RestartVmOutput(unsigned long tailPrinted);
// For tests, the two steps by which text goes into the tail: a writer
// reserves its bytes, then copies them into what it reserved. Reserve
// returns where the copy goes.
unsigned long ReserveVmOutputTail(size_t length);
void CopyIntoVmOutputTail(unsigned long at, const char* text, size_t length);

#endif
