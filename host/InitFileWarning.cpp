#include "InitFileWarning.h"

#include "Detail.h"
#include "ReportError.h"

static const char kInitFileMisread[] = "The init file is not read as it is written";

static void AppendLines(Detail* detail, long count) {
    AppendNumber(detail, count);
    AppendText(detail, count == 1 ? " line" : " lines");
}

static void AppendCutLines(Detail* detail, const InitFileMisreadings& misreadings) {
    int named = misreadings.cutLines < kMostCutLinesNamed ? misreadings.cutLines : kMostCutLinesNamed;
    AppendText(detail, named == 1 ? "\nline " : "\nlines ");
    for (int i = 0; i < named; ++i) {
        if (i > 0) AppendText(detail, i + 1 < misreadings.cutLines ? ", " : " and ");
        AppendNumber(detail, misreadings.cutLineNumbers[i]);
    }
    if (misreadings.cutLines > named) {
        AppendText(detail, " and ");
        AppendNumber(detail, misreadings.cutLines - named);
        AppendText(detail, " more");
    }
    AppendText(detail, misreadings.cutLines == 1
                           ? " is longer than 511 bytes: the start reads its bytes past the 511th as lines of their own"
                           : " are longer than 511 bytes: the start reads the bytes of each past the 511th as lines "
                             "of their own");
}

static void AppendPastLast(Detail* detail, const InitFileMisreadings& misreadings) {
    AppendText(detail, "\n");
    AppendNumber(detail, misreadings.optionsPastLast);
    AppendText(detail, misreadings.optionsPastLast == 1 ? " option past the 50th is ignored, on line "
                                                        : " options past the 50th are ignored, from line ");
    AppendNumber(detail, misreadings.firstLinePastLast);
    if (misreadings.optionsPastLast > 1) AppendText(detail, " on");
}

void WarnOfMisreadInitFile(const char* moduleDirectory, const char* initFileName,
                           const InitFileMisreadings& misreadings) {
    if (!InitFileIsMisread(misreadings)) return;
    // Its own: the start warns once, and no other report writes it.
    static Detail detail;
    ClearDetail(&detail);
    AppendAnsi(&detail, moduleDirectory);
    AppendAnsi(&detail, initFileName);
    if (misreadings.utf16) {
        AppendText(&detail, "\nsaved as UTF-16: the start reads none of its ");
        AppendLines(&detail, misreadings.utf16Lines);
        AppendText(&detail, "; save it as ANSI");
    }
    if (misreadings.optionBehindByteOrderMark)
        AppendText(&detail, "\nline 1 begins with a byte-order mark (UTF-8), which hides its option");
    if (misreadings.optionsPastLast > 0) AppendPastLast(&detail, misreadings);
    if (misreadings.cutLines > 0) AppendCutLines(&detail, misreadings);
    WriteEvent(InitFileMisread, kInitFileMisread, detail.text);
}
