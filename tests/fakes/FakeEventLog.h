#ifndef TESTS_FAKE_EVENT_LOG_H
#define TESTS_FAKE_EVENT_LOG_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Recording stand-in for RegisterEventSourceA / ReportEventA /
// DeregisterEventSource, linked into test programs in place of the real ones.
struct RecordedEvent {
    std::string source;  // the name the handle was registered under; "" for a null handle
    WORD type;
    WORD category;
    DWORD eventId;
    bool hadUserSid;
    std::vector<std::string> strings;  // UTF-8, also when written through ReportEventW
    DWORD rawDataSize;
    bool wide;  // written through ReportEventW
};

namespace FakeEventLog {
void Reset();
// Makes RegisterEventSourceA return null from now on (until Reset).
void RefuseRegistration();
std::vector<RecordedEvent> Events();
// Called at each entry as it is written, on the writing thread (until Reset):
// for a process that the code under test may end at any moment.
void OnEvent(std::function<void(const RecordedEvent&)> observer);
// Event sources registered and not yet deregistered.
int OpenSources();
}  // namespace FakeEventLog

#endif
