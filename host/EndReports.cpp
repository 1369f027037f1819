#include "EndReports.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Detail.h"
#include "ReportError.h"
#include "ThrowableText.h"
#include "VmOutput.h"

static const char kStopThrew[] = "Exception occurs stopping the Kernel";
static const char kVmExited[] = "The Java VM ended the process";
static const char kVmAborted[] = "The Java VM aborted";
static const char kNoDetail[] = "(no memory for the detail of this report)";

// A stack trace or the VM's text ends in a line break; the next line, the
// event and the console add their own.
static void TrimLineEnds(Detail* detail) {
    while (detail->length > 0 && !detail->cut &&
           (detail->text[detail->length - 1] == '\n' || detail->text[detail->length - 1] == '\r'))
        detail->text[--detail->length] = '\0';
}

// Each report builds its detail in one of its own (NewDetail); without one,
// the report still comes, saying so. Gives the detail back.
static void Report(Detail* detail, EventKind kind, const char* message) {
    if (detail == nullptr) {
        WriteEvent(kind, message, kNoDetail);
        return;
    }
    TrimLineEnds(detail);
    WriteEvent(kind, message, detail->text);
    FreeDetail(detail);
}

// ------------------------------------------------------------ the VM's error report

// HotSpot's own limit for the name of its error report.
enum { kReportPathCapacity = 2000 };

static const char kErrorFileOption[] = "-XX:ErrorFile=";

// The last -XX:ErrorFile the VM was handed, as HotSpot takes the last; null
// when none.
static const char* ErrorFileOption(const JvmOptionList* options) {
    const char* pattern = nullptr;
    for (jint i = 0; options != nullptr && options->options != nullptr && i < options->count; ++i) {
        const char* option = options->options[i].optionString;
        if (option != nullptr && strncmp(option, kErrorFileOption, sizeof kErrorFileOption - 1) == 0)
            pattern = option + sizeof kErrorFileOption - 1;
    }
    return pattern != nullptr && pattern[0] != '\0' ? pattern : nullptr;
}

// Appends text to the path being built in `path`; false when it does not fit.
static bool Put(char* path, size_t* length, const char* text, size_t count) {
    if (*length + count >= kReportPathCapacity) return false;
    memcpy(path + *length, text, count);
    *length += count;
    path[*length] = '\0';
    return true;
}

// The file name as HotSpot makes it from -XX:ErrorFile: %p is the process
// id, %% a percent sign; any other % stays as it is.
static bool PutExpanded(char* path, size_t* length, const char* pattern) {
    char pid[16];
    int pidLength = snprintf(pid, sizeof pid, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    for (const char* at = pattern; *at != '\0'; ++at) {
        bool fits = at[0] == '%' && at[1] == 'p'   ? Put(path, length, pid, static_cast<size_t>(pidLength))
                    : at[0] == '%' && at[1] == '%' ? Put(path, length, "%", 1)
                                                   : Put(path, length, at, 1);
        if (!fits) return false;
        if (at[0] == '%' && (at[1] == 'p' || at[1] == '%')) ++at;
    }
    return true;
}

// The working folder, then the temp folder, as HotSpot tries them.
enum ReportPlace { ErrorFilePlace, WorkingFolder, TempFolder };

static bool IsAbsolute(const char* path) {
    return path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
}

// Puts a folder and the separator after it.
static bool PutFolder(char* path, size_t* length, ReportPlace place) {
    char folder[MAX_PATH + 1];
    DWORD folderLength =
        place == TempFolder ? GetTempPathA(sizeof folder, folder) : GetCurrentDirectoryA(sizeof folder, folder);
    if (folderLength == 0 || folderLength >= sizeof folder) return false;
    if (!Put(path, length, folder, folderLength)) return false;
    return folder[folderLength - 1] == '\\' || Put(path, length, "\\", 1);
}

// Where HotSpot writes its report in `place`: the -XX:ErrorFile name (a
// relative one below the working folder), or hs_err_pid<pid>.log in the
// folder. False when the path cannot be made.
static bool ReportPath(ReportPlace place, const char* pattern, char* path) {
    size_t length = 0;
    path[0] = '\0';
    if (place == ErrorFilePlace) {
        if (!IsAbsolute(pattern) && !PutFolder(path, &length, WorkingFolder)) return false;
        return PutExpanded(path, &length, pattern);
    }
    return PutFolder(path, &length, place) && PutExpanded(path, &length, "hs_err_pid%p.log");
}

static bool IsFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// HotSpot writes its error report to -XX:ErrorFile, or without one into the
// working folder; where it cannot, into the temp folder. The detail names
// the one that is there, or all it looked for.
static void AppendErrorReportPlace(Detail* detail, const JvmOptionList* options) {
    const char* pattern = ErrorFileOption(options);
    const ReportPlace places[2] = {pattern != nullptr ? ErrorFilePlace : WorkingFolder, TempFolder};
    char path[kReportPathCapacity];
    for (ReportPlace place : places) {
        if (ReportPath(place, pattern, path) && IsFile(path)) {
            AppendText(detail, "\nIts error report: ");
            AppendAnsi(detail, path);
            return;
        }
    }
    AppendText(detail, "\nIts error report was not found; looked for ");
    for (ReportPlace place : places) {
        if (place == TempFolder) AppendText(detail, " and ");
        if (ReportPath(place, pattern, path)) {
            AppendAnsi(detail, path);
        } else {
            AppendText(detail, "(a path too long to name)");
        }
    }
}

// ------------------------------------------------------------ the reports

void ReportVmEnded(bool stopping, bool aborted, jint exitCode, const JvmOptionList* options) {
    Detail* detail = NewDetail();
    bool clean = !aborted && exitCode == 0;
    EventKind kind = clean ? VmExitedCleanly : VmEndedProcess;
    const char* message = aborted ? kVmAborted : kVmExited;
    if (detail == nullptr) return Report(nullptr, kind, message);
    if (aborted) {
        AppendText(detail, "The Java VM aborted");
    } else {
        AppendText(detail, "The Java VM ended the process with exit code ");
        AppendNumber(detail, exitCode);
    }
    AppendText(detail, stopping ? " while the kernel's stop ran." : " while the kernel was running.");
    size_t before = detail->length;
    AppendText(detail, "\nWhat it printed last:\n");
    if (!AppendVmOutputTail(detail)) {
        detail->length = before;
        detail->text[before] = '\0';
    }
    if (aborted) {
        TrimLineEnds(detail);
        AppendErrorReportPlace(detail, options);
    }
    Report(detail, kind, message);
}

void ReportStopThrew(JNIEnv* env) {
    Detail* detail = NewDetail();
    if (detail == nullptr) {
        env->ExceptionClear();
        return Report(nullptr, KernelStopFailed, kStopThrew);
    }
    if (!AppendPendingThrowable(env, detail, true)) AppendText(detail, "(the VM gave no reason)");
    Report(detail, KernelStopFailed, kStopThrew);
}
