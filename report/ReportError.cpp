#include "ReportError.h"

#include <windows.h>

#include <stdio.h>

#include "ProductProfile.h"

static const WORD kEventCategory = 1;
static const DWORD kEventId = 2;

void ReportError(const char* message) {
    if (Profile.echoErrors) {
        printf("%s\n", message);
        fflush(stdout);  // the echo must not trail behind later console output
    }
    // Registered again on every call: a report is rare and nothing is cached.
    HANDLE eventSource = RegisterEventSourceA(nullptr, Profile.serviceName);
    LPCSTR strings[1] = {message};
    ReportEventA(eventSource, EVENTLOG_ERROR_TYPE, kEventCategory, kEventId, nullptr, 1, 0, strings, nullptr);
    if (eventSource != nullptr) DeregisterEventSource(eventSource);
}
