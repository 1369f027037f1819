// The block on the service's output log: where it is, whether a service
// start can write it, and the size of each of its files.
#include "CheckBlocks.h"

#include <windows.h>

#include <stdio.h>

#include "CheckWriter.h"
#include "OutputLogFile.h"

static void SayLine(LineKind kind, const char* text) {
    BeginLine(kind);
    Say(text);
    EndLine();
}

// The size of each generation there is, newest first; false when none is.
static bool SaySizes(const OutputLogFile* log) {
    bool any = false;
    for (int generation = 0; generation <= kOutputLogGenerations; ++generation) {
        char path[kLogPathCapacity];
        WIN32_FIND_DATAA found;
        if (!OutputLogGeneration(log, generation, path, sizeof path)) continue;
        HANDLE search = FindFirstFileA(path, &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        FindClose(search);
        char size[32];
        snprintf(size, sizeof size, ": %llu bytes",
                 (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        BeginLine(InfoLine);
        SayAnsi(found.cFileName);
        Say(size);
        EndLine();
        any = true;
    }
    return any;
}

void CheckOutputLog(CheckContext* context) {
    OutputLogFile log;
    if (!NameOutputLog(&log, context->moduleDirectory)) {
        BeginBlock("The output log", "");
        SayLine(NoticeLine, "its path would be too long: a service start keeps no output log");
        return;
    }
    BeginBlock("The output log ", log.path);
    char why[2 * kLogPathCapacity + 512];
    bool missing = false;
    if (!JudgeOutputLogFolder(&log, &missing, why, sizeof why) || !JudgeOutputLogItself(&log, why, sizeof why)) {
        BeginLine(ProblemLine);
        SayAnsi(why);
        Say(": a service start keeps no output log, and says so in event 7");
        EndLine();
        NameProblem("the output log cannot be written");
        return;
    }
    if (missing) {
        SayLine(InfoLine, "its folder is not there yet: a service start makes it");
        return;
    }
    if (!SaySizes(&log)) SayLine(InfoLine, "nothing written yet");
}
