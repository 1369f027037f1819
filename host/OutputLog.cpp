#include "OutputLog.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LaunchLayout.h"
#include "OutputLogFile.h"
#include "ReportError.h"
#include "VmOutput.h"

// The pipe holds what was written while the drain thread sleeps: it looks
// again within 10 ms, sooner while output keeps coming.
enum { kPipeSize = 1024 * 1024, kChunkSize = 64 * 1024, kLongestIdleMs = 10 };
// How long an end waits for the log: the VM is ending the process.
enum { kFlushPatienceMs = 2000 };

static const char kUnavailable[] = "The output log cannot be written";

// The file, the pipe's reading end and the chunk are used only by whoever
// holds `busy`: the drain thread, a flush or an end. Writers of output never
// take it: they write into the pipe.
struct OutputLogRecord {
    OutputLogFile file;
    HANDLE pipeRead;
    HANDLE pipeWrite;
    HANDLE drainThread;
    char chunk[kChunkSize];
    volatile LONG busy;
    volatile LONG open;
    volatile LONG draining;
    volatile LONG ended;
    volatile LONG flushesWaiting;  // the drain thread lets them have the lock
    const char* startFailure;      // a start failure's fixed message
    volatile LONG vmEnded;
    volatile LONG vmAborted;
    volatile LONG vmExitCode;
};

static OutputLogRecord Log;

// ------------------------------------------------------------ the lock

// False when it was not free within `patience` ms (a writer stuck on the
// file): an end must not wait longer than that.
static bool TakeLog(DWORD patience) {
    DWORD began = GetTickCount();
    while (InterlockedCompareExchange(&Log.busy, 1, 0) != 0) {
        if (GetTickCount() - began >= patience) return false;
        Sleep(1);
    }
    return true;
}

static void LeaveLog() { InterlockedExchange(&Log.busy, 0); }

// ------------------------------------------------------------ draining

// Moves what waits in the pipe into the log, and into the tail the end
// reports show; stops after `patience` ms from `began` (a tick count) when
// output keeps coming. The caller holds the lock. True when there was any.
static bool DrainWaiting(DWORD began, DWORD patience) {
    bool moved = false;
    for (;;) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(Log.pipeRead, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) return moved;
        DWORD got = 0;
        if (!ReadFile(Log.pipeRead, Log.chunk, waiting < sizeof Log.chunk ? waiting : sizeof Log.chunk, &got,
                      nullptr) ||
            got == 0)
            return moved;
        WriteOutput(&Log.file, Log.chunk, got);
        KeepVmOutputTail(Log.chunk, got);
        moved = true;
        if (GetTickCount() - began >= patience) return moved;
    }
}

// One chunk at a time, so that a flush that waits for the lock gets it
// between two chunks however much keeps coming.
static DWORD WINAPI DrainIntoLog(LPVOID) {
    DWORD idle = 0;
    while (Log.draining != 0) {
        bool moved = false;
        if (TakeLog(INFINITE)) {
            moved = DrainWaiting(GetTickCount(), 0);
            LeaveLog();
        }
        idle = moved ? 0 : idle < kLongestIdleMs ? idle + 1 : idle;
        Sleep(Log.flushesWaiting != 0 ? 1 : idle);
    }
    return 0;
}

// The vfprintf hook's text joins the output where it was written.
static void SendToPipe(const char* text, size_t length) {
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(Log.pipeWrite, text, static_cast<DWORD>(length), &written, nullptr) || written == 0) return;
        text += written;
        length -= written;
    }
}

// ------------------------------------------------------------ opening

static void WarnLogUnavailable(const char* why) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return WriteEvent(OutputLogUnavailable, kUnavailable, why);
    AppendAnsi(detail, why);
    AppendText(detail, ".\nThe service starts without it: what the kernel and the VM print is not kept.");
    WriteEvent(OutputLogUnavailable, kUnavailable, detail->text);
    FreeDetail(detail);
}

static bool OpenFile(char* why, size_t capacity) {
    char* moduleDirectory = GetModuleDirectory();
    bool named = NameOutputLog(&Log.file, moduleDirectory);
    free(moduleDirectory);
    if (!named) {
        snprintf(why, capacity, "The program's folder is not known, or its path is too long for the log's");
        return false;
    }
    return OpenOutputLogFile(&Log.file, why, capacity);
}

// The drain thread runs before anything is pointed at the pipe: a pipe
// that nobody empties would stop every writer once it is full.
static bool StartPipe(char* why, size_t capacity) {
    if (!CreatePipe(&Log.pipeRead, &Log.pipeWrite, nullptr, kPipeSize)) {
        snprintf(why, capacity, "No pipe for the output: Windows error %lu",
                 static_cast<unsigned long>(GetLastError()));
        return false;
    }
    Log.draining = 1;
    Log.drainThread = CreateThread(nullptr, 0, DrainIntoLog, nullptr, 0, nullptr);
    if (Log.drainThread == nullptr) {
        snprintf(why, capacity, "No thread to write the output log: Windows error %lu",
                 static_cast<unsigned long>(GetLastError()));
        CloseHandle(Log.pipeRead);
        CloseHandle(Log.pipeWrite);
        return false;
    }
    return true;
}

// The host's own C runtime took its descriptors 1 and 2 from the standard
// handles at start-up; a VM built on the same system runtime writes through
// them (as HotSpot writes its fatal-error banner, with write on descriptor
// 1). Its stdout and stderr streams stay where they were: a process without
// a console starts them on no descriptor at all. The descriptor made here
// takes the pipe's handle over and stays open, as the pipe does, for the
// life of the process.
static void PointCrtAtPipe() {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(Log.pipeWrite), _O_WRONLY | _O_TEXT);
    if (descriptor < 0) return;
    _dup2(descriptor, 1);
    _dup2(descriptor, 2);
}

void OpenOutputLog() {
    char why[2 * kLogPathCapacity + 512];
    if (!OpenFile(why, sizeof why)) return WarnLogUnavailable(why);
    if (!StartPipe(why, sizeof why)) {
        CloseOutputLogFile(&Log.file);
        return WarnLogUnavailable(why);
    }
    TakeLog(INFINITE);
    WriteHostLine(&Log.file, "started");
    LeaveLog();
    // Java's System.out and System.err and the VM's C runtime take their
    // handles when the VM's library loads, after this.
    SetStdHandle(STD_OUTPUT_HANDLE, Log.pipeWrite);
    SetStdHandle(STD_ERROR_HANDLE, Log.pipeWrite);
    PointCrtAtPipe();
    SendVmOutputTo(SendToPipe);
    InterlockedExchange(&Log.open, 1);
}

// ------------------------------------------------------------ flushing and ending

// Holds the lock on return when it returns true.
static bool TakeAndDrain() {
    DWORD began = GetTickCount();
    InterlockedExchangeAdd(&Log.flushesWaiting, 1);
    bool taken = TakeLog(kFlushPatienceMs);
    InterlockedExchangeAdd(&Log.flushesWaiting, -1);
    if (taken) DrainWaiting(began, kFlushPatienceMs);
    return taken;
}

void FlushOutputLog() {
    if (Log.open == 0 || !TakeAndDrain()) return;
    LeaveLog();
}

void NoteStartFailureInOutputLog(const char* message) { Log.startFailure = message; }

void NoteVmEndingInOutputLog(bool aborted, jint exitCode) {
    InterlockedExchange(&Log.vmExitCode, exitCode);
    InterlockedExchange(&Log.vmAborted, aborted ? 1 : 0);
    InterlockedExchange(&Log.vmEnded, 1);
}

static void DescribeEnd(char* text, size_t capacity) {
    char vm[64];
    if (Log.vmAborted != 0) {
        snprintf(vm, sizeof vm, "the VM aborted");
    } else {
        snprintf(vm, sizeof vm, "the VM exited with code %ld", static_cast<long>(Log.vmExitCode));
    }
    if (Log.startFailure != nullptr) {
        snprintf(text, capacity, "the start failed: %s%s%s%s", Log.startFailure, Log.vmEnded != 0 ? " (" : "",
                 Log.vmEnded != 0 ? vm : "", Log.vmEnded != 0 ? ")" : "");
    } else {
        snprintf(text, capacity, "%s", Log.vmEnded != 0 ? vm : "stopped");
    }
}

void EndOutputLog() {
    if (Log.open == 0 || InterlockedExchange(&Log.ended, 1) != 0 || !TakeAndDrain()) return;
    char what[256];
    DescribeEnd(what, sizeof what);
    WriteHostLine(&Log.file, what);
    LeaveLog();
}

void AppendOutputLogPath(Detail* detail) {
    if (Log.open == 0 || !TakeAndDrain()) return;
    bool holdsOutput = Log.file.holdsOutput;
    LeaveLog();
    if (!holdsOutput) return;
    AppendText(detail, "\nThe output log: ");
    AppendAnsi(detail, Log.file.path);
}

void CloseOutputLog() {
    if (Log.open == 0) return;
    InterlockedExchange(&Log.open, 0);
    SendVmOutputTo(nullptr);
    InterlockedExchange(&Log.draining, 0);
    WaitForSingleObject(Log.drainThread, INFINITE);
    CloseHandle(Log.drainThread);
    CloseHandle(Log.pipeRead);
    CloseHandle(Log.pipeWrite);
    CloseOutputLogFile(&Log.file);
    memset(&Log, 0, sizeof Log);
}
