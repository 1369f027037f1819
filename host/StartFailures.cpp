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

// Each report builds its detail in one of its own (NewDetail); without one,
// the report still comes, saying so.
static const char kNoDetail[] = "(no memory for the detail of this report)";

// A stack trace ends in a line break; the event and the console add their
// own. Gives the detail back.
static void Report(Detail* detail, const char* message) {
    if (detail == nullptr) {
        ReportError(message, kNoDetail);
        return;
    }
    while (detail->length > 0 && (detail->text[detail->length - 1] == '\n' || detail->text[detail->length - 1] == '\r'))
        detail->text[--detail->length] = '\0';
    ReportError(message, detail->text);
    FreeDetail(detail);
}

// A report without a detail still leaves no exception pending.
static void ReportClearing(JNIEnv* env, const char* message) {
    env->ExceptionClear();
    Report(nullptr, message);
}

// ------------------------------------------------------------ the library

// Room for the system's text around the library's path.
static const size_t kSystemTextRoom = 1024;

// The system's text for a failed load names the library as its %1; without
// memory for it, the number alone.
static void AppendWindowsError(Detail* detail, DWORD error, const char* libraryPath) {
    AppendText(detail, "Windows error ");
    AppendNumber(detail, static_cast<long>(error));
    unsigned long capacity = static_cast<unsigned long>(strlen(libraryPath) + kSystemTextRoom);
    char* text = static_cast<char*>(malloc(capacity));
    if (text != nullptr && SystemText(error, libraryPath, text, capacity) > 0) {
        AppendText(detail, ": ");
        AppendAnsi(detail, text);
    }
    free(text);
}

// Says so when the file is a library for another machine than this
// program's: the commonest reason, which looks like a missing file otherwise.
static void AppendBitnessMismatch(Detail* detail, const char* libraryPath, WORD machine) {
    const char* library = PeMachineName(machine);
    AppendText(detail, "\n");
    AppendAnsi(detail, libraryPath);
    if (library == nullptr) {
        AppendText(detail, " is a library for another machine (type ");
        AppendNumber(detail, machine);
        AppendText(detail, ")");
    } else {
        AppendText(detail, " is a ");
        AppendText(detail, library);
        AppendText(detail, " library");
    }
    bool ownIs64 = OwnPeMachine() == kMachineX64;
    AppendText(detail, " and this program is ");
    AppendText(detail, PeMachineName(OwnPeMachine()));
    AppendText(detail, ownIs64 ? ": install a 64-bit Java runtime there, or use the 32-bit build"
                               : ": install a 32-bit Java runtime there, or use the 64-bit build");
}

// The libraries an image imports that the loader cannot find, as many as
// the detail names (names are at most 255 characters).
enum { kMostMissingNamed = 32, kLibraryNameCapacity = 256 };

struct MissingLibraries {
    char names[kMostMissingNamed][kLibraryNameCapacity];
    int count;  // all of them, named or not
};

static bool NoteIfMissing(const char* name, void* context) {
    MissingLibraries& missing = *static_cast<MissingLibraries*>(context);
    if (LoaderFindsLibrary(name)) return true;
    if (missing.count < kMostMissingNamed) {
        strncpy(missing.names[missing.count], name, kLibraryNameCapacity - 1);
        missing.names[missing.count][kLibraryNameCapacity - 1] = '\0';
    }
    ++missing.count;
    return true;
}

// Names the missing libraries, then for each well-known runtime among them
// the package that brings it. False when none is missing.
// Only the start's own thread loads the library, and its stack is the
// service's or the console's: the names fit there.
static bool AppendMissingLibraries(Detail* detail, const char* libraryPath) {
    MissingLibraries missing;
    missing.count = 0;
    ForEachPeImport(libraryPath, NoteIfMissing, &missing);  // a table cut short still names what it held
    if (missing.count == 0) return false;
    int named = missing.count < kMostMissingNamed ? missing.count : kMostMissingNamed;
    AppendText(detail, "\n");
    AppendAnsi(detail, libraryPath);
    AppendText(detail, missing.count == 1 ? " is there, but a library it needs is missing: "
                                          : " is there, but libraries it needs are missing: ");
    for (int i = 0; i < named; ++i) {
        if (i > 0) AppendText(detail, ", ");
        AppendAnsi(detail, missing.names[i]);
    }
    if (missing.count > named) {
        AppendText(detail, " and ");
        AppendNumber(detail, missing.count - named);
        AppendText(detail, " more");
    }
    for (int i = 0; i < named; ++i) {
        const char* package = RuntimePackageOf(missing.names[i]);
        bool namedBefore = false;
        for (int j = 0; j < i && !namedBefore; ++j) namedBefore = RuntimePackageOf(missing.names[j]) == package;
        if (package == nullptr || namedBefore) continue;
        int brought = 0;
        AppendText(detail, "\n");
        for (int j = i; j < named; ++j) {
            if (RuntimePackageOf(missing.names[j]) != package) continue;
            if (brought++ > 0) AppendText(detail, ", ");
            AppendAnsi(detail, missing.names[j]);
        }
        AppendText(detail, brought == 1 ? " comes with " : " come with ");
        AppendText(detail, package);
        AppendText(detail, ".");
    }
    return true;
}

// A 32-bit Java 8 runtime may ship only a client VM: server\jvm.dll is
// missing and client\jvm.dll is there beside it.
static void AppendClientVm(Detail* detail, const char* libraryPath) {
    char* clientPath = ClientVmBeside(libraryPath);
    if (clientPath == nullptr) return;
    AppendText(detail, "\n");
    AppendAnsi(detail, clientPath);
    AppendText(detail,
               " is there: a client VM. This program loads only a server VM (server\\jvm.dll): "
               "install a Java runtime that has one.");
    free(clientPath);
}

// What the file itself tells, so that a library that is there does not
// read as a missing one.
static void AppendLibraryFacts(Detail* detail, const char* libraryPath, DWORD error) {
    DWORD attributes = GetFileAttributesA(libraryPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        AppendClientVm(detail, libraryPath);
        return;
    }
    WORD machine = (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? PeImageMachine(libraryPath) : 0;
    if (machine == 0) return;
    if (machine != OwnPeMachine()) {
        AppendBitnessMismatch(detail, libraryPath, machine);
    } else if (!AppendMissingLibraries(detail, libraryPath) && error == ERROR_MOD_NOT_FOUND) {
        AppendText(detail, "\n");
        AppendAnsi(detail, libraryPath);
        AppendText(detail, " is there, but a library that one of its libraries needs could not be loaded.");
    }
}

static void AppendUnfaithfulModulePath(Detail* detail) {
    char* path = GetModulePathUtf8();
    AppendText(detail, "The program's path ");
    AppendText(detail, path != nullptr ? path : "");
    AppendText(detail,
               " has characters that the system's code page cannot hold, so no server\\jvm.dll can be loaded "
               "below it: install the program to a folder whose name uses only characters of the system's code "
               "page.");
    free(path);
}

void ReportLoadFailure(const char* moduleDirectory, const char* libraryPath, DWORD error) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, kLoadFailed);
    if ((moduleDirectory == nullptr || moduleDirectory[0] == '\0') && !ModulePathIsFaithful()) {
        AppendUnfaithfulModulePath(detail);
    } else if (moduleDirectory == nullptr || moduleDirectory[0] == '\0') {
        AppendText(detail, "The program's own directory is unknown, so no server\\jvm.dll was looked for below it.");
    } else if (libraryPath == nullptr) {
        AppendText(detail, "No memory for the library path.");
    } else {
        AppendText(detail, "Tried ");
        AppendAnsi(detail, libraryPath);
        AppendText(detail, "\n");
        AppendWindowsError(detail, error, libraryPath);
        AppendLibraryFacts(detail, libraryPath, error);
    }
    Report(detail, kLoadFailed);
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

static void AppendJniResult(Detail* detail, jint result) {
    AppendText(detail, JniResultName(result));
    AppendText(detail, " (");
    AppendNumber(detail, result);
    AppendText(detail, ")");
}

static void AppendMissingExport(Detail* detail, const char* libraryPath, const char* missingExport) {
    AppendAnsi(detail, libraryPath);
    AppendText(detail, " has no export ");
    AppendText(detail, missingExport);
    AppendText(detail, ": it is not a Java VM library.");
}

void ReportDefaultArgsFailure(const char* libraryPath, const char* missingExport, jint result) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, kDefaultArgsFailed);
    if (missingExport != nullptr) {
        AppendMissingExport(detail, libraryPath, missingExport);
    } else {
        AppendText(detail, "JNI_GetDefaultJavaVMInitArgs answered ");
        AppendJniResult(detail, result);
        AppendText(detail, " to JNI version 1.4: the VM is too old, or is no Java VM.");
    }
    Report(detail, kDefaultArgsFailed);
}

// The program as a user would type it in a console.
static void AppendProgramName(Detail* detail) {
    char* path = GetModulePath();
    if (path == nullptr || path[0] == '\0') {
        AppendText(detail, "the program");
    } else {
        const char* name = strrchr(path, '\\');
        AppendAnsi(detail, name != nullptr ? name + 1 : path);
    }
    free(path);
}

// Drops the line ends the text so far ends in, so that the next part
// starts on a line of its own exactly once.
static void EndLine(Detail* detail) {
    while (detail->length > 0 && !detail->cut &&
           (detail->text[detail->length - 1] == '\n' || detail->text[detail->length - 1] == '\r'))
        detail->text[--detail->length] = '\0';
    AppendText(detail, "\n");
}

// What the VM printed while it was being created; false if nothing.
static bool AppendWhatTheVmPrinted(Detail* detail) {
    if (!VmPrintedBeforeStart()) return false;
    AppendText(detail, "\nThe VM printed:\n");
    AppendVmStartOutput(detail);
    return true;
}

// A secret's value never reaches the log, on the console or in the event.
// An option is shown in a buffer of its own: the stack's for the usual
// ones, the heap's for a long boot class path. Options are in the ANSI code
// page, as the init file and the jars' names.
static void AppendShownOption(Detail* detail, const char* option) {
    char buffer[1024];
    size_t length = ShowOption(option, buffer, sizeof buffer);
    char* shown = length < sizeof buffer ? buffer : static_cast<char*>(malloc(length + 1));
    if (shown == nullptr) {
        AppendText(detail, "(an option of ");
        AppendNumber(detail, static_cast<long>(length));
        AppendText(detail, " bytes, with no memory to show it)");
        return;
    }
    if (shown != buffer) ShowOption(option, shown, length + 1);
    AppendAnsiShortened(detail, shown, kOptionEndsKept);
    if (shown != buffer) free(shown);
}

// What the VM printed, then the options it was handed, then, if it printed
// nothing, where to see its words.
static void AppendVmSide(Detail* detail, const JvmOptionList* options) {
    bool printed = AppendWhatTheVmPrinted(detail);
    if (printed) EndLine(detail);
    AppendText(detail, printed ? "The VM was handed these options:" : " The VM was handed these options:");
    for (jint i = 0; options != nullptr && i < options->count; ++i) {
        AppendText(detail, "\n");
        const char* option = options->options[i].optionString;
        if (option != nullptr) AppendShownOption(detail, option);
    }
    if (!printed) {
        AppendText(detail, "\nThe VM says why in a console: run \"");
        AppendProgramName(detail);
        AppendText(detail, " run\".");
    }
}

void ReportCreateFailure(const char* libraryPath, const char* missingExport, const JvmOptionList& options,
                         jint result) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, kCreateFailed);
    if (missingExport != nullptr) {
        AppendMissingExport(detail, libraryPath, missingExport);
    } else if (options.options == nullptr) {
        AppendText(detail, "No memory to assemble the VM options.");
    } else {
        AppendText(detail, "JNI_CreateJavaVM answered ");
        AppendJniResult(detail, result);
        AppendText(detail, ".");
        AppendVmSide(detail, &options);
    }
    Report(detail, kCreateFailed);
}

// How the VM ended the process, as the end of a sentence.
static void AppendHowItEnded(Detail* detail, bool aborted, jint exitCode) {
    if (aborted) {
        AppendText(detail, ", by aborting.");
    } else {
        AppendText(detail, ", with exit code ");
        AppendNumber(detail, exitCode);
        AppendText(detail, ".");
    }
}

void ReportCreateEnded(const JvmOptionList* options, bool aborted, jint exitCode) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, kCreateFailed);
    AppendText(detail, "The Java VM ended the process while it was being created");
    AppendHowItEnded(detail, aborted, exitCode);
    AppendVmSide(detail, options);
    Report(detail, kCreateFailed);
}

void ReportStartEnded(bool findingClass, bool aborted, jint exitCode) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, findingClass ? kClassNotFound : kStartThrew);
    AppendText(detail, "The Java VM ended the process during the kernel's start");
    AppendHowItEnded(detail, aborted, exitCode);
    if (AppendWhatTheVmPrinted(detail)) EndLine(detail);
    Report(detail, findingClass ? kClassNotFound : kStartThrew);
}

// ------------------------------------------------------------ the kernel class

void ReportClassNotFound(JNIEnv* env, const char* className) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return ReportClearing(env, kClassNotFound);
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown != nullptr) env->ExceptionClear();
    // FindClass also runs the class's static initializer: what that threw
    // arrives wrapped in an ExceptionInInitializerError, and its trace is
    // the one that shows where.
    bool initializerThrew =
        thrown != nullptr && IsInstanceOfClass(env, thrown, "java/lang/ExceptionInInitializerError");
    AppendText(detail, "Class ");
    AppendText(detail, className);
    AppendText(detail, initializerThrew ? " was found, but its static initializer threw:\n"
                                        : " could not be loaded from the jars of ..\\lib\\util or the class path:\n");
    if (thrown == nullptr) {
        AppendText(detail, "(the VM gave no reason)");
    } else {
        AppendThrowable(env, detail, thrown, initializerThrew);
        env->DeleteLocalRef(thrown);
    }
    Report(detail, kClassNotFound);
}

void ReportMissingMethods(const char* className, jmethodID constructorId, jmethodID startId, jmethodID stopId) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return Report(nullptr, kMethodsMissing);
    AppendText(detail, "Missing from ");
    AppendText(detail, className);
    AppendText(detail, ":");
    const struct {
        jmethodID id;
        const char* name;
    } methods[] = {{constructorId, " <init>()V"}, {startId, " start()V"}, {stopId, " stop()V"}};
    for (const auto& method : methods)
        if (method.id == nullptr) AppendText(detail, method.name);
    Report(detail, kMethodsMissing);
}

void ReportStartThrew(JNIEnv* env) {
    Detail* detail = NewDetail();
    if (detail == nullptr) return ReportClearing(env, kStartThrew);
    if (!AppendPendingThrowable(env, detail, true))
        AppendText(detail, "The constructor gave no object and threw nothing.");
    Report(detail, kStartThrew);
}
