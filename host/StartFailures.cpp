#include "StartFailures.h"

#include <stdlib.h>
#include <string.h>

#include "Detail.h"
#include "LaunchLayout.h"
#include "PeImage.h"
#include "ReportError.h"
#include "Secrets.h"
#include "SystemText.h"
#include "ThrowableText.h"
#include "VmOutput.h"

static const char kLoadFailed[] = "Failed to load JVM DLL.";
static const char kDefaultArgsFailed[] = "Error getting JVM default arguments.";
static const char kCreateFailed[] = "Error creating JVM";
static const char kClassNotFound[] = "Cannot locate the Kernel class";
static const char kMethodsMissing[] = "One or more methods in Kernel class could not be found";
static const char kStartThrew[] = "Exception occurs starting up the Kernel";

// Options longer than this keep their two ends (a boot class path of many
// jars), so that the rest of the list still fits in the event.
static const size_t kOptionEndsKept = 400;

static Detail FailureDetail;

// A stack trace ends in a line break; the event and the console add their own.
static void Report(const char* message) {
    while (FailureDetail.length > 0 && (FailureDetail.text[FailureDetail.length - 1] == '\n' ||
                                        FailureDetail.text[FailureDetail.length - 1] == '\r'))
        FailureDetail.text[--FailureDetail.length] = '\0';
    ReportError(message, FailureDetail.text);
}

// ------------------------------------------------------------ the library

// Room for the longest path Windows has and the system's text around it.
static char SystemTextBuffer[3 * 32768 + 1024];

// The system's text for a failed load names the library as its %1.
static void AppendWindowsError(DWORD error, const char* libraryPath) {
    AppendText(&FailureDetail, "Windows error ");
    AppendNumber(&FailureDetail, static_cast<long>(error));
    if (SystemText(error, libraryPath, SystemTextBuffer, sizeof SystemTextBuffer) > 0) {
        AppendText(&FailureDetail, ": ");
        AppendAnsi(&FailureDetail, SystemTextBuffer);
    }
}

// Says so when the file is a library for another machine than this
// program's: the commonest reason, which looks like a missing file otherwise.
static void AppendBitnessMismatch(const char* libraryPath, WORD machine) {
    const char* library = PeMachineName(machine);
    AppendText(&FailureDetail, "\n");
    AppendAnsi(&FailureDetail, libraryPath);
    if (library == nullptr) {
        AppendText(&FailureDetail, " is a library for another machine (type ");
        AppendNumber(&FailureDetail, machine);
        AppendText(&FailureDetail, ")");
    } else {
        AppendText(&FailureDetail, " is a ");
        AppendText(&FailureDetail, library);
        AppendText(&FailureDetail, " library");
    }
    bool ownIs64 = OwnPeMachine() == kMachineX64;
    AppendText(&FailureDetail, " and this program is ");
    AppendText(&FailureDetail, PeMachineName(OwnPeMachine()));
    AppendText(&FailureDetail, ownIs64 ? ": install a 64-bit Java runtime there, or use the 32-bit build"
                                       : ": install a 32-bit Java runtime there, or use the 64-bit build");
}

// The libraries an image imports that the loader cannot find, as many as
// the detail names (names are at most 255 characters).
enum { kMostMissingNamed = 32, kLibraryNameCapacity = 256 };

struct MissingLibraries {
    char names[kMostMissingNamed][kLibraryNameCapacity];
    int count;  // all of them, named or not
};

static MissingLibraries Missing;

static bool NoteIfMissing(const char* name, void*) {
    if (LoaderFindsLibrary(name)) return true;
    if (Missing.count < kMostMissingNamed) {
        strncpy(Missing.names[Missing.count], name, kLibraryNameCapacity - 1);
        Missing.names[Missing.count][kLibraryNameCapacity - 1] = '\0';
    }
    ++Missing.count;
    return true;
}

// Names the missing libraries, then for each well-known runtime among them
// the package that brings it. False when none is missing.
static bool AppendMissingLibraries(const char* libraryPath) {
    Missing.count = 0;
    ForEachPeImport(libraryPath, NoteIfMissing, nullptr);  // a table cut short still names what it held
    if (Missing.count == 0) return false;
    int named = Missing.count < kMostMissingNamed ? Missing.count : kMostMissingNamed;
    AppendText(&FailureDetail, "\n");
    AppendAnsi(&FailureDetail, libraryPath);
    AppendText(&FailureDetail, Missing.count == 1 ? " is there, but a library it needs is missing: "
                                                  : " is there, but libraries it needs are missing: ");
    for (int i = 0; i < named; ++i) {
        if (i > 0) AppendText(&FailureDetail, ", ");
        AppendAnsi(&FailureDetail, Missing.names[i]);
    }
    if (Missing.count > named) {
        AppendText(&FailureDetail, " and ");
        AppendNumber(&FailureDetail, Missing.count - named);
        AppendText(&FailureDetail, " more");
    }
    for (int i = 0; i < named; ++i) {
        const char* package = RuntimePackageOf(Missing.names[i]);
        bool namedBefore = false;
        for (int j = 0; j < i && !namedBefore; ++j) namedBefore = RuntimePackageOf(Missing.names[j]) == package;
        if (package == nullptr || namedBefore) continue;
        int brought = 0;
        AppendText(&FailureDetail, "\n");
        for (int j = i; j < named; ++j) {
            if (RuntimePackageOf(Missing.names[j]) != package) continue;
            if (brought++ > 0) AppendText(&FailureDetail, ", ");
            AppendAnsi(&FailureDetail, Missing.names[j]);
        }
        AppendText(&FailureDetail, brought == 1 ? " comes with " : " come with ");
        AppendText(&FailureDetail, package);
        AppendText(&FailureDetail, ".");
    }
    return true;
}

// A 32-bit Java 8 runtime may ship only a client VM: server\jvm.dll is
// missing and client\jvm.dll is there beside it.
static void AppendClientVm(const char* libraryPath) {
    char* clientPath = ClientVmBeside(libraryPath);
    if (clientPath == nullptr) return;
    AppendText(&FailureDetail, "\n");
    AppendAnsi(&FailureDetail, clientPath);
    AppendText(&FailureDetail,
               " is there: a client VM. This program loads only a server VM (server\\jvm.dll): "
               "install a Java runtime that has one.");
    free(clientPath);
}

// What the file itself tells, so that a library that is there does not
// read as a missing one.
static void AppendLibraryFacts(const char* libraryPath, DWORD error) {
    DWORD attributes = GetFileAttributesA(libraryPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        AppendClientVm(libraryPath);
        return;
    }
    WORD machine = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? PeImageMachine(libraryPath) : 0;
    if (machine == 0) return;
    if (machine != OwnPeMachine()) {
        AppendBitnessMismatch(libraryPath, machine);
    } else if (!AppendMissingLibraries(libraryPath) && error == ERROR_MOD_NOT_FOUND) {
        AppendText(&FailureDetail, "\n");
        AppendAnsi(&FailureDetail, libraryPath);
        AppendText(&FailureDetail, " is there, but a library that one of its libraries needs could not be loaded.");
    }
}

static void AppendUnfaithfulModulePath() {
    char* path = GetModulePathUtf8();
    AppendText(&FailureDetail, "The program's path ");
    AppendText(&FailureDetail, path != nullptr ? path : "");
    AppendText(&FailureDetail,
               " has characters that the system's code page cannot hold, so no server\\jvm.dll can be loaded "
               "below it: install the program to a folder whose name uses only characters of the system's code "
               "page.");
    free(path);
}

void ReportLoadFailure(const char* moduleDirectory, const char* libraryPath, DWORD error) {
    ClearDetail(&FailureDetail);
    if ((moduleDirectory == nullptr || moduleDirectory[0] == '\0') && !ModulePathIsFaithful()) {
        AppendUnfaithfulModulePath();
    } else if (moduleDirectory == nullptr || moduleDirectory[0] == '\0') {
        AppendText(&FailureDetail,
                   "The program's own directory is unknown, so no server\\jvm.dll was looked for below it.");
    } else if (libraryPath == nullptr) {
        AppendText(&FailureDetail, "No memory for the library path.");
    } else {
        AppendText(&FailureDetail, "Tried ");
        AppendAnsi(&FailureDetail, libraryPath);
        AppendText(&FailureDetail, "\n");
        AppendWindowsError(error, libraryPath);
        AppendLibraryFacts(libraryPath, error);
    }
    Report(kLoadFailed);
}

// ------------------------------------------------------------ the VM

static const char* JniResultName(jint result) {
    switch (result) {
        case JNI_ERR:
            return "JNI_ERR";
        case JNI_EDETACHED:
            return "JNI_EDETACHED";
        case JNI_EVERSION:
            return "JNI_EVERSION";
        case JNI_ENOMEM:
            return "JNI_ENOMEM";
        case JNI_EEXIST:
            return "JNI_EEXIST";
        case JNI_EINVAL:
            return "JNI_EINVAL";
        default:
            return "an undocumented result";
    }
}

static void AppendJniResult(jint result) {
    AppendText(&FailureDetail, JniResultName(result));
    AppendText(&FailureDetail, " (");
    AppendNumber(&FailureDetail, result);
    AppendText(&FailureDetail, ")");
}

static void AppendMissingExport(const char* libraryPath, const char* missingExport) {
    AppendAnsi(&FailureDetail, libraryPath);
    AppendText(&FailureDetail, " has no export ");
    AppendText(&FailureDetail, missingExport);
    AppendText(&FailureDetail, ": it is not a Java VM library.");
}

void ReportDefaultArgsFailure(const char* libraryPath, const char* missingExport, jint result) {
    ClearDetail(&FailureDetail);
    if (missingExport != nullptr) {
        AppendMissingExport(libraryPath, missingExport);
    } else {
        AppendText(&FailureDetail, "JNI_GetDefaultJavaVMInitArgs answered ");
        AppendJniResult(result);
        AppendText(&FailureDetail, " to JNI version 1.4: the VM is too old, or is no Java VM.");
    }
    Report(kDefaultArgsFailed);
}

// The program as a user would type it in a console.
static void AppendProgramName() {
    char* path = GetModulePath();
    if (path == nullptr || path[0] == '\0') {
        AppendText(&FailureDetail, "the program");
    } else {
        const char* name = strrchr(path, '\\');
        AppendAnsi(&FailureDetail, name != nullptr ? name + 1 : path);
    }
    free(path);
}

// Drops the line ends the text so far ends in, so that the next part
// starts on a line of its own exactly once.
static void EndLine() {
    while (
        FailureDetail.length > 0 && !FailureDetail.cut &&
        (FailureDetail.text[FailureDetail.length - 1] == '\n' || FailureDetail.text[FailureDetail.length - 1] == '\r'))
        FailureDetail.text[--FailureDetail.length] = '\0';
    AppendText(&FailureDetail, "\n");
}

// What the VM printed while it was being created; false if nothing.
static bool AppendWhatTheVmPrinted() {
    if (!VmPrintedBeforeStart()) return false;
    AppendText(&FailureDetail, "\nThe VM printed:\n");
    AppendVmStartOutput(&FailureDetail);
    return true;
}

// A secret's value never reaches the log, on the console or in the event.
// An option is shown in a buffer of its own: the stack's for the usual
// ones, the heap's for a long boot class path.
static void AppendShownOption(const char* option) {
    char buffer[1024];
    size_t length = ShowOption(option, buffer, sizeof buffer);
    char* shown = length < sizeof buffer ? buffer : static_cast<char*>(malloc(length + 1));
    if (shown == nullptr) {
        AppendText(&FailureDetail, "(an option of ");
        AppendNumber(&FailureDetail, static_cast<long>(length));
        AppendText(&FailureDetail, " bytes, with no memory to show it)");
        return;
    }
    if (shown != buffer) ShowOption(option, shown, length + 1);
    AppendShortened(&FailureDetail, shown, kOptionEndsKept);
    if (shown != buffer) free(shown);
}

// What the VM printed, then the options it was handed, then, if it printed
// nothing, where to see its words.
static void AppendVmSide(const JvmOptionList* options) {
    bool printed = AppendWhatTheVmPrinted();
    if (printed) EndLine();
    AppendText(&FailureDetail, printed ? "The VM was handed these options:" : " The VM was handed these options:");
    for (jint i = 0; options != nullptr && i < options->count; ++i) {
        AppendText(&FailureDetail, "\n");
        const char* option = options->options[i].optionString;
        if (option != nullptr) AppendShownOption(option);
    }
    if (!printed) {
        AppendText(&FailureDetail, "\nThe VM says why in a console: run \"");
        AppendProgramName();
        AppendText(&FailureDetail, " run\".");
    }
}

void ReportCreateFailure(const char* libraryPath, const char* missingExport, const JvmOptionList& options,
                         jint result) {
    ClearDetail(&FailureDetail);
    if (missingExport != nullptr) {
        AppendMissingExport(libraryPath, missingExport);
    } else if (options.options == nullptr) {
        AppendText(&FailureDetail, "No memory to assemble the VM options.");
    } else {
        AppendText(&FailureDetail, "JNI_CreateJavaVM answered ");
        AppendJniResult(result);
        AppendText(&FailureDetail, ".");
        AppendVmSide(&options);
    }
    Report(kCreateFailed);
}

// How the VM ended the process, as the end of a sentence.
static void AppendHowItEnded(bool aborted, jint exitCode) {
    if (aborted) {
        AppendText(&FailureDetail, ", by aborting.");
    } else {
        AppendText(&FailureDetail, ", with exit code ");
        AppendNumber(&FailureDetail, exitCode);
        AppendText(&FailureDetail, ".");
    }
}

void ReportCreateEnded(const JvmOptionList* options, bool aborted, jint exitCode) {
    ClearDetail(&FailureDetail);
    AppendText(&FailureDetail, "The Java VM ended the process while it was being created");
    AppendHowItEnded(aborted, exitCode);
    AppendVmSide(options);
    Report(kCreateFailed);
}

void ReportStartEnded(bool findingClass, bool aborted, jint exitCode) {
    ClearDetail(&FailureDetail);
    AppendText(&FailureDetail, "The Java VM ended the process during the kernel's start");
    AppendHowItEnded(aborted, exitCode);
    if (AppendWhatTheVmPrinted()) EndLine();
    Report(findingClass ? kClassNotFound : kStartThrew);
}

// ------------------------------------------------------------ the kernel class

void ReportClassNotFound(JNIEnv* env, const char* className) {
    ClearDetail(&FailureDetail);
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown != nullptr) env->ExceptionClear();
    // FindClass also runs the class's static initializer: what that threw
    // arrives wrapped in an ExceptionInInitializerError, and its trace is
    // the one that shows where.
    bool initializerThrew =
        thrown != nullptr && IsInstanceOfClass(env, thrown, "java/lang/ExceptionInInitializerError");
    AppendText(&FailureDetail, "Class ");
    AppendText(&FailureDetail, className);
    AppendText(&FailureDetail, initializerThrew
                                   ? " was found, but its static initializer threw:\n"
                                   : " could not be loaded from the jars of ..\\lib\\util or the class path:\n");
    if (thrown == nullptr) {
        AppendText(&FailureDetail, "(the VM gave no reason)");
    } else {
        AppendThrowable(env, &FailureDetail, thrown, initializerThrew);
        env->DeleteLocalRef(thrown);
    }
    Report(kClassNotFound);
}

void ReportMissingMethods(const char* className, jmethodID constructorId, jmethodID startId, jmethodID stopId) {
    ClearDetail(&FailureDetail);
    AppendText(&FailureDetail, "Missing from ");
    AppendText(&FailureDetail, className);
    AppendText(&FailureDetail, ":");
    const struct {
        jmethodID id;
        const char* name;
    } methods[] = {{constructorId, " <init>()V"}, {startId, " start()V"}, {stopId, " stop()V"}};
    for (const auto& method : methods)
        if (method.id == nullptr) AppendText(&FailureDetail, method.name);
    Report(kMethodsMissing);
}

void ReportStartThrew(JNIEnv* env) {
    ClearDetail(&FailureDetail);
    if (!AppendPendingThrowable(env, &FailureDetail, true))
        AppendText(&FailureDetail, "The constructor gave no object and threw nothing.");
    Report(kStartThrew);
}
