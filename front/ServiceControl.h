#ifndef FRONT_SERVICE_CONTROL_H
#define FRONT_SERVICE_CONTROL_H

#include <windows.h>

// Service entry named in the dispatch table; runs on the dispatcher's thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler; runs on the main thread inside the dispatcher call.
// The first stop or preshutdown of a running kernel stops it on a thread of
// the host's own; the handler returns within 3 s whatever the stop takes.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

#endif
