// Console command "check": one block per part of the installation, each
// asked the way the start asks it, so that the report and a real start
// cannot disagree.
#include "Check.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "EventSource.h"
#include "JvmOptions.h"
#include "Kernel.h"
#include "LaunchLayout.h"
#include "PeImage.h"
#include "ProductProfile.h"
#include "Registration.h"
#include "SystemText.h"

// ------------------------------------------------------------ the findings

// The problems, named for the last line (the first few of them; all are
// counted), and whether a start would reach the creation of the VM.
enum { kMostProblemsNamed = 32, kProblemNameCapacity = 128 };

struct Findings {
    char names[kMostProblemsNamed][kProblemNameCapacity];
    int problems;
    bool libraryAnswered;  // loaded, and it told its generation
    VmGeneration generation;
    bool optionsBuilt;
    bool firstBlock;
};

static Findings Found;

enum LineKind { InfoLine, ProblemLine, NoticeLine };

// A line is printed in pieces: fixed text as it is, paths and options in
// the console's code page.
static void Begin(LineKind kind) {
    static const char* const kMarks[] = {"  ", "  problem: ", "  notice: "};
    fputs(kMarks[kind], stdout);
}

static void Say(const char* text) { fputs(text, stdout); }
static void SayAnsi(const char* text) { PrintAnsi(stdout, text); }
static void End() { fputs("\n", stdout); }

static void SayNumber(long number) { printf("%ld", number); }

// A blank line between blocks.
static void Heading(const char* title, const char* ansiName) {
    if (!Found.firstBlock) Say("\n");
    Found.firstBlock = false;
    Say(title);
    SayAnsi(ansiName);
    End();
}

// Counts a problem and keeps its name (ASCII, formatted by the caller).
static void NameProblem(const char* name) {
    if (Found.problems < kMostProblemsNamed) snprintf(Found.names[Found.problems], kProblemNameCapacity, "%s", name);
    ++Found.problems;
}

// "Windows error N: the system's text", the insert filled with `insert`.
static void SayWindowsError(DWORD error, const char* insert) {
    static char text[3 * 32768 + 1024];  // room for the longest path and the text around it
    Say("Windows error ");
    SayNumber(static_cast<long>(error));
    if (SystemText(error, insert, text, sizeof text) > 0) {
        Say(": ");
        SayAnsi(text);
    }
}

static void SayFailedCall(const char* call, DWORD error) {
    Say(call);
    Say(" failed: ");
    SayWindowsError(error, nullptr);
}

// An option as the start's lists show it: a secret's value as ****.
static void SayOption(const char* option) {
    size_t shown = ShownSecretOptionLength(option);
    if (shown == 0) {
        SayAnsi(option);
        return;
    }
    char visible[512];
    if (shown >= sizeof visible) shown = sizeof visible - 1;
    memcpy(visible, option, shown);
    visible[shown] = '\0';
    SayAnsi(visible);
    Say("****");
}

// ------------------------------------------------------------ the program

static void CheckProgram(const char* modulePath) {
    Heading("The program", "");
    Begin(InfoLine);
    SayAnsi(modulePath);
    Say(", ");
    Say(PeMachineName(OwnPeMachine()));
    End();
    if (ModulePathIsFaithful()) return;
    Begin(ProblemLine);
    Say("its path has characters that the system's code page cannot hold, so no server\\jvm.dll can be loaded "
        "below it: install the program to a folder whose name uses only characters of the system's code page");
    End();
    NameProblem("the program's folder has a name outside the system's code page");
}

// ------------------------------------------------------------ the service

static const char* StartTypeName(DWORD startType) {
    switch (startType) {
        case SERVICE_BOOT_START:
            return "boot start";
        case SERVICE_SYSTEM_START:
            return "system start";
        case SERVICE_AUTO_START:
            return "automatic start";
        case SERVICE_DEMAND_START:
            return "demand start";
        case SERVICE_DISABLED:
            return "disabled";
        default:
            return "an unknown start type";
    }
}

// The program a registered command line starts: the quoted part, or, with
// no quotes, the whole line (the manager tries it word by word).
static void CommandLineProgram(const char* commandLine, char* program, size_t capacity) {
    const char* start = commandLine;
    size_t length = strlen(commandLine);
    if (commandLine[0] == '"') {
        start = commandLine + 1;
        const char* close = strchr(start, '"');
        length = close != nullptr ? static_cast<size_t>(close - start) : strlen(start);
    }
    if (length >= capacity) length = capacity - 1;
    memcpy(program, start, length);
    program[length] = '\0';
}

static void JudgeImagePath(const char* imagePath, const char* modulePath) {
    char* expected = ServiceCommandLine(modulePath);
    bool exact = expected != nullptr && lstrcmpiA(imagePath, expected) == 0;
    free(expected);
    char program[32768];
    CommandLineProgram(imagePath, program, sizeof program);
    bool thisProgram = lstrcmpiA(program, modulePath) == 0;
    if (exact || (thisProgram && imagePath[0] == '"')) {
        Begin(InfoLine);
        Say("its command line names this program");
    } else if (thisProgram) {
        Begin(ProblemLine);
        Say("its command line names this program without quotes, though its path has a blank: the service manager "
            "may start another program first; run uninstall, then install");
        NameProblem("the service's command line lacks quotes");
    } else {
        Begin(ProblemLine);
        Say("its command line names another copy of the program, which the service manager starts: ");
        SayAnsi(program);
        Say("; to start this one, run uninstall, then install from here");
        NameProblem("the service starts another copy of the program");
    }
    End();
}

static void SayService(const QUERY_SERVICE_CONFIGA* config, const char* modulePath) {
    Begin(config->dwStartType == SERVICE_DISABLED ? ProblemLine : InfoLine);
    Say("installed: ");
    Say(StartTypeName(config->dwStartType));
    Say(", account ");
    SayAnsi(config->lpServiceStartName != nullptr ? config->lpServiceStartName : "");
    if (config->dwStartType == SERVICE_DISABLED) {
        Say(": the service manager will not start it");
        NameProblem("the service is disabled");
    }
    End();
    JudgeImagePath(config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "", modulePath);
}

// The registered configuration, in a heap block; null, with the failed
// call said, when it cannot be read.
static QUERY_SERVICE_CONFIGA* QueryConfig(SC_HANDLE service) {
    DWORD needed = 0;
    if (QueryServiceConfigA(service, nullptr, 0, &needed) || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(malloc(needed > 0 ? needed : 1));
        if (config != nullptr && QueryServiceConfigA(service, config, needed, &needed)) return config;
        free(config);
        if (config == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD error = GetLastError();
    Begin(NoticeLine);
    Say("its configuration could not be read: ");
    SayFailedCall("QueryServiceConfigA", error);
    End();
    return nullptr;
}

static void CheckService(const char* modulePath) {
    Heading("The service ", Profile.serviceName);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        Begin(NoticeLine);
        Say("the service manager could not be asked: ");
        SayFailedCall("OpenSCManagerA", error);
        End();
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, Profile.serviceName, SERVICE_QUERY_CONFIG);
    DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (service == nullptr && error == ERROR_SERVICE_DOES_NOT_EXIST) {
        Begin(NoticeLine);
        Say("not installed: the command install registers this program as the service");
        End();
    } else if (service == nullptr) {
        Begin(NoticeLine);
        Say("the service could not be opened: ");
        SayFailedCall("OpenServiceA", error);
        End();
    } else {
        QUERY_SERVICE_CONFIGA* config = QueryConfig(service);
        if (config != nullptr) SayService(config, modulePath);
        free(config);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

// ------------------------------------------------------------ the event source

static void CheckEventSource(const char* modulePath) {
    Heading("The event source ", Profile.serviceName);
    static char messageFile[32768];
    EventSourceOwner owner = EventSourceOfNoProgram;
    LSTATUS status = ReadEventSource(modulePath, &owner, messageFile, sizeof messageFile);
    if (status == ERROR_FILE_NOT_FOUND) {
        Begin(NoticeLine);
        Say("not registered: Event Viewer shows the service's events without their text; install registers it");
    } else if (status != ERROR_SUCCESS) {
        Begin(NoticeLine);
        Say("could not be read: ");
        SayFailedCall("RegOpenKeyExA", static_cast<DWORD>(status));
    } else if (owner == EventSourceOfThisProgram && lstrcmpiA(messageFile, modulePath) == 0) {
        Begin(InfoLine);
        Say("registered for this program");
    } else if (owner == EventSourceOfThisProgram) {
        Begin(NoticeLine);
        Say("registered for another copy of this program, whose texts Event Viewer shows: ");
        SayAnsi(messageFile);
        Say("; install from here moves it here");
    } else if (owner == EventSourceOfNoProgram) {
        Begin(NoticeLine);
        Say("registered for a file that is not there, so Event Viewer cannot show the texts of the service's "
            "events: ");
        SayAnsi(messageFile);
        Say("; install from here takes it over");
    } else {
        Begin(NoticeLine);
        Say("another program's, left to it: ");
        SayAnsi(messageFile);
    }
    End();
}

// ------------------------------------------------------------ the VM library

static void SayMissingImport(const char* name) {
    Begin(ProblemLine);
    Say("it needs ");
    SayAnsi(name);
    Say(", which the loader cannot find");
    const char* package = RuntimePackageOf(name);
    if (package != nullptr) {
        Say(": it comes with ");
        Say(package);
    }
    End();
}

static bool NoteMissingImport(const char* name, void* context) {
    if (LoaderFindsLibrary(name)) return true;
    SayMissingImport(name);
    ++*static_cast<int*>(context);
    return true;
}

// The libraries the image imports that the loader cannot find from here.
static bool CheckImports(const char* libraryPath) {
    int missing = 0;
    ForEachPeImport(libraryPath, NoteMissingImport, &missing);  // a table cut short still names what it held
    if (missing > 0) {
        NameProblem(missing == 1 ? "a library that server\\jvm.dll needs is missing"
                                 : "libraries that server\\jvm.dll needs are missing");
        return false;
    }
    Begin(InfoLine);
    Say("the loader finds every library it imports");
    End();
    return true;
}

static bool CheckExports(const char* libraryPath) {
    static const char* const kExports[] = {"JNI_GetDefaultJavaVMInitArgs", "JNI_CreateJavaVM"};
    bool both = true;
    for (const char* name : kExports) {
        if (PeImageExports(libraryPath, name)) continue;
        both = false;
        Begin(ProblemLine);
        Say("it has no export ");
        Say(name);
        Say(": it is not a Java VM library");
        End();
    }
    if (both) {
        Begin(InfoLine);
        Say("exports JNI_GetDefaultJavaVMInitArgs and JNI_CreateJavaVM");
        End();
    } else {
        NameProblem("server\\jvm.dll is not a Java VM library");
    }
    return both;
}

// A 32-bit Java 8 runtime may ship only a client VM beside the missing server one.
static void CheckClientVm(const char* libraryPath) {
    char* clientPath = ClientVmBeside(libraryPath);
    if (clientPath == nullptr) return;
    Begin(NoticeLine);
    SayAnsi(clientPath);
    Say(" is there: a client VM. This program loads only a server VM (server\\jvm.dll): install a Java runtime "
        "that has one");
    End();
    free(clientPath);
}

// Loads the library as the start does and asks it the start's questions.
static void AskGeneration(const char* libraryPath) {
    HMODULE library = LoadLibraryA(libraryPath);
    if (library == nullptr) {
        DWORD error = GetLastError();
        Begin(ProblemLine);
        Say("it does not load: ");
        SayWindowsError(error, libraryPath);
        End();
        NameProblem("server\\jvm.dll does not load");
        return;
    }
    // Left loaded, as the start leaves it: a VM library is not made to be unloaded.
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    jint result = JNI_OK;
    VmLibraryAnswer answer = AskVmLibrary(library, &args, &result, &Found.generation);
    if (answer != VmLibraryAnswered) {
        Begin(ProblemLine);
        if (answer == VmLibraryLacksDefaultArgs) {
            Say("loaded, it gives no JNI_GetDefaultJavaVMInitArgs");
        } else {
            Say("it refuses JNI_GetDefaultJavaVMInitArgs for JNI 1.4 (result ");
            SayNumber(result);
            Say(")");
        }
        End();
        NameProblem("server\\jvm.dll refuses the start's first question");
        return;
    }
    Found.libraryAnswered = true;
    Begin(InfoLine);
    Say(Found.generation == ModularVm
            ? "a modular VM (Java 9 or later): the jars are appended to its boot class path (-Xbootclasspath/a:)"
            : "a classic VM (Java 8 or earlier): the jars are put before its own classes (-Xbootclasspath/p:)");
    End();
}

static void CheckLibraryFile(const char* libraryPath) {
    DWORD attributes = GetFileAttributesA(libraryPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Begin(ProblemLine);
        Say("not found");
        End();
        NameProblem("server\\jvm.dll is missing");
        CheckClientVm(libraryPath);
        return;
    }
    WORD machine = PeImageMachine(libraryPath);
    if (machine == 0) {
        Begin(ProblemLine);
        Say("it is no Windows library (no PE image)");
        End();
        NameProblem("server\\jvm.dll is no Windows library");
        return;
    }
    bool sameMachine = machine == OwnPeMachine();
    Begin(sameMachine ? InfoLine : ProblemLine);
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
    End();
    bool exported = CheckExports(libraryPath);
    if (!sameMachine) return;
    if (CheckImports(libraryPath) && exported) AskGeneration(libraryPath);
}

static void CheckVmLibrary(const char* moduleDirectory) {
    Heading("The VM library", "");
    char* libraryPath = BuildLibraryPath(moduleDirectory);
    if (libraryPath == nullptr) {
        Begin(ProblemLine);
        Say("the program's own directory is unknown, so no server\\jvm.dll is looked for below it");
        End();
        NameProblem("no server\\jvm.dll is looked for");
        return;
    }
    Begin(InfoLine);
    SayAnsi(libraryPath);
    End();
    CheckLibraryFile(libraryPath);
    free(libraryPath);
}

// ------------------------------------------------------------ the init file

// Lines listed for one init file; past them, a count. Problems are counted all the same.
enum { kMostInitFileLinesListed = 200 };

struct InitFileReading {
    InitFilePiece pending;  // a piece of a cut line, judged once the next piece shows what follows it
    char pendingText[512];
    bool hasPending;
    int listed;
    int unlisted;
};

static bool IsWhitespace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\v' || byte == '\f';
}

static bool IsBlank(const char* text) {
    for (; *text != '\0'; ++text)
        if (!IsWhitespace(*text)) return false;
    return true;
}

// The text the start makes of a piece: its trailing whitespace removed.
static void Trimmed(const char* piece, char* text, size_t capacity) {
    size_t length = strlen(piece);
    if (length >= capacity) length = capacity - 1;
    while (length > 1 && IsWhitespace(piece[length - 1])) --length;
    memcpy(text, piece, length);
    text[length] = '\0';
}

static bool ListLine(InitFileReading* reading, LineKind kind, int line) {
    if (reading->listed >= kMostInitFileLinesListed) {
        ++reading->unlisted;
        return false;
    }
    ++reading->listed;
    Begin(kind);
    Say("line ");
    SayNumber(line);
    return true;
}

static void NameLineProblem(const char* what, int line) {
    char name[kProblemNameCapacity];
    snprintf(name, sizeof name, "init file line %d %s", line, what);
    NameProblem(name);
}

static void SayByteOrderMark(InitFileReading* reading, const InitFilePiece& piece) {
    const char* hidden = piece.text + 3;
    bool hidesOption = hidden[0] == '-';
    if (!ListLine(reading, hidesOption ? ProblemLine : NoticeLine, piece.line)) return;
    if (hidesOption) {
        char option[512];
        Trimmed(hidden, option, sizeof option);
        Say(" is ignored: it begins with a byte-order mark (a file saved as UTF-8 with BOM), which hides the option ");
        SayOption(option);
        NameLineProblem("hides an option behind a byte-order mark", piece.line);
    } else {
        Say(" is ignored: it does not begin with \"-\" (it begins with a byte-order mark)");
    }
    End();
}

// One piece, judged: cut tells whether its line went on past it.
static void SayPiece(InitFileReading* reading, const InitFilePiece& piece, bool cut) {
    char option[512];
    Trimmed(piece.text, option, sizeof option);
    long firstByte = static_cast<long>(piece.piece - 1) * 511 + 1;
    if (piece.byteOrderMark) {
        SayByteOrderMark(reading, piece);
    } else if (piece.fate == PiecePastLastOption) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(" is ignored: the start takes only the first 50 options of the init file: ");
            SayOption(option);
            End();
        }
        NameLineProblem("is past the 50th option", piece.line);
    } else if (piece.fate == PieceBecameOption && piece.piece > 1) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(": its bytes from ");
            SayNumber(firstByte);
            Say(" on make an option of their own: ");
            SayOption(option);
            End();
        }
        NameLineProblem("makes an option of its bytes past the 511th", piece.line);
    } else if (piece.fate == PieceBecameOption && cut) {
        if (ListLine(reading, ProblemLine, piece.line)) {
            Say(" is longer than 511 bytes: the start takes its first 511 as the option ");
            SayOption(option);
            Say(", and the rest as lines of their own");
            End();
        }
        NameLineProblem("is cut after 511 bytes", piece.line);
    } else if (piece.fate == PieceBecameOption) {
        if (ListLine(reading, InfoLine, piece.line)) {
            Say(": ");
            SayOption(option);
            End();
        }
    } else if (piece.piece == 1 && !IsBlank(piece.text)) {
        // The rest of a line that is ignored, or of a cut option, adds nothing.
        if (ListLine(reading, NoticeLine, piece.line)) {
            Say(" is ignored: it does not begin with \"-\"");
            End();
        }
    }
}

static void FlushPending(InitFileReading* reading, bool cut) {
    if (!reading->hasPending) return;
    reading->hasPending = false;
    SayPiece(reading, reading->pending, cut);
}

// The reader's observer. A piece of a cut line waits for the next one: a
// rest that is only the line's end cuts nothing.
static void SeePiece(const InitFilePiece& piece, void* context) {
    auto* reading = static_cast<InitFileReading*>(context);
    if (reading->hasPending) {
        bool restIsBlank = !piece.cut && IsBlank(piece.text);
        FlushPending(reading, !restIsBlank);
        if (restIsBlank) return;
    }
    if (!piece.cut) {
        SayPiece(reading, piece, false);
        return;
    }
    reading->pending = piece;
    snprintf(reading->pendingText, sizeof reading->pendingText, "%s", piece.text);
    reading->pending.text = reading->pendingText;
    reading->hasPending = true;
}

static void CheckInitFile(const char* moduleDirectory) {
    Heading("The init file ", Profile.initFileName);
    SetCurrentDirectoryA(moduleDirectory);
    FILE* initFile = fopen(Profile.initFileName, "rb");
    if (initFile == nullptr) {
        Begin(NoticeLine);
        Say("there is none: it contributes no options");
        End();
        return;
    }
    static InitFileReading reading;
    memset(&reading, 0, sizeof reading);
    InitFileObserver observer = {SeePiece, &reading};
    char* options[MaxInitFileOptions];
    int count = ReadInitFileOptions(initFile, options, MaxInitFileOptions, &observer);
    fclose(initFile);
    FlushPending(&reading, true);
    for (int i = 0; i < count; ++i) free(options[i]);
    if (reading.unlisted > 0) {
        Begin(NoticeLine);
        SayNumber(reading.unlisted);
        Say(" more lines are not listed");
        End();
    }
    Begin(InfoLine);
    int contributed = count >= 0 ? count : 0;
    SayNumber(contributed);
    Say(contributed == 1 ? " option from it" : " options from it");
    End();
}

// ------------------------------------------------------------ the jars

static bool SayJar(const char* fileName, void* context) {
    Begin(InfoLine);
    SayNumber(++*static_cast<int*>(context));
    Say(". ");
    SayAnsi(fileName);
    End();
    return true;
}

static void SaySkippedJar(const char* fileName, void*) {
    Begin(NoticeLine);
    SayAnsi(fileName);
    Say(" is skipped: only names that end in .jar count (the search matched it by its short name)");
    End();
}

static void CheckJars(const char* moduleDirectory) {
    Heading("The jars in ", kJarDirectory);
    SetCurrentDirectoryA(moduleDirectory);
    if (!SetCurrentDirectoryA(kJarDirectory)) {
        Begin(ProblemLine);
        Say("there is no such directory: the boot class path holds no jar");
        End();
        NameProblem("the jar directory is missing");
        SetCurrentDirectoryA(moduleDirectory);
        return;
    }
    int jars = 0;
    ListJarsOfWorkingDirectory(SayJar, SaySkippedJar, &jars);
    SetCurrentDirectoryA(moduleDirectory);
    Begin(jars > 0 ? InfoLine : ProblemLine);
    SayNumber(jars);
    Say(jars == 1 ? " jar goes on the boot class path, in the order listed"
                  : " jars go on the boot class path, in the order listed");
    if (jars == 0) {
        Say(": none, so the kernel class cannot be found");
        NameProblem("no jar in the jar directory");
    }
    End();
}

// ------------------------------------------------------------ the options

static void CheckOptions(const char* moduleDirectory) {
    Heading("The options the start hands to the VM", "");
    if (!Found.libraryAnswered) {
        Begin(NoticeLine);
        Say("the start ends before it hands them over (see the VM library); shown as for a classic VM");
        End();
    }
    JvmOptionList list = BuildStartOptions(moduleDirectory, Found.libraryAnswered ? Found.generation : ClassicVm);
    if (list.options == nullptr) {
        Begin(ProblemLine);
        Say("no memory to build them");
        End();
        NameProblem("no memory for the options");
        return;
    }
    for (jint i = 0; i < list.count; ++i) {
        Begin(InfoLine);
        SayOption(list.options[i].optionString);
        End();
    }
    Found.optionsBuilt = true;
    FreeJvmOptionList(&list);
}

// ------------------------------------------------------------ the last line

static void SayVerdict() {
    Say("\n");
    if (Found.problems == 0) {
        Say("ready\n");
        return;
    }
    SayNumber(Found.problems);
    Say(Found.problems == 1 ? " problem: " : " problems: ");
    int named = Found.problems < kMostProblemsNamed ? Found.problems : kMostProblemsNamed;
    for (int i = 0; i < named; ++i) {
        if (i > 0) Say("; ");
        Say(Found.names[i]);
    }
    if (Found.problems > named) {
        Say("; and ");
        SayNumber(Found.problems - named);
        Say(" more");
    }
    End();
}

int RunCheck() {
    memset(&Found, 0, sizeof Found);
    Found.firstBlock = true;
    char* modulePath = GetModulePath();
    char* moduleDirectory = GetModuleDirectory();
    if (modulePath == nullptr || moduleDirectory == nullptr) {
        free(modulePath);
        free(moduleDirectory);
        fputs("No memory for the check.\n", stdout);
        return 1;
    }
    CheckProgram(modulePath);
    CheckService(modulePath);
    CheckEventSource(modulePath);
    CheckVmLibrary(moduleDirectory);
    if (moduleDirectory[0] != '\0') {
        CheckInitFile(moduleDirectory);
        CheckJars(moduleDirectory);
        CheckOptions(moduleDirectory);
    }
    SayVerdict();
    fflush(stdout);
    bool reachesCreate = Found.libraryAnswered && Found.optionsBuilt;
    free(moduleDirectory);
    free(modulePath);
    return reachesCreate ? 0 : 1;
}
