// The block on the options the start hands to the VM, built by its own code.
#include "CheckBlocks.h"

#include <windows.h>

#include "CheckWriter.h"
#include "JvmOptions.h"
#include "Kernel.h"

void CheckOptions(CheckContext* context) {
    const char* moduleDirectory = context->moduleDirectory;
    BeginBlock("The options the start hands to the VM", "");
    if (!context->libraryAnswered) {
        BeginLine(NoticeLine);
        Say("the start ends before it hands them over (see the VM library); shown as for a classic VM");
        EndLine();
    }
    JvmOptionList list = BuildStartOptions(moduleDirectory, context->libraryAnswered ? context->generation : ClassicVm);
    if (list.options == nullptr) {
        BeginLine(ProblemLine);
        Say("no memory to build them");
        EndLine();
        NameProblem("no memory for the options");
        return;
    }
    for (jint i = 0; i < list.count; ++i) {
        BeginLine(InfoLine);
        SayOption(list.options[i].optionString);
        EndLine();
    }
    context->optionsBuilt = true;
    FreeJvmOptionList(&list);
}
