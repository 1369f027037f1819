#ifndef FRONT_REGISTRATION_H
#define FRONT_REGISTRATION_H

#include <windows.h>

// Console commands "install" and "uninstall": register this executable as
// the profile's service, or remove that registration. Each prints one line
// on standard output, and a failed call's line on standard error. Return 0,
// or the Windows error of the call that failed.
DWORD InstallService();
DWORD UninstallService();

// The command line the service is registered with: the program's path,
// quoted when it has a blank. A heap string, or null when memory is short.
char* ServiceCommandLine(const char* modulePath);

// The program a registered command line starts: its quoted part, or with no
// quotes the whole line (the service manager tries it word by word), cut to
// fit `capacity`.
void CommandLineProgram(const char* commandLine, char* program, size_t capacity);

// Whether a registered command line starts the program at modulePath: its
// quoted part, or with no quotes the whole line, names that file (in any
// case, as Windows compares paths). False when memory is short.
bool CommandLineNamesProgram(const char* commandLine, const char* modulePath);

#endif
