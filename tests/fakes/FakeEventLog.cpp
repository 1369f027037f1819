#include "FakeEventLog.h"

#include <mutex>

namespace {

struct FakeSource {
    std::string name;
};

std::mutex mutex;
std::vector<RecordedEvent> events;
bool refuseRegistration = false;
int openSources = 0;

}  // namespace

namespace FakeEventLog {

void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
    refuseRegistration = false;
    openSources = 0;
}

void RefuseRegistration() {
    std::lock_guard<std::mutex> lock(mutex);
    refuseRegistration = true;
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

extern "C" BOOL WINAPI ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                                    WORD wNumStrings, DWORD dwDataSize, LPCSTR* lpStrings, LPVOID) {
    std::lock_guard<std::mutex> lock(mutex);
    RecordedEvent event{hEventLog != nullptr ? static_cast<FakeSource*>(hEventLog)->name : std::string(),
                        wType,
                        wCategory,
                        dwEventID,
                        lpUserSid != nullptr,
                        {},
                        dwDataSize};
    for (WORD i = 0; i < wNumStrings; ++i) event.strings.emplace_back(lpStrings[i] != nullptr ? lpStrings[i] : "");
    events.push_back(event);
    return hEventLog != nullptr;  // like Windows: a null handle writes nothing
}

extern "C" BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
    std::lock_guard<std::mutex> lock(mutex);
    if (hEventLog == nullptr) return FALSE;
    --openSources;
    delete static_cast<FakeSource*>(hEventLog);
    return TRUE;
}
