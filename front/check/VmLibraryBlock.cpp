// The block on server\jvm.dll: there, of this machine, its imports found,
// its exports, and its generation as the start asks it.
#include "CheckBlocks.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "CheckWriter.h"
#include "Kernel.h"
#include "LaunchLayout.h"
#include "PeImage.h"

// A library the service's loader will not find: nowhere, or only where this
// process looks and the service does not.
static void SayMissingImport(const char* name, ImportSearch search, const char* folder) {
    BeginLine(ProblemLine);
    Say("it needs ");
    SayAnsi(name);
    if (search == ImportNotFound) {
        Say(", which the loader cannot find");
        const char* package = RuntimePackageOf(name);
        if (package != nullptr) {
            Say(": it comes with ");
            Say(package);
        }
    } else {
        Say(", found only in ");
        SayAnsi(folder);
        Say(search == ImportOnlyInCurrentFolder ? ", which is your current folder but not the service's"
                                                : ", which is on your PATH but not the service's");
    }
    EndLine();
}

static bool NoteMissingImport(const char* name, void* context) {
    char* folder = nullptr;
    ImportSearch search = FindImportedLibrary(name, &folder);
    if (search != ImportFoundByService) {
        SayMissingImport(name, search, folder);
        ++*static_cast<int*>(context);
    }
    free(folder);
    return true;
}

// The libraries the image imports that the service's loader will not find.
static bool CheckImports(const char* libraryPath) {
    int missing = 0;
    ForEachPeImport(libraryPath, NoteMissingImport, &missing);  // a table cut short still names what it held
    if (missing > 0) {
        NameProblem(missing == 1 ? "a library that server\\jvm.dll needs is missing"
                                 : "libraries that server\\jvm.dll needs are missing");
        return false;
    }
    BeginLine(InfoLine);
    Say("the loader finds every library it imports");
    EndLine();
    return true;
}

static bool CheckExports(const char* libraryPath) {
    static const char* const kExports[] = {"JNI_GetDefaultJavaVMInitArgs", "JNI_CreateJavaVM"};
    bool both = true;
    for (const char* name : kExports) {
        if (PeImageExports(libraryPath, name)) continue;
        both = false;
        BeginLine(ProblemLine);
        Say("it has no export ");
        Say(name);
        Say(": it is not a Java VM library");
        EndLine();
    }
    if (both) {
        BeginLine(InfoLine);
        Say("exports JNI_GetDefaultJavaVMInitArgs and JNI_CreateJavaVM");
        EndLine();
    } else {
        NameProblem("server\\jvm.dll is not a Java VM library");
    }
    return both;
}

// A 32-bit Java 8 runtime may ship only a client VM beside the missing server one.
static void CheckClientVm(const char* libraryPath) {
    char* clientPath = ClientVmBeside(libraryPath);
    if (clientPath == nullptr) return;
    BeginLine(NoticeLine);
    SayAnsi(clientPath);
    Say(" is there: a client VM. This program loads only a server VM (server\\jvm.dll): install a Java runtime "
        "that has one");
    EndLine();
    free(clientPath);
}

// Loads the library as the start does and asks it the start's questions.
static void AskGeneration(const char* libraryPath, CheckContext* context) {
    HMODULE library = LoadLibraryA(libraryPath);
    if (library == nullptr) {
        DWORD error = GetLastError();
        BeginLine(ProblemLine);
        Say("it does not load: ");
        SayWindowsError(error, libraryPath);
        EndLine();
        NameProblem("server\\jvm.dll does not load");
        return;
    }
    // Left loaded, as the start leaves it: a VM library is not made to be unloaded.
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    jint result = JNI_OK;
    VmLibraryAnswer answer = AskVmLibrary(library, &args, &result, &context->generation);
    if (answer != VmLibraryAnswered) {
        BeginLine(ProblemLine);
        if (answer == VmLibraryLacksDefaultArgs) {
            Say("loaded, it gives no JNI_GetDefaultJavaVMInitArgs");
        } else {
            Say("it refuses JNI_GetDefaultJavaVMInitArgs for JNI 1.4 (result ");
            SayNumber(result);
            Say(")");
        }
        EndLine();
        NameProblem("server\\jvm.dll refuses the start's first question");
        return;
    }
    context->libraryAnswered = true;
    BeginLine(InfoLine);
    Say(context->generation == ModularVm
            ? "a modular VM (Java 9 or later): the jars are appended to its boot class path (-Xbootclasspath/a:)"
            : "a classic VM (Java 8 or earlier): the jars are put before its own classes (-Xbootclasspath/p:)");
    EndLine();
}

// Loading a library others can change would run their code as whoever runs the check.
static void SayNotAsked() {
    BeginLine(NoticeLine);
    Say("not loaded, so not asked whether it is a classic or a modular VM: others can change it or a folder on "
        "its way (see the permissions of the installation), and loading it would run their code as you");
    EndLine();
}

static void CheckLibraryFile(const char* libraryPath, CheckContext* context) {
    DWORD attributes = GetFileAttributesA(libraryPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        BeginLine(ProblemLine);
        Say("not found");
        EndLine();
        NameProblem("server\\jvm.dll is missing");
        CheckClientVm(libraryPath);
        return;
    }
    WORD machine = PeImageMachine(libraryPath);
    if (machine == 0) {
        BeginLine(ProblemLine);
        Say("it is no Windows library (no PE image)");
        EndLine();
        NameProblem("server\\jvm.dll is no Windows library");
        return;
    }
    bool sameMachine = machine == OwnPeMachine();
    BeginLine(sameMachine ? InfoLine : ProblemLine);
    const char* library = PeMachineName(machine);
    if (library != nullptr) {
        Say(library);
    } else {
        Say("a library for another machine (type ");
        SayNumber(machine);
        Say(")");
    }
    if (sameMachine) {
        Say(", as this program");
    } else {
        Say(", and this program is ");
        Say(PeMachineName(OwnPeMachine()));
        Say(OwnPeMachine() == kMachineX64 ? ": install a 64-bit Java runtime there, or use the 32-bit build"
                                          : ": install a 32-bit Java runtime there, or use the 64-bit build");
        NameProblem(OwnPeMachine() == kMachineX64 ? "server\\jvm.dll is not 64-bit" : "server\\jvm.dll is not 32-bit");
    }
    EndLine();
    bool exported = CheckExports(libraryPath);
    if (!sameMachine) return;
    if (!CheckImports(libraryPath) || !exported) return;
    if (context->othersCanChangeVm) {
        SayNotAsked();
        return;
    }
    AskGeneration(libraryPath, context);
}

void CheckVmLibrary(CheckContext* context) {
    const char* moduleDirectory = context->moduleDirectory;
    BeginBlock("The VM library", "");
    char* libraryPath = BuildLibraryPath(moduleDirectory);
    if (libraryPath == nullptr) {
        BeginLine(ProblemLine);
        Say("the program's own directory is unknown, so no server\\jvm.dll is looked for below it");
        EndLine();
        NameProblem("no server\\jvm.dll is looked for");
        return;
    }
    BeginLine(InfoLine);
    SayAnsi(libraryPath);
    EndLine();
    CheckLibraryFile(libraryPath, context);
    free(libraryPath);
}
