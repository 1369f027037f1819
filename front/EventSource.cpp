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

// True if the key names modulePath as its message file (or names nothing).
static bool NamesThisProgram(HKEY key, const char* modulePath, bool* namesNothing) {
    char file[32768];
    DWORD type = 0;
    DWORD size = sizeof file - 1;
    LSTATUS status = RegQueryValueExA(key, kMessageFileValue, nullptr, &type, reinterpret_cast<BYTE*>(file), &size);
    *namesNothing = status == ERROR_FILE_NOT_FOUND;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    file[size < sizeof file ? size : sizeof file - 1] = '\0';
    return lstrcmpiA(file, modulePath) == 0;
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
    bool namesNothing = true;
    if (disposition == REG_OPENED_EXISTING_KEY && !NamesThisProgram(key, modulePath, &namesNothing) && !namesNothing) {
        // Another program's source of the same name: not ours to change.
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
    bool namesNothing = false;
    bool ours = NamesThisProgram(key, modulePath, &namesNothing);
    RegCloseKey(key);
    if (!ours) return;
    status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
    if (status != ERROR_SUCCESS) PrintFailedCall("RegDeleteKeyA", static_cast<DWORD>(status));
}
