#ifndef FRONT_CHECK_CHECKBLOCKS_H
#define FRONT_CHECK_CHECKBLOCKS_H

// The blocks of the check, in the order the report shows them. Each asks
// its part of the installation the way the start asks it, writes through
// the check's writer, and leaves in the context what later blocks need.
#include "JvmOptions.h"

struct CheckContext {
    const char* modulePath;
    const char* moduleDirectory;  // empty when the program's own directory is unknown
    bool libraryAnswered;         // the VM library loaded, and it told its generation
    VmGeneration generation;
    bool optionsBuilt;
    bool othersCanChangeVm;  // server\jvm.dll, or a folder on its way: check does not load it
    int othersCanChange;     // parts of the installation others can change: check fails
};

void CheckProgram(CheckContext* context);
void CheckService(CheckContext* context);
void CheckEventSource(CheckContext* context);
// Reads below the program's own directory, and runs only when it is known.
void CheckPermissions(CheckContext* context);
void CheckVmLibrary(CheckContext* context);
// These read below the program's own directory, and run only when it is known.
void CheckInitFile(CheckContext* context);
void CheckJars(CheckContext* context);
void CheckOptions(CheckContext* context);

#endif
