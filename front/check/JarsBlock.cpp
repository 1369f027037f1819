// The block on the jar directory: the jars the start puts on the boot class
// path, in its order.
#include "CheckBlocks.h"

#include <windows.h>

#include "CheckWriter.h"
#include "LaunchLayout.h"

static bool SayJar(const char* fileName, void* context) {
    BeginLine(InfoLine);
    SayNumber(++*static_cast<int*>(context));
    Say(". ");
    SayAnsi(fileName);
    EndLine();
    return true;
}

static void SaySkippedJar(const char* fileName, void*) {
    BeginLine(NoticeLine);
    SayAnsi(fileName);
    Say(" is skipped: only names that end in .jar count (the search matched it by its short name)");
    EndLine();
}

void CheckJars(CheckContext* context) {
    const char* moduleDirectory = context->moduleDirectory;
    BeginBlock("The jars in ", kJarDirectory);
    SetCurrentDirectoryA(moduleDirectory);
    if (!SetCurrentDirectoryA(kJarDirectory)) {
        BeginLine(ProblemLine);
        Say("there is no such directory: the boot class path holds no jar");
        EndLine();
        NameProblem("the jar directory is missing");
        SetCurrentDirectoryA(moduleDirectory);
        return;
    }
    int jars = 0;
    ListJarsOfWorkingDirectory(SayJar, SaySkippedJar, &jars);
    SetCurrentDirectoryA(moduleDirectory);
    BeginLine(jars > 0 ? InfoLine : ProblemLine);
    SayNumber(jars);
    Say(jars == 1 ? " jar goes on the boot class path, in the order listed"
                  : " jars go on the boot class path, in the order listed");
    if (jars == 0) {
        Say(": none, so the kernel class cannot be found");
        NameProblem("no jar in the jar directory");
    }
    EndLine();
}
