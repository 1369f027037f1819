// The block on the kernel class: which jar or folder a start's VM finds it
// in. The start names no class path of its own: FindClass asks the system
// class loader, which asks the boot class path first, then the class path.
// Both are read from the options the start hands to the VM, in the order
// the VM searches them.
#include "CheckBlocks.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "CheckWriter.h"
#include "JarIndex.h"
#include "Kernel.h"
#include "ProductProfile.h"

enum PathKind { BootClassPath, ClassPath };

// Longest class path entry looked into; a longer one counts as unread.
enum { kEntryCapacity = 1024 };

struct KernelSearch {
    char entryName[512];  // as a jar holds it: com/example/Kernel.class
    char fileName[512];   // as a folder holds it: com\example\Kernel.class
    char first[kEntryCapacity];
    bool found;
    bool unread;  // something that may hold it could not be read
};

static const char* PathName(PathKind kind) { return kind == BootClassPath ? "the boot class path" : "the class path"; }

static void BeginEntryLine(LineKind kind, const char* entry, PathKind path) {
    BeginLine(kind);
    SayAnsi(entry);
    Say(" (");
    Say(PathName(path));
    Say(")");
}

static bool FolderHolds(const KernelSearch* search, const char* folder) {
    char path[kEntryCapacity + sizeof search->fileName + 1];
    snprintf(path, sizeof path, "%s\\%s", folder, search->fileName);
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether the jar holds the class; false, with the reason said, when it
// cannot be read.
static bool JarHolds(KernelSearch* search, const char* jar, PathKind path, bool* holds) {
    DWORD error = ERROR_SUCCESS;
    JarAnswer answer = FindJarEntry(jar, search->entryName, &error);
    *holds = answer == JarHoldsEntry;
    if (answer == JarHoldsEntry || answer == JarLacksEntry) return true;
    if (JarIsNoZip(answer)) {
        BeginEntryLine(ProblemLine, jar, path);
        Say(" is not a readable zip: ");
        Say(JarAnswerText(answer));
        NameProblemOf("", jar, " is not a readable zip");
    } else {
        BeginEntryLine(NoticeLine, jar, path);
        Say(" could not be read: ");
        if (answer == JarUnreadable)
            SayWindowsError(error, nullptr);
        else
            Say(JarAnswerText(answer));
        search->unread = true;
    }
    EndLine();
    return false;
}

static void SearchEntry(KernelSearch* search, const char* entry, PathKind path) {
    DWORD attributes = GetFileAttributesA(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        BeginEntryLine(NoticeLine, entry, path);
        Say(" is not there");
        EndLine();
        return;
    }
    bool holds = false;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        holds = FolderHolds(search, entry);
    else if (!JarHolds(search, entry, path, &holds))
        return;
    if (!holds) return;
    if (search->found) {
        BeginEntryLine(NoticeLine, entry, path);
        Say(" holds it too: a start loads it from the first, ");
        SayAnsi(search->first);
    } else {
        search->found = true;
        snprintf(search->first, sizeof search->first, "%s", entry);
        BeginEntryLine(InfoLine, entry, path);
        Say(" holds it: a start loads it from there");
    }
    EndLine();
}

// The entries of a path list, separated by ";"; empty ones name nothing.
static void SearchEntries(KernelSearch* search, const char* list, PathKind path) {
    for (const char* at = list; *at != '\0';) {
        const char* end = strchr(at, ';');
        size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (length >= kEntryCapacity) {
            BeginLine(NoticeLine);
            Say("an entry of ");
            Say(PathName(path));
            Say(" is too long to be looked into");
            EndLine();
            search->unread = true;
        } else if (length > 0) {
            char entry[kEntryCapacity];
            memcpy(entry, at, length);
            entry[length] = '\0';
            SearchEntry(search, entry, path);
        }
        at += length;
        if (*at == ';') ++at;
    }
}

// The text after `prefix`, or null when the option does not begin with it.
static const char* After(const char* option, const char* prefix) {
    size_t length = strlen(prefix);
    return strncmp(option, prefix, length) == 0 ? option + length : nullptr;
}

// The java launcher's class path options ("-cp x.jar"): a VM created
// through JNI takes none of them.
static bool IsLauncherClassPathOption(const char* option) {
    static const char* const kNames[] = {"-cp", "-classpath", "--class-path"};
    for (const char* name : kNames) {
        const char* rest = After(option, name);
        if (rest != nullptr && (*rest == '\0' || *rest == ' ' || *rest == '\t' || *rest == '=')) return true;
    }
    return false;
}

static void SayNotSearched(const char* option, const char* why) {
    BeginLine(NoticeLine);
    SayOption(option);
    Say(": not searched: ");
    Say(why);
    EndLine();
}

// The boot class path as the VM searches it: what -Xbootclasspath/p: puts
// before its own classes (the last option first; a classic VM only), what
// -Xbootclasspath: puts in their place (a classic VM only), then what
// -Xbootclasspath/a: appends, in order. Then the class path: the last
// -Djava.class.path= wins.
static void SearchOptions(KernelSearch* search, const JvmOptionList& list, VmGeneration generation) {
    const char* rest = nullptr;
    const char* classPath = nullptr;
    for (jint i = list.count; i-- > 0;)
        if ((rest = After(list.options[i].optionString, "-Xbootclasspath/p:")) != nullptr && generation == ClassicVm)
            SearchEntries(search, rest, BootClassPath);
    for (jint i = 0; i < list.count; ++i)
        if ((rest = After(list.options[i].optionString, "-Xbootclasspath:")) != nullptr && generation == ClassicVm)
            SearchEntries(search, rest, BootClassPath);
    for (jint i = 0; i < list.count; ++i) {
        const char* option = list.options[i].optionString;
        if ((rest = After(option, "-Xbootclasspath/a:")) != nullptr) SearchEntries(search, rest, BootClassPath);
        if ((rest = After(option, "-Djava.class.path=")) != nullptr) classPath = rest;
        if (IsLauncherClassPathOption(option))
            SayNotSearched(option,
                           "an option of the java launcher, which a VM created here does not take (its own is "
                           "-Djava.class.path=)");
        if (generation == ModularVm &&
            (After(option, "-Xbootclasspath/p:") != nullptr || After(option, "-Xbootclasspath:") != nullptr))
            SayNotSearched(option, "a modular VM (Java 9 or later) does not take it");
    }
    if (classPath != nullptr) SearchEntries(search, classPath, ClassPath);
}

static void SayNotFound(const KernelSearch* search) {
    if (search->unread) {
        BeginLine(NoticeLine);
        Say("no jar or folder that check could read holds it; unless one that it could not read does, a start fails "
            "with: Cannot locate the Kernel class");
    } else {
        BeginLine(ProblemLine);
        Say("no jar or folder on the class paths holds it, so a start fails with: Cannot locate the Kernel class");
        NameProblem("no jar or folder holds the kernel class");
    }
    EndLine();
}

void CheckKernelClass(CheckContext* context) {
    BeginBlock("The kernel class ", Profile.kernelClassName);
    KernelSearch search;
    memset(&search, 0, sizeof search);
    snprintf(search.entryName, sizeof search.entryName, "%s.class", Profile.kernelClassName);
    snprintf(search.fileName, sizeof search.fileName, "%s", search.entryName);
    for (char* at = search.fileName; *at != '\0'; ++at)
        if (*at == '/') *at = '\\';
    // Built as the options' block built them; the paths in them resolve
    // against the module directory, where building leaves the working directory.
    VmGeneration generation = context->libraryAnswered ? context->generation : ClassicVm;
    JvmOptionList list = BuildStartOptions(context->moduleDirectory, generation);
    if (list.options == nullptr) {
        BeginLine(NoticeLine);
        Say("no memory to look for it");
        EndLine();
        return;
    }
    SearchOptions(&search, list, generation);
    FreeJvmOptionList(&list);
    if (!search.found) SayNotFound(&search);
}
