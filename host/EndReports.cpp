#include "EndReports.h"

#include <windows.h>

#include "Detail.h"
#include "ReportError.h"
#include "ThrowableText.h"
#include "VmOutput.h"

static const char kStopThrew[] = "Exception occurs stopping the Kernel";
static const char kVmExited[] = "The Java VM ended the process";
static const char kVmAborted[] = "The Java VM aborted";

static Detail EndDetail;

// A stack trace or the VM's text ends in a line break; the next line, the
// event and the console add their own.
static void TrimLineEnds() {
    while (EndDetail.length > 0 && !EndDetail.cut &&
           (EndDetail.text[EndDetail.length - 1] == '\n' || EndDetail.text[EndDetail.length - 1] == '\r'))
        EndDetail.text[--EndDetail.length] = '\0';
}

static void Report(EventKind kind, const char* message) {
    TrimLineEnds();
    WriteEvent(kind, message, EndDetail.text);
}

// HotSpot writes its error report into the working directory, which is the
// program's own from the start on.
static void AppendErrorReportPlace() {
    AppendText(&EndDetail, "\nIts error report, hs_err_pid");
    AppendNumber(&EndDetail, static_cast<long>(GetCurrentProcessId()));
    AppendText(&EndDetail, ".log, is normally in ");
    char directory[1024];
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length > 0 && length < sizeof directory) {
        AppendAnsi(&EndDetail, directory);
        AppendText(&EndDetail, ", the program's directory.");
    } else {
        AppendText(&EndDetail, "the program's directory.");
    }
}

void ReportVmEnded(bool stopping, bool aborted, jint exitCode) {
    ClearDetail(&EndDetail);
    if (aborted) {
        AppendText(&EndDetail, "The Java VM aborted");
    } else {
        AppendText(&EndDetail, "The Java VM ended the process with exit code ");
        AppendNumber(&EndDetail, exitCode);
    }
    AppendText(&EndDetail, stopping ? " while the kernel's stop ran." : " while the kernel was running.");
    size_t before = EndDetail.length;
    AppendText(&EndDetail, "\nWhat it printed last:\n");
    if (!AppendVmOutputTail(&EndDetail)) {
        EndDetail.length = before;
        EndDetail.text[before] = '\0';
    }
    if (aborted) {
        TrimLineEnds();
        AppendErrorReportPlace();
    }
    bool clean = !aborted && exitCode == 0;
    Report(clean ? VmExitedCleanly : VmEndedProcess, aborted ? kVmAborted : kVmExited);
}

void ReportStopThrew(JNIEnv* env) {
    ClearDetail(&EndDetail);
    if (!AppendPendingThrowable(env, &EndDetail, true)) AppendText(&EndDetail, "(the VM gave no reason)");
    Report(KernelStopFailed, kStopThrew);
}
