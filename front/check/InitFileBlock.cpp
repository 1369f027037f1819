// The block on the init file: what becomes of each line, read by the
// start's own reader through its observer.
#include "CheckBlocks.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CheckWriter.h"
#include "JvmOptions.h"
#include "ProductProfile.h"

// Lines listed for one init file; past them, a count. Problems are counted all the same.
enum { kMostInitFileLinesListed = 200 };

struct InitFileReading {
    int listed;
    int unlisted;
};

static bool IsWhitespace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\v' || byte == '\f';
}

static bool IsBlank(const char* text) {
    for (; *text != '\0'; ++text)
        if (!IsWhitespace(*text)) return false;
    return true;
}

// The text the start makes of a piece: its trailing whitespace removed.
static void Trimmed(const char* piece, char* text, size_t capacity) {
    size_t length = strlen(piece);
    if (length >= capacity) length = capacity - 1;
    while (length > 1 && IsWhitespace(piece[length - 1])) --length;
    memcpy(text, piece, length);
    text[length] = '\0';
}

static bool ListLine(InitFileReading* reading, LineKind kind, int line) {
    if (reading->listed >= kMostInitFileLinesListed) {
        ++reading->unlisted;
        return false;
    }
    ++reading->listed;
    BeginLine(kind);
    Say("line ");
    SayNumber(line);
    return true;
}

static void NameLineProblem(const char* what, int line) {
    char name[kProblemNameCapacity];
    snprintf(name, sizeof name, "init file line %d %s", line, what);
    NameProblem(name);
}

static void SayByteOrderMark(InitFileReading* reading, const InitFilePiece& piece) {
    const char* hidden = piece.text + 3;
    bool hidesOption = hidden[0] == '-';
    if (!ListLine(reading, hidesOption ? ProblemLine : NoticeLine, piece.line)) return;
    if (hidesOption) {
        char option[512];
        Trimmed(hidden, option, sizeof option);
        Say(" is ignored: it begins with a byte-order mark (a file saved as UTF-8 with BOM), which hides the option ");
        SayOption(option);
        NameLineProblem("hides an option behind a byte-order mark", piece.line);
    } else {
        Say(" is ignored: it does not begin with \"-\" (it begins with a byte-order mark)");
    }
    EndLine();
}

// A line of a file saved as UTF-16, as it would read saved as ANSI.
static void SayUtf16Line(InitFileReading* reading, const InitFilePiece& piece) {
    if (IsBlank(piece.text) || !ListLine(reading, InfoLine, piece.line)) return;
    char line[3 * 512];
    Trimmed(piece.text, line, sizeof line);
    Say(" would be: ");
    SayOption(line);
    EndLine();
}

// The reader's observer: one piece, judged.
static void SeePiece(const InitFilePiece& piece, void* context) {
    auto* reading = static_cast<InitFileReading*>(context);
    char option[512];
    Trimmed(piece.text, option, sizeof option);
    long firstByte = static_cast<long>(piece.piece - 1) * 511 + 1;
    if (piece.fate == PieceOfUtf16File) {
        SayUtf16Line(reading, piece);
    } else if (piece.byteOrderMark) {
        SayByteOrderMark(reading, piece);
    } else if (piece.fate == PiecePastLastOption) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(" is ignored: the start takes only the first 50 options of the init file: ");
            SayOption(option);
            EndLine();
        }
        NameLineProblem("is past the 50th option", piece.line);
    } else if (piece.fate == PieceBecameOption && piece.piece > 1) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(": its bytes from ");
            SayNumber(firstByte);
            Say(" on make an option of their own: ");
            SayOption(option);
            EndLine();
        }
        NameLineProblem("makes an option of its bytes past the 511th", piece.line);
    } else if (piece.fate == PieceBecameOption && piece.textGoesOn) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(" is longer than 511 bytes: the start takes its first 511 as the option ");
            SayOption(option);
            Say(", and the rest as lines of their own");
            EndLine();
        }
        NameLineProblem("is cut after 511 bytes", piece.line);
    } else if (piece.fate == PieceBecameOption) {
        if (ListLine(reading, InfoLine, piece.line)) {
            Say(": ");
            SayOption(option);
            EndLine();
        }
    } else if (piece.piece == 1 && !IsBlank(piece.text)) {
        // The rest of a line that is ignored, or of a cut option, adds nothing.
        if (ListLine(reading, NoticeLine, piece.line)) {
            Say(" is ignored: it does not begin with \"-\"");
            EndLine();
        }
    }
}

// Notepad's "Unicode" and Windows PowerShell 5.1's Out-File and ">" save
// UTF-16, which the start reads no option from.
static void SayUtf16(int lines) {
    BeginLine(ProblemLine);
    Say(Profile.initFileName);
    Say(" is saved as UTF-16: a start reads none of its ");
    SayNumber(lines);
    Say(lines == 1 ? " line" : " lines");
    Say("; save it as ANSI, e.g. `Set-Content -Encoding Default`");
    EndLine();
    NameProblem("the init file is saved as UTF-16");
}

void CheckInitFile(CheckContext* context) {
    const char* moduleDirectory = context->moduleDirectory;
    BeginBlock("The init file ", Profile.initFileName);
    SetCurrentDirectoryA(moduleDirectory);
    FILE* initFile = fopen(Profile.initFileName, "rb");
    if (initFile == nullptr) {
        BeginLine(NoticeLine);
        Say("there is none: it contributes no options");
        EndLine();
        return;
    }
    // Read twice, as the start reads it: first for what is said before the
    // lines, then line by line.
    InitFileMisreadings misreadings;
    char* options[MaxInitFileOptions];
    int count = ReadInitFileOptions(initFile, options, MaxInitFileOptions, nullptr, &misreadings);
    for (int i = 0; i < count; ++i) free(options[i]);
    if (misreadings.utf16) SayUtf16(misreadings.utf16Lines);
    rewind(initFile);
    InitFileReading reading = {0, 0};
    InitFileObserver observer = {SeePiece, &reading};
    count = ReadInitFileOptions(initFile, options, MaxInitFileOptions, &observer);
    fclose(initFile);
    for (int i = 0; i < count; ++i) free(options[i]);
    if (reading.unlisted > 0) {
        BeginLine(NoticeLine);
        SayNumber(reading.unlisted);
        Say(" more lines are not listed");
        EndLine();
    }
    BeginLine(InfoLine);
    int contributed = count >= 0 ? count : 0;
    SayNumber(contributed);
    Say(contributed == 1 ? " option from it" : " options from it");
    EndLine();
}
