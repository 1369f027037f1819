#include "EventSource.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "ProductProfile.h"
#include "ReportError.h"

static const char kApplicationLog[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
static const char kMessageFileValue[] = "EventMessageFile";
// The event types the program's entries may have: error, warning, information.
static const DWORD kTypesSupported = 7;
static const DWORD kCategoryCount = 1;

// The source's key below HKEY_LOCAL_MACHINE.
static void SourceKeyPath(char* path, size_t capacity) {
    snprintf(path, capacity, "%s%s", kApplicationLog, Profile.serviceName);
}

// The longest message file entry judged; a longer one is no path Windows
// can open, and is left to whoever wrote it.
enum { kEntryCapacity = 4096 };

static const char* FileNameOf(const char* path) {
    const char* name = path;
    for (const char* at = path; *at != '\0'; ++at)
        if (*at == '\\' || *at == '/') name = at + 1;
    return name;
}

// Only a full path can be known to be missing: a bare name is looked up
// along the library search path when Event Viewer loads it.
static bool IsFullPath(const char* path) {
    return path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
}

static bool IsMissingFile(const char* path) {
    if (!IsFullPath(path) || GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

EventSourceOwner JudgeEventSource(const char* messageFile, bool expandable, const char* modulePath) {
    if (messageFile == nullptr) return EventSourceOfNoProgram;
    const char* ownName = FileNameOf(modulePath);
    bool namesThisProgram = false;
    for (const char* at = messageFile;;) {
        const char* end = strchr(at, ';');
        if (end == nullptr) end = at + strlen(at);
        const char* first = at;
        const char* last = end;
        while (first < last && *first == ' ') ++first;
        while (last > first && last[-1] == ' ') --last;
        if (first < last) {
            char entry[kEntryCapacity];
            char expanded[kEntryCapacity];
            size_t length = static_cast<size_t>(last - first);
            if (length >= sizeof entry) return EventSourceOfAnotherProgram;
            memcpy(entry, first, length);
            entry[length] = '\0';
            const char* file = entry;
            if (expandable) {
                DWORD needed = ExpandEnvironmentStringsA(entry, expanded, sizeof expanded);
                if (needed == 0 || needed > sizeof expanded) return EventSourceOfAnotherProgram;
                file = expanded;
            }
            if (lstrcmpiA(FileNameOf(file), ownName) == 0)
                namesThisProgram = true;
            else if (!IsMissingFile(file))
                return EventSourceOfAnotherProgram;
        }
        if (*end == '\0') break;
        at = end + 1;
    }
    return namesThisProgram ? EventSourceOfThisProgram : EventSourceOfNoProgram;
}

// Whose the source under the open key is, its value kept in file (at
// least one byte). A value that cannot be read, or is no text, is not ours
// to judge.
static EventSourceOwner OwnerOf(HKEY key, const char* modulePath, char* file, DWORD capacity) {
    DWORD type = 0;
    DWORD size = capacity - 1;
    file[0] = '\0';
    LSTATUS status = RegQueryValueExA(key, kMessageFileValue, nullptr, &type, reinterpret_cast<BYTE*>(file), &size);
    if (status == ERROR_FILE_NOT_FOUND) return JudgeEventSource(nullptr, false, modulePath);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        file[0] = '\0';
        return EventSourceOfAnotherProgram;
    }
    file[size < capacity ? size : capacity - 1] = '\0';
    return JudgeEventSource(file, type == REG_EXPAND_SZ, modulePath);
}

static EventSourceOwner OwnerOf(HKEY key, const char* modulePath) {
    char file[32768];
    return OwnerOf(key, modulePath, file, sizeof file);
}

LSTATUS ReadEventSource(const char* modulePath, EventSourceOwner* owner, char* messageFile, size_t capacity) {
    char path[512];
    SourceKeyPath(path, sizeof path);
    HKEY key = nullptr;
    messageFile[0] = '\0';
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    *owner = OwnerOf(key, modulePath, messageFile, static_cast<DWORD>(capacity));
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

static bool SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
    LSTATUS status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    if (status != ERROR_SUCCESS) PrintFailedCall("RegSetValueExA", static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

void AddEventSource(const char* modulePath) {
    char path[512];
    SourceKeyPath(path, sizeof path);
    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS) {
        PrintFailedCall("RegCreateKeyExA", static_cast<DWORD>(status));
        return;
    }
    // An earlier installation's source, or one whose file is gone, now
    // names this program; another program's stays as it is.
    if (disposition == REG_OPENED_EXISTING_KEY && OwnerOf(key, modulePath) == EventSourceOfAnotherProgram) {
        fprintf(stderr, "The event source %s belongs to another program; it was left as it is.\n", Profile.serviceName);
        RegCloseKey(key);
        return;
    }
    DWORD fileSize = static_cast<DWORD>(strlen(modulePath) + 1);
    const struct {
        const char* name;
        DWORD type;
        const void* data;
        DWORD size;
    } values[] = {
        {kMessageFileValue, REG_EXPAND_SZ, modulePath, fileSize},
        {"CategoryMessageFile", REG_EXPAND_SZ, modulePath, fileSize},
        {"CategoryCount", REG_DWORD, &kCategoryCount, sizeof kCategoryCount},
        {"TypesSupported", REG_DWORD, &kTypesSupported, sizeof kTypesSupported},
    };
    for (const auto& value : values)
        if (!SetValue(key, value.name, value.type, value.data, value.size)) break;
    RegCloseKey(key);
}

void RemoveEventSource(const char* modulePath) {
    char path[512];
    SourceKeyPath(path, sizeof path);
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return;  // never registered, or removed already
    if (status != ERROR_SUCCESS) {
        PrintFailedCall("RegOpenKeyExA", static_cast<DWORD>(status));
        return;
    }
    EventSourceOwner owner = OwnerOf(key, modulePath);
    RegCloseKey(key);
    if (owner == EventSourceOfAnotherProgram) return;
    status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
    if (status != ERROR_SUCCESS) PrintFailedCall("RegDeleteKeyA", static_cast<DWORD>(status));
}
