#ifndef PLATFORM_POSIX_WAITABLES_H
#define PLATFORM_POSIX_WAITABLES_H

#include <windows.h>

// For CloseHandle: closes a thread or event handle and returns true, or
// returns false for any other handle, which it leaves alone.
bool CloseWaitableHandle(HANDLE handle);

#endif
