// The check's writer and its tally of problems.
#include "CheckWriter.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Secrets.h"
#include "SystemText.h"

static ProblemTally Found;
static bool FirstBlock = true;

void BeginReport() {
    memset(&Found, 0, sizeof Found);
    FirstBlock = true;
}

void BeginBlock(const char* title, const char* ansiName) {
    if (!FirstBlock) Say("\n");
    FirstBlock = false;
    Say(title);
    SayAnsi(ansiName);
    EndLine();
}

void BeginLine(LineKind kind) {
    static const char* const kMarks[] = {"  ", "  problem: ", "  notice: "};
    fputs(kMarks[kind], stdout);
}

void Say(const char* text) { fputs(text, stdout); }
void SayAnsi(const char* text) { PrintAnsi(stdout, text); }
void SayNumber(long number) { printf("%ld", number); }
void EndLine() { fputs("\n", stdout); }

void SayWindowsError(DWORD error, const char* insert) {
    static char text[3 * 32768 + 1024];  // room for the longest path and the text around it
    Say("Windows error ");
    SayNumber(static_cast<long>(error));
    if (SystemText(error, insert, text, sizeof text) > 0) {
        Say(": ");
        SayAnsi(text);
    }
}

void SayFailedCall(const char* call, DWORD error) {
    Say(call);
    Say(" failed: ");
    SayWindowsError(error, nullptr);
}

// A buffer of its own for each option: the stack's for the usual ones, the
// heap's for a long boot class path.
void SayOption(const char* option) {
    char buffer[1024];
    size_t length = ShowOption(option, buffer, sizeof buffer);
    char* shown = length < sizeof buffer ? buffer : static_cast<char*>(malloc(length + 1));
    if (shown == nullptr) {
        Say("(no memory to show this option)");
        return;
    }
    if (shown != buffer) ShowOption(option, shown, length + 1);
    SayAnsi(shown);
    if (shown != buffer) free(shown);
}

void NameProblem(const char* name) {
    if (Found.problems < kMostProblemsNamed) snprintf(Found.names[Found.problems], kProblemNameCapacity, "%s", name);
    ++Found.problems;
}

const ProblemTally& Tally() { return Found; }
