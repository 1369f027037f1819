#ifndef HOST_INSTALLATION_ACCESS_H
#define HOST_INSTALLATION_ACCESS_H

#include <windows.h>

// Who can change what a start reads or runs: the program and its folder,
// the init file, server and server\jvm.dll, the home (the folder above the
// program's), ..\lib, ..\lib\util and each jar in it, and each folder from
// the drive's root down to the home, for the rights that let someone
// replace the folder below it. The service runs as LocalSystem, so whoever
// else can change any of them can run code as LocalSystem.

enum InstallationPart {
    ProgramPart,
    ProgramFolderPart,
    InitFilePart,
    VmFolderPart,
    VmLibraryPart,
    HomePart,
    LibFolderPart,
    JarFolderPart,
    JarPart,
    FolderAbovePart,
};

// Whether those who can change the part can change server\jvm.dll with it.
bool LeadsToVmLibrary(InstallationPart part);

struct PartAccess {
    InstallationPart part;
    const char* path;     // ANSI
    DWORD readError;      // its descriptor could not be read: GetNamedSecurityInfoA's error; else 0
    const char* finding;  // when others can change it, who may do what and what follows (ANSI), e.g.
                          // "Everyone can modify C:\...\alder.init: any of them can run code as LocalSystem"
};
typedef void (*PartAccessSeen)(const PartAccess& access, void* context);

// Judges each part that is there, in the order above (the folders above the
// home from the root down). `seen` hears of each that others can change and
// each whose descriptor could not be read. Returns how many were judged.
// moduleDirectory ends in a backslash.
int JudgeInstallationAccess(const char* modulePath, const char* moduleDirectory, PartAccessSeen seen, void* context);

// At a start: a warning event (5) lists what others can change, and a
// console run shows it; nothing when only the trusted can change it all.
void WarnOfChangeableInstallation(const char* moduleDirectory);

// After install: one line on standard error with how many parts others can
// change and the first of them, pointing to check; nothing when none.
void PrintChangeableSummary();

#endif
