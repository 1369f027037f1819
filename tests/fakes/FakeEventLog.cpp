#include "FakeEventLog.h"

#include <mutex>

namespace {

struct FakeSource {
    std::string name;
};

std::mutex mutex;
std::vector<RecordedEvent> events;
bool refuseRegistration = false;
std::function<void(const RecordedEvent&)> eventObserver;
int openSources = 0;

// UTF-16 to UTF-8, pairing surrogates; a lone one shows as U+FFFD.
std::string Utf8Of(LPCWSTR text) {
    std::string utf8;
    if (text == nullptr) return utf8;
    for (size_t i = 0; text[i] != 0; ++i) {
        unsigned long unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        if (unit < 0x80) {
            utf8 += static_cast<char>(unit);
        } else if (unit < 0x800) {
            utf8 += static_cast<char>(0xC0 | (unit >> 6));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (unit >> 12));
            utf8 += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (unit >> 18));
            utf8 += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return utf8;
}

}  // namespace

namespace FakeEventLog {

void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
    refuseRegistration = false;
    openSources = 0;
    eventObserver = nullptr;
}

void RefuseRegistration() {
    std::lock_guard<std::mutex> lock(mutex);
    refuseRegistration = true;
}

void OnEvent(std::function<void(const RecordedEvent&)> observer) {
    std::lock_guard<std::mutex> lock(mutex);
    eventObserver = std::move(observer);
}

std::vector<RecordedEvent> Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

int OpenSources() {
    std::lock_guard<std::mutex> lock(mutex);
    return openSources;
}

}  // namespace FakeEventLog

extern "C" HANDLE WINAPI RegisterEventSourceA(LPCSTR, LPCSTR lpSourceName) {
    std::lock_guard<std::mutex> lock(mutex);
    if (refuseRegistration || lpSourceName == nullptr) return nullptr;
    ++openSources;
    return new FakeSource{lpSourceName};
}

// Records one entry, its strings already in UTF-8.
static BOOL Record(HANDLE hEventLog, WORD type, WORD category, DWORD eventId, PSID userSid, DWORD dataSize,
                   std::vector<std::string> strings, bool wide) {
    RecordedEvent event = {hEventLog != nullptr ? static_cast<FakeSource*>(hEventLog)->name : std::string(),
                           type,
                           category,
                           eventId,
                           userSid != nullptr,
                           std::move(strings),
                           dataSize,
                           wide};
    std::function<void(const RecordedEvent&)> observer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
        observer = eventObserver;
    }
    if (observer) observer(event);
    return hEventLog != nullptr;  // like Windows: a null handle writes nothing
}

extern "C" BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                                    WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID) {
    std::vector<std::string> strings;
    for (WORD i = 0; i < wNumStrings; ++i) strings.emplace_back(lpStrings[i] != nullptr ? lpStrings[i] : "");
    return Record(hEventLog, wType, wCategory, dwEventID, lpUserSid, dwDataSize, std::move(strings), false);
}

extern "C" BOOL WINAPI ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                                    WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID) {
    std::vector<std::string> strings;
    for (WORD i = 0; i < wNumStrings; ++i) strings.push_back(Utf8Of(lpStrings[i]));
    return Record(hEventLog, wType, wCategory, dwEventID, lpUserSid, dwDataSize, std::move(strings), true);
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
    std::lock_guard<std::mutex> lock(mutex);
    if (hEventLog == nullptr) return FALSE;
    --openSources;
    delete static_cast<FakeSource*>(hEventLog);
    return TRUE;
}
