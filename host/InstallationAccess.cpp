#include "InstallationAccess.h"

#include <windows.h>

#include <aclapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Accounts.h"
#include "Detail.h"
#include "JvmOptions.h"
#include "LaunchLayout.h"
#include "Permissions.h"
#include "ProductProfile.h"
#include "ReportError.h"
#include "SystemText.h"

bool LeadsToVmLibrary(InstallationPart part) {
    return part == ProgramFolderPart || part == VmFolderPart || part == VmLibraryPart || part == HomePart ||
           part == FolderAbovePart;
}

static DWORD RightsThatMatter(InstallationPart part) {
    switch (part) {
        case ProgramPart:
        case InitFilePart:
        case VmLibraryPart:
        case JarPart:
            return kRightsToChangeFile;
        case FolderAbovePart:
            return kRightsToReplaceBelow;
        default:
            return kRightsToChangeFolder;
    }
}

// ------------------------------------------------------------ what a finding says

// Windows paths are at most 32,767 characters; account names far shorter.
enum { kFindingCapacity = 32768 + 1024 };

static const char* Verb(DWORD rights) {
    if ((rights & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | GENERIC_WRITE | GENERIC_ALL)) != 0) return "modify";
    if ((rights & FILE_DELETE_CHILD) != 0) return "delete and replace what is in";
    if ((rights & WRITE_DAC) != 0) return "change the permissions of";
    return "take ownership of";
}

static void DescribeFinding(const AccessFinding& finding, const char* path, char* text, size_t capacity) {
    if (finding.verdict == NoPermissionList) {
        snprintf(text, capacity,
                 "%s has no permission list, so anyone can modify it: anyone can run code as LocalSystem", path);
        return;
    }
    char name[600];
    bool group = false;
    NameAccount(const_cast<BYTE*>(finding.account), name, sizeof name, &group);
    const char* unverified = finding.notVerified ? ", whose groups could not be looked up," : "";
    const char* consequence =
        group ? "any of them can run code as LocalSystem" : "that account can run code as LocalSystem";
    if (finding.verdict == OwnerNotTrusted) {
        snprintf(text, capacity, "%s%s owns %s and so can change its permissions: %s", name, unverified, path,
                 consequence);
    } else {
        snprintf(text, capacity, "%s%s can %s %s: %s", name, unverified, Verb(finding.rights), path, consequence);
    }
}

// ------------------------------------------------------------ the walk

struct Walk {
    PartAccessSeen seen;
    void* context;
    int judged;
    char finding[kFindingCapacity];
};

static void JudgePart(Walk* walk, InstallationPart part, const char* path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;  // what is missing, the check names
    ++walk->judged;
    PartAccess access = {part, path, error, nullptr};
    if (error == ERROR_SUCCESS) {
        AccessFinding finding = JudgeAccess(descriptor, RightsThatMatter(part), TrustOfAccount, nullptr);
        LocalFree(descriptor);
        if (finding.verdict == OnlyTrustedCanChange) return;
        DescribeFinding(finding, path, walk->finding, sizeof walk->finding);
        access.finding = walk->finding;
    }
    walk->seen(access, walk->context);
}

// folder and name, with one backslash between them, in a heap block.
static char* Joined(const char* folder, const char* name) {
    size_t length = strlen(folder);
    bool separated = length > 0 && folder[length - 1] == '\\';
    char* path = static_cast<char*>(malloc(length + strlen(name) + 2));
    if (path != nullptr) snprintf(path, length + strlen(name) + 2, "%s%s%s", folder, separated ? "" : "\\", name);
    return path;
}

static void JudgeJoined(Walk* walk, InstallationPart part, const char* folder, const char* name) {
    char* path = Joined(folder, name);
    if (path != nullptr) JudgePart(walk, part, path);
    free(path);
}

// How much of a path names its root: "C:\", "\", "\\server\share\", with
// or without "\\?\"; 0 for a relative path.
static size_t RootLength(const char* path) {
    size_t at = 0;
    bool unc = false;
    if (strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
        at = 8, unc = true;
    } else if (strncmp(path, "\\\\?\\", 4) == 0) {
        at = 4;
    } else if (strncmp(path, "\\\\", 2) == 0) {
        at = 2, unc = true;
    }
    if (unc) {
        for (int separators = 0; path[at] != '\0' && separators < 2; ++at)
            if (path[at] == '\\') ++separators;
        return at;
    }
    if (path[at] != '\0' && path[at + 1] == ':' && path[at + 2] == '\\') return at + 3;
    return path[at] == '\\' ? at + 1 : 0;
}

// The folder a path names, without its last backslash (a root keeps its own).
static size_t FolderLength(const char* folder, size_t length) {
    size_t root = RootLength(folder);
    while (length > root && folder[length - 1] == '\\') --length;
    return length;
}

// The folder above: up to its last backslash, or the root itself.
static size_t ParentLength(const char* folder, size_t length) {
    size_t root = RootLength(folder);
    while (length > root && folder[length - 1] != '\\') --length;
    return FolderLength(folder, length);
}

// The part of text up to length, in a heap block.
static char* Cut(const char* text, size_t length) {
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

static void JudgeCut(Walk* walk, InstallationPart part, const char* path, size_t length) {
    char* cut = Cut(path, length);
    if (cut != nullptr) JudgePart(walk, part, cut);
    free(cut);
}

struct JarWalk {
    Walk* walk;
    const char* folder;
};

static bool JudgeJar(const char* fileName, void* context) {
    auto* jars = static_cast<JarWalk*>(context);
    JudgeJoined(jars->walk, JarPart, jars->folder, fileName);
    return true;
}

// The jars the start puts on the boot class path: listed as it lists them,
// from within their folder.
static void JudgeJars(Walk* walk, const char* jarFolder) {
    DWORD capacity = GetCurrentDirectoryA(0, nullptr);
    char* saved = capacity > 0 ? static_cast<char*>(malloc(capacity)) : nullptr;
    DWORD length = saved != nullptr ? GetCurrentDirectoryA(capacity, saved) : 0;
    if (length > 0 && length < capacity && SetCurrentDirectoryA(jarFolder)) {
        JarWalk jars = {walk, jarFolder};
        ListJarsOfWorkingDirectory(JudgeJar, nullptr, &jars);
        SetCurrentDirectoryA(saved);
    }
    free(saved);
}

static void JudgeHome(Walk* walk, const char* home) {
    JudgePart(walk, HomePart, home);
    char* lib = Joined(home, "lib");
    char* jarFolder = lib != nullptr ? Joined(lib, "util") : nullptr;
    if (jarFolder != nullptr) {
        JudgePart(walk, LibFolderPart, lib);
        JudgePart(walk, JarFolderPart, jarFolder);
        JudgeJars(walk, jarFolder);
    }
    free(jarFolder);
    free(lib);
}

// From the root down to the folder above the home.
static void JudgeFoldersAbove(Walk* walk, const char* home) {
    size_t root = RootLength(home);
    size_t homeLength = strlen(home);
    if (root == 0 || homeLength <= root) return;
    JudgeCut(walk, FolderAbovePart, home, root);
    for (size_t at = root; at < homeLength; ++at)
        if (home[at] == '\\') JudgeCut(walk, FolderAbovePart, home, at);
}

int JudgeInstallationAccess(const char* modulePath, const char* moduleDirectory, PartAccessSeen seen, void* context) {
    if (moduleDirectory[0] == '\0') return 0;  // the program's own folder is unknown: nothing below it is read
    Walk* walk = static_cast<Walk*>(malloc(sizeof(Walk)));
    if (walk == nullptr) return 0;
    walk->seen = seen;
    walk->context = context;
    walk->judged = 0;
    JudgePart(walk, ProgramPart, modulePath);
    size_t folderLength = FolderLength(moduleDirectory, strlen(moduleDirectory));
    JudgeCut(walk, ProgramFolderPart, moduleDirectory, folderLength);
    JudgeJoined(walk, InitFilePart, moduleDirectory, Profile.initFileName);
    JudgeJoined(walk, VmFolderPart, moduleDirectory, "server");
    JudgeJoined(walk, VmLibraryPart, moduleDirectory, "server\\jvm.dll");
    char* home = Cut(moduleDirectory, ParentLength(moduleDirectory, folderLength));
    if (home != nullptr) {
        JudgeHome(walk, home);
        JudgeFoldersAbove(walk, home);
    }
    free(home);
    int judged = walk->judged;
    free(walk);
    return judged;
}

// ------------------------------------------------------------ the start's warning

static const char kWarning[] = "Others can change what the service runs";

// Its own: the start warns once, and no other report writes it.
static Detail WarningDetail;

static void AddToWarning(const PartAccess& access, void* context) {
    if (access.finding == nullptr) return;  // a descriptor it could not read says nothing either way
    ++*static_cast<int*>(context);
    AppendAnsi(&WarningDetail, access.finding);
    AppendText(&WarningDetail, "\n");
}

void WarnOfChangeableInstallation(const char* moduleDirectory) {
    if (moduleDirectory == nullptr || moduleDirectory[0] == '\0') return;
    char* modulePath = GetModulePath();
    if (modulePath == nullptr) return;
    ClearDetail(&WarningDetail);
    int changeable = 0;
    JudgeInstallationAccess(modulePath, moduleDirectory, AddToWarning, &changeable);
    free(modulePath);
    if (changeable == 0) return;
    AppendText(&WarningDetail,
               "The start goes on. Only SYSTEM, the administrators and the service itself should be able to change "
               "what the service reads or runs; ");
    AppendText(&WarningDetail, Profile.serviceName);
    AppendText(&WarningDetail, " check lists the same.");
    WriteEvent(OthersCanChange, kWarning, WarningDetail.text);
}

// ------------------------------------------------------------ install's line

struct ChangeableSummary {
    int count;
    char* first;
};

static void CountChangeable(const PartAccess& access, void* context) {
    if (access.finding == nullptr) return;
    auto* summary = static_cast<ChangeableSummary*>(context);
    if (summary->count++ == 0) summary->first = Cut(access.path, strlen(access.path));
}

void PrintChangeableSummary() {
    char* modulePath = GetModulePath();
    char* moduleDirectory = GetModuleDirectory();
    ChangeableSummary summary = {0, nullptr};
    if (modulePath != nullptr && moduleDirectory != nullptr && moduleDirectory[0] != '\0')
        JudgeInstallationAccess(modulePath, moduleDirectory, CountChangeable, &summary);
    if (summary.count > 0) {
        fputs("Warning: others can change ", stderr);
        if (summary.count > 1)
            fprintf(stderr, "%d files and folders the service reads or runs, the first ", summary.count);
        PrintAnsi(stderr, summary.first != nullptr ? summary.first : "?");
        if (summary.count == 1) fputs(", which the service reads or runs", stderr);
        fprintf(stderr, "; %s check %s\n", Profile.serviceName,
                summary.count > 1 ? "names them all" : "says who, and what they may do");
        fflush(stderr);
    }
    free(summary.first);
    free(moduleDirectory);
    free(modulePath);
}
