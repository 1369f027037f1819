// The block on who can change what a start reads or runs. The service runs
// as LocalSystem: anyone else who can change any of it can run code as
// LocalSystem. When others can change server\jvm.dll or a folder on its
// way, the VM library block does not load it.
#include "CheckBlocks.h"

#include <windows.h>

#include "CheckWriter.h"
#include "InstallationAccess.h"

// The last line's name of each part: short, and free of paths.
static const char* ProblemName(InstallationPart part) {
    switch (part) {
        case ProgramPart:
            return "others can change the program";
        case ProgramFolderPart:
            return "others can change the program's folder";
        case InitFilePart:
            return "others can change the init file";
        case VmFolderPart:
            return "others can change the server folder";
        case VmLibraryPart:
            return "others can change server\\jvm.dll";
        case HomePart:
            return "others can change the installation's home";
        case LibFolderPart:
            return "others can change ..\\lib";
        case JarFolderPart:
            return "others can change ..\\lib\\util";
        case JarPart:
            return "others can change a jar in ..\\lib\\util";
        case FolderAbovePart:
            return "others can change a folder above the installation";
    }
    return "others can change the installation";
}

static void SayPart(const PartAccess& access, void* checkContext) {
    auto* context = static_cast<CheckContext*>(checkContext);
    if (access.finding == nullptr) {
        BeginLine(NoticeLine);
        Say("the permissions of ");
        SayAnsi(access.path);
        Say(" could not be read: ");
        SayFailedCall("GetNamedSecurityInfoA", access.readError);
        EndLine();
        return;
    }
    BeginLine(ProblemLine);
    SayAnsi(access.finding);
    EndLine();
    NameProblem(ProblemName(access.part));
    ++context->othersCanChange;
    if (LeadsToVmLibrary(access.part)) context->othersCanChangeVm = true;
}

void CheckPermissions(CheckContext* context) {
    BeginBlock("The permissions of the installation", "");
    int judged = JudgeInstallationAccess(context->modulePath, context->moduleDirectory, SayPart, context);
    BeginLine(InfoLine);
    if (context->othersCanChange == 0) {
        Say("only SYSTEM, the administrators and the service itself can change the ");
        SayNumber(judged);
        Say(" files and folders a start reads or runs");
    } else {
        Say("others can change ");
        SayNumber(context->othersCanChange);
        Say(" of the ");
        SayNumber(judged);
        Say(" files and folders a start reads or runs; only SYSTEM, the administrators and the service itself "
            "should be able to");
    }
    EndLine();
}
