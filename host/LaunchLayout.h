#ifndef HOST_LAUNCH_LAYOUT_H
#define HOST_LAUNCH_LAYOUT_H

// The running program's full path, in a heap block the caller frees.
char* GetModulePath();

// The module path cut right after its last backslash (C:\Apps\Svc\bin\),
// in the same kind of heap block; empty when the path has no directory, or
// when it is not faithful (below): such a path leads nowhere.
char* GetModuleDirectory();

// Whether the path above names the program faithfully. Windows hands it
// out in the ANSI code page, and a character that code page cannot hold
// (C:\Сервис on a Western system) comes out as '?': the path then names no
// file. Judged against the UTF-16 form; true when either cannot be read.
bool ModulePathIsFaithful();

// The program's full path as Windows keeps it, in UTF-8, for messages; a
// heap block, or null when memory is short. Empty when it cannot be read.
char* GetModulePathUtf8();

// For a library path ending in server\jvm.dll: the path of client\jvm.dll
// beside it when that file exists (a 32-bit Java 8 runtime may ship only a
// client VM), in a heap block; null otherwise.
char* ClientVmBeside(const char* libraryPath);

#endif
