#ifndef FRONT_CHECK_CHECKWRITER_H
#define FRONT_CHECK_CHECKWRITER_H

// The check's one writer: its lines on standard output, each marked as an
// information, a problem or a notice, and the tally of the problems, which
// the last line names. Every block writes through it.
#include <windows.h>

enum LineKind { InfoLine, ProblemLine, NoticeLine };

// The problems the last line names (the first few of them; all are counted).
enum { kMostProblemsNamed = 32, kProblemNameCapacity = 128 };

struct ProblemTally {
    char names[kMostProblemsNamed][kProblemNameCapacity];
    int problems;
};

// Starts a new report: no block written, no problem counted.
void BeginReport();

// A block's heading, a blank line before all but the first: `title`
// as it is, then `ansiName` in the console's code page.
void BeginBlock(const char* title, const char* ansiName);

// A line is written in pieces: its mark, then fixed text as it is and
// paths and options in the console's code page, then its end.
void BeginLine(LineKind kind);
void Say(const char* text);
void SayAnsi(const char* text);
void SayNumber(long number);
void EndLine();

// "Windows error N: the system's text", the insert filled with `insert`.
void SayWindowsError(DWORD error, const char* insert);
// "<call> failed: Windows error N: ..."
void SayFailedCall(const char* call, DWORD error);
// An option as the start's reports show it: each secret as **** (Secrets.h).
void SayOption(const char* option);

// Counts a problem and keeps its name (ASCII) for the last line.
void NameProblem(const char* name);
const ProblemTally& Tally();

#endif
