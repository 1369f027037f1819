#ifndef FRONT_SERVICE_CONTROL_H
#define FRONT_SERVICE_CONTROL_H

#include <windows.h>

// Service entry named in the dispatch table; runs on the dispatcher's thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler; runs on the main thread inside the dispatcher call.
// Stop and preshutdown both stop the kernel.
DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

#endif
