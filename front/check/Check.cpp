// Console command "check": the blocks in the report's order, then the last
// line, which names the problems the blocks counted.
#include "Check.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CheckBlocks.h"
#include "CheckWriter.h"
#include "LaunchLayout.h"

static void SayVerdict() {
    const ProblemTally& found = Tally();
    Say("\n");
    if (found.problems == 0) {
        Say("ready\n");
        return;
    }
    SayNumber(found.problems);
    Say(found.problems == 1 ? " problem: " : " problems: ");
    int named = found.problems < kMostProblemsNamed ? found.problems : kMostProblemsNamed;
    for (int i = 0; i < named; ++i) {
        if (i > 0) Say("; ");
        Say(found.names[i]);
    }
    if (found.problems > named) {
        Say("; and ");
        SayNumber(found.problems - named);
        Say(" more");
    }
    EndLine();
}

int RunCheck() {
    BeginReport();
    CheckContext context;
    memset(&context, 0, sizeof context);
    char* modulePath = GetModulePath();
    char* moduleDirectory = GetModuleDirectory();
    if (modulePath == nullptr || moduleDirectory == nullptr) {
        free(modulePath);
        free(moduleDirectory);
        fputs("No memory for the check.\n", stdout);
        return 1;
    }
    context.modulePath = modulePath;
    context.moduleDirectory = moduleDirectory;
    CheckProgram(&context);
    CheckService(&context);
    CheckEventSource(&context);
    if (moduleDirectory[0] != '\0') CheckPermissions(&context);
    CheckVmLibrary(&context);
    if (moduleDirectory[0] != '\0') {
        CheckInitFile(&context);
        CheckJars(&context);
        CheckOptions(&context);
    }
    SayVerdict();
    fflush(stdout);
    bool reachesCreate = context.libraryAnswered && context.optionsBuilt;
    free(moduleDirectory);
    free(modulePath);
    return reachesCreate && context.othersCanChange == 0 ? 0 : 1;
}
