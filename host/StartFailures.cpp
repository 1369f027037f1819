#include "StartFailures.h"

#include <stdlib.h>
#include <string.h>

#include "Detail.h"
#include "LaunchLayout.h"
#include "ReportError.h"
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

static const char* MachineName(WORD machine) {
    switch (machine) {
        case 0x014c:
            return "32-bit (x86)";
        case 0x8664:
            return "64-bit (x64)";
        case 0xaa64:
            return "64-bit ARM (ARM64)";
        default:
            return nullptr;
    }
}

static WORD OwnMachine() { return sizeof(void*) == 8 ? 0x8664 : 0x014c; }

static DWORD LittleEndian(const unsigned char* bytes, int count) {
    DWORD value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// The machine a PE image was built for, from its headers; 0 when the file
// cannot be read or is no PE image.
static WORD ImageMachine(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char header[4096];
    DWORD got = 0;
    BOOL read = ReadFile(file, header, sizeof header, &got, nullptr);
    CloseHandle(file);
    if (!read || got < 0x40 || header[0] != 'M' || header[1] != 'Z') return 0;
    DWORD peOffset = LittleEndian(header + 0x3c, 4);
    if (peOffset > got - 6 || memcmp(header + peOffset, "PE\0\0", 4) != 0) return 0;
    return static_cast<WORD>(LittleEndian(header + peOffset + 4, 2));
}

static void AppendWindowsError(DWORD error) {
    AppendText(&FailureDetail, "Windows error ");
    AppendNumber(&FailureDetail, static_cast<long>(error));
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = '\0';
    if (length > 0) {
        AppendText(&FailureDetail, ": ");
        AppendAnsi(&FailureDetail, text);
    }
}

// Says so when the file is a library for another machine than this
// program's: the commonest reason, which looks like a missing file otherwise.
static void AppendBitnessMismatch(const char* libraryPath) {
    WORD machine = ImageMachine(libraryPath);
    if (machine == 0 || machine == OwnMachine()) return;
    const char* library = MachineName(machine);
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
    bool ownIs64 = OwnMachine() == 0x8664;
    AppendText(&FailureDetail, " and this program is ");
    AppendText(&FailureDetail, MachineName(OwnMachine()));
    AppendText(&FailureDetail, ownIs64 ? ": install a 64-bit Java runtime there, or use the 32-bit build"
                                       : ": install a 32-bit Java runtime there, or use the 64-bit build");
}

void ReportLoadFailure(const char* moduleDirectory, const char* libraryPath, DWORD error) {
    ClearDetail(&FailureDetail);
    if (moduleDirectory == nullptr || moduleDirectory[0] == '\0') {
        AppendText(&FailureDetail,
                   "The program's own directory is unknown, so no server\\jvm.dll was looked for below it.");
    } else if (libraryPath == nullptr) {
        AppendText(&FailureDetail, "No memory for the library path.");
    } else {
        AppendText(&FailureDetail, "Tried ");
        AppendAnsi(&FailureDetail, libraryPath);
        AppendText(&FailureDetail, "\n");
        AppendWindowsError(error);
        AppendBitnessMismatch(libraryPath);
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
static void AppendShownOption(const char* option) {
    size_t shown = ShownSecretOptionLength(option);
    if (shown == 0) {
        AppendShortened(&FailureDetail, option, kOptionEndsKept);
        return;
    }
    char masked[kOptionEndsKept + 8];
    size_t kept = shown < kOptionEndsKept ? shown : kOptionEndsKept;
    memcpy(masked, option, kept);
    memcpy(masked + kept, "****", sizeof "****");
    AppendText(&FailureDetail, masked);
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
