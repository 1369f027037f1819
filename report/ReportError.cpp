#include "ReportError.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ProductProfile.h"
#include "Secrets.h"
#include "SystemText.h"

static const WORD kEventCategory = 1;  // "Kernel"

// The type and message-table id of each kind of event.
static const struct {
    WORD type;
    DWORD eventId;
} kEvents[] = {
    {EVENTLOG_ERROR_TYPE, 2},        // KernelStartFailed
    {EVENTLOG_ERROR_TYPE, 3},        // KernelStopFailed
    {EVENTLOG_ERROR_TYPE, 4},        // VmEndedProcess
    {EVENTLOG_INFORMATION_TYPE, 4},  // VmExitedCleanly
    {EVENTLOG_WARNING_TYPE, 5},      // OthersCanChange
    {EVENTLOG_WARNING_TYPE, 6},      // InitFileMisread
};

static bool ShowingErrors = false;

void ShowErrorsOnConsole() { ShowingErrors = true; }

// Texts are converted through buffers of each call's own: reports may be made
// on several threads at once. A short text needs no memory.
enum { kShortUnits = 256 };

// The longest start of `utf8`, at most `limit` bytes, that ends on a
// character boundary.
static int WholeCharacters(const char* utf8, int limit) {
    while (limit > 0 && (static_cast<unsigned char>(utf8[limit]) & 0xC0) == 0x80) --limit;
    return limit;
}

// Prints UTF-16 text converted to the console's code page, piece by piece,
// no piece splitting a surrogate pair; what the code page cannot show becomes '?'.
static void PrintConverted(FILE* stream, LPCWSTR wide) {
    unsigned int codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = CP_ACP;
    const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
    int left = 0;
    while (wide[left] != 0) ++left;
    while (left > 0) {
        int piece = left < kShortUnits ? left : kShortUnits;
        if (piece < left && wide[piece - 1] >= 0xD800 && wide[piece - 1] <= 0xDBFF) --piece;
        // A UTF-16 unit takes at most three bytes in any code page.
        char shown[3 * kShortUnits];
        int bytes = WideCharToMultiByte(codePage, 0, wide, piece, shown, sizeof shown, fallback, nullptr);
        fwrite(shown, 1, static_cast<size_t>(bytes > 0 ? bytes : 0), stream);
        wide += piece;
        left -= piece;
    }
}

static void PrintFailure(FILE* stream, const char* message, LPCWSTR detail) {
    fprintf(stream, "%s\n", message);
    if (detail[0] != 0) {
        PrintConverted(stream, detail);
        fputs("\n", stream);
    }
    fflush(stream);  // the echo must not trail behind later console output
}

// The event strings go in UTF-16, so that text no code page holds arrives
// whole: in `small` when it fits, else in a heap block that *block holds for
// the caller to free; without memory, as much of its start as `small` holds.
static LPCWSTR Widened(const char* utf8, WCHAR* small, WCHAR** block) {
    *block = nullptr;
    small[0] = 0;
    if (utf8 == nullptr || utf8[0] == '\0') return small;
    int length = static_cast<int>(strlen(utf8));
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (units > kShortUnits) *block = static_cast<WCHAR*>(malloc(static_cast<size_t>(units) * sizeof(WCHAR)));
    if (*block != nullptr && MultiByteToWideChar(CP_UTF8, 0, utf8, -1, *block, units) == units) return *block;
    int piece = length < kShortUnits ? length : WholeCharacters(utf8, kShortUnits - 1);
    int converted = MultiByteToWideChar(CP_UTF8, 0, utf8, piece, small, kShortUnits - 1);
    small[converted > 0 ? converted : 0] = 0;
    return small;
}

void WriteEvent(EventKind kind, const char* message, const char* detail) {
    WCHAR shortMessage[kShortUnits];
    WCHAR shortDetail[kShortUnits];
    WCHAR* messageBlock;
    WCHAR* detailBlock;
    LPCWSTR strings[2] = {Widened(message, shortMessage, &messageBlock), Widened(detail, shortDetail, &detailBlock)};
    // The detail as it is shown, on the console and in the event: the
    // start's secrets masked wherever they appear in it.
    MaskKnownSecrets(const_cast<WCHAR*>(strings[1]));
    if (Profile.echoErrors) {
        PrintFailure(stdout, message, strings[1]);
    } else if (ShowingErrors) {
        PrintFailure(stderr, message, strings[1]);
    }
    // Registered again on every call: a report is rare and nothing is cached.
    HANDLE eventSource = RegisterEventSourceA(nullptr, Profile.serviceName);
    ReportEventW(eventSource, kEvents[kind].type, kEventCategory, kEvents[kind].eventId, nullptr, 2, 0, strings,
                 nullptr);
    if (eventSource != nullptr) DeregisterEventSource(eventSource);
    free(messageBlock);
    free(detailBlock);
}

void ReportError(const char* message, const char* detail) { WriteEvent(KernelStartFailed, message, detail); }

// The console commands' calls name no file, so the text's inserts stay empty.
void PrintFailedCall(const char* call, unsigned long error) {
    char text[1024];
    unsigned long length = SystemText(error, nullptr, text, sizeof text);
    fprintf(stderr, "%s failed with error %lu: ", call, error);
    PrintAnsi(stderr, length > 0 ? text : "(no text for this error)");
    fputs("\n", stderr);
    fflush(stderr);
}
