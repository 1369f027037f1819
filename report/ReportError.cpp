#include "ReportError.h"

#include <windows.h>

#include <stdio.h>

#include "Detail.h"
#include "ProductProfile.h"
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
};

static bool ShowingErrors = false;

// The event strings in UTF-16, so that text no code page holds arrives
// whole. Static: a report must not depend on memory being available.
static WCHAR WideMessage[256];
static WCHAR WideDetail[kDetailCapacity + 1];
static char ConsoleText[4 * (kDetailCapacity + 1)];

void ShowErrorsOnConsole() { ShowingErrors = true; }

static LPCWSTR Widened(const char* utf8, WCHAR* buffer, int capacity) {
    buffer[0] = 0;
    if (utf8 != nullptr && utf8[0] != '\0' && MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, capacity) == 0)
        buffer[0] = 0;
    return buffer;
}

// The detail in the console's code page; what it cannot show becomes '?'.
static const char* ForConsole(const char* utf8) {
    LPCWSTR wide = Widened(utf8, WideDetail, kDetailCapacity + 1);
    unsigned int codePage = GetConsoleOutputCP();
    if (codePage == 0) codePage = CP_ACP;
    const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
    if (wide[0] == 0 ||
        WideCharToMultiByte(codePage, 0, wide, -1, ConsoleText, sizeof ConsoleText, fallback, nullptr) == 0)
        return "";
    return ConsoleText;
}

static void PrintFailure(FILE* stream, const char* message, const char* detail) {
    fprintf(stream, "%s\n", message);
    if (detail != nullptr && detail[0] != '\0') fprintf(stream, "%s\n", ForConsole(detail));
    fflush(stream);  // the echo must not trail behind later console output
}

void WriteEvent(EventKind kind, const char* message, const char* detail) {
    if (Profile.echoErrors) {
        PrintFailure(stdout, message, detail);
    } else if (ShowingErrors) {
        PrintFailure(stderr, message, detail);
    }
    LPCWSTR strings[2] = {Widened(message, WideMessage, sizeof WideMessage / sizeof WideMessage[0]),
                          Widened(detail, WideDetail, kDetailCapacity + 1)};
    // Registered again on every call: a report is rare and nothing is cached.
    HANDLE eventSource = RegisterEventSourceA(nullptr, Profile.serviceName);
    ReportEventW(eventSource, kEvents[kind].type, kEventCategory, kEvents[kind].eventId, nullptr, 2, 0, strings,
                 nullptr);
    if (eventSource != nullptr) DeregisterEventSource(eventSource);
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
