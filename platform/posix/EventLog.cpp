// The event log on POSIX is syslog: one error-priority line per insertion
// string, tagged with the event source's name.
#include <windows.h>

#include <syslog.h>

#include <string>
#include <vector>

namespace {
struct EventSource {
    std::string name;
};
}  // namespace

extern "C" HANDLE WINAPI RegisterEventSourceA(LPCSTR, LPCSTR lpSourceName) {
    if (lpSourceName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return new EventSource{lpSourceName};
}

extern "C" BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD, WORD, DWORD, PSID, WORD wNumStrings, DWORD,
                                    LPCSTR* lpStrings, LPVOID) {
    if (hEventLog == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto* source = static_cast<const EventSource*>(hEventLog);
    openlog(source->name.c_str(), LOG_PID, LOG_USER);
    for (WORD i = 0; i < wNumStrings; ++i) {
        if (lpStrings[i] != nullptr) syslog(LOG_ERR, "%s", lpStrings[i]);
    }
    closelog();
    return TRUE;
}

extern "C" BOOL WINAPI ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                                    WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData) {
    std::vector<std::string> texts(wNumStrings);
    std::vector<LPCSTR> strings(wNumStrings);
    for (WORD i = 0; i < wNumStrings; ++i) {
        if (lpStrings[i] != nullptr && lpStrings[i][0] != 0) {
            int length = WideCharToMultiByte(CP_UTF8, 0, lpStrings[i], -1, nullptr, 0, nullptr, nullptr);
            texts[i].resize(static_cast<size_t>(length > 0 ? length : 1));
            WideCharToMultiByte(CP_UTF8, 0, lpStrings[i], -1, &texts[i][0], length, nullptr, nullptr);
        }
        strings[i] = texts[i].c_str();
    }
    return ReportEventA(hEventLog, wType, wCategory, dwEventID, lpUserSid, wNumStrings, dwDataSize, strings.data(),
                        lpRawData);
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
    if (hEventLog == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<EventSource*>(hEventLog);
    return TRUE;
}
