// The block on the program itself: its path, its machine, and whether a
// library can be loaded below it.
#include "CheckBlocks.h"

#include <windows.h>

#include "CheckWriter.h"
#include "LaunchLayout.h"
#include "PeImage.h"
#include "ProductProfile.h"

void CheckProgram(CheckContext* context) {
    const char* modulePath = context->modulePath;
    BeginBlock("The program", "");
    BeginLine(InfoLine);
    SayAnsi(modulePath);
    Say(", ");
    Say(PeMachineName(OwnPeMachine()));
    EndLine();
    if (ModulePathIsFaithful()) return;
    BeginLine(ProblemLine);
    Say("its path has characters that the system's code page cannot hold, so no server\\jvm.dll can be loaded "
        "below it: install the program to a folder whose name uses only characters of the system's code page");
    EndLine();
    NameProblem("the program's folder has a name outside the system's code page");
}
