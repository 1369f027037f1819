// The check's writer and its tally of problems.
#include "CheckWriter.h"

#include <stdio.h>
#include <string.h>

#include "JvmOptions.h"
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

void SayOption(const char* option) {
    size_t shown = ShownSecretOptionLength(option);
    if (shown == 0) {
        SayAnsi(option);
        return;
    }
    char visible[512];
    if (shown >= sizeof visible) shown = sizeof visible - 1;
    memcpy(visible, option, shown);
    visible[shown] = '\0';
    SayAnsi(visible);
    Say("****");
}

void NameProblem(const char* name) {
    if (Found.problems < kMostProblemsNamed) snprintf(Found.names[Found.problems], kProblemNameCapacity, "%s", name);
    ++Found.problems;
}

const ProblemTally& Tally() { return Found; }
