#ifndef FRONT_SERVICE_CONTROL_H
#define FRONT_SERVICE_CONTROL_H

#include <windows.h>

// Service entry named in the dispatch table; runs on the dispatcher's thread.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);

// Control handler; runs on the main thread inside the dispatcher call.
void WINAPI ServiceCtrlHandler(DWORD control);

#endif
