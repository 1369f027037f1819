// The block on the event source: whose message file Event Viewer reads.
#include "CheckBlocks.h"

#include <windows.h>

#include "CheckWriter.h"
#include "EventSource.h"
#include "ProductProfile.h"

void CheckEventSource(CheckContext* context) {
    const char* modulePath = context->modulePath;
    BeginBlock("The event source ", Profile.serviceName);
    static char messageFile[32768];
    EventSourceOwner owner = EventSourceOfNoProgram;
    LSTATUS status = ReadEventSource(modulePath, &owner, messageFile, sizeof messageFile);
    if (status == ERROR_FILE_NOT_FOUND) {
        BeginLine(NoticeLine);
        Say("not registered: Event Viewer shows the service's events without their text; install registers it");
    } else if (status != ERROR_SUCCESS) {
        BeginLine(NoticeLine);
        Say("could not be read: ");
        SayFailedCall("RegOpenKeyExA", static_cast<DWORD>(status));
    } else if (owner == EventSourceOfThisProgram && lstrcmpiA(messageFile, modulePath) == 0) {
        BeginLine(InfoLine);
        Say("registered for this program");
    } else if (owner == EventSourceOfThisProgram) {
        BeginLine(NoticeLine);
        Say("registered for another copy of this program, whose texts Event Viewer shows: ");
        SayAnsi(messageFile);
        Say("; install from here moves it here");
    } else if (owner == EventSourceOfNoProgram) {
        BeginLine(NoticeLine);
        Say("registered for a file that is not there, so Event Viewer cannot show the texts of the service's "
            "events: ");
        SayAnsi(messageFile);
        Say("; install from here takes it over");
    } else {
        BeginLine(NoticeLine);
        Say("another program's, left to it: ");
        SayAnsi(messageFile);
    }
    EndLine();
}
