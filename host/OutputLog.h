#ifndef HOST_OUTPUT_LOG_H
#define HOST_OUTPUT_LOG_H

#include <jni.h>

#include "Detail.h"

// A service has no console: what the kernel prints (System.out and
// System.err), what the VM prints through its C runtime (its fatal-error
// banner among it) and what it prints through the vfprintf hook all go into
// one pipe, which a thread of the host's own empties into the output log
// (OutputLogFile.h), in the order it was written. The same thread feeds the
// tail of the VM's output that the end reports show. A console run keeps its
// console and has no log.

// Service mode, before the VM's library is loaded: opens the log, writes the
// start line and points the standard output and error there. When the log
// cannot be written, a warning event (7) says why, and the start goes on.
void OpenOutputLog();

// Empties the pipe into the log, within a bounded time: the VM is about to
// end the process, or a report is to name the log.
void FlushOutputLog();

// How the run ended, for the end line.
void NoteStartFailureInOutputLog(const char* message);
void NoteVmEndingInOutputLog(bool aborted, jint exitCode);

// Once, from whoever ends the run: empties the pipe and writes the end line
// (stopped; the VM exited with code N; the VM aborted; the start failed).
void EndOutputLog();

// Ends a report's detail with the log's path, when the log holds output of
// this run.
void AppendOutputLogPath(Detail* detail);

// For tests: stops the thread and closes the pipe and the log, after the
// test has put its standard output and error back.
void CloseOutputLog();

#endif
