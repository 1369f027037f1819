#include "LaunchLayout.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

// Windows paths are never longer than 32,767 characters; past that, growing
// the buffer further cannot help, so a longer answer is taken as it was cut.
static const DWORD kLongestPathCapacity = 32768;

static const DWORD kFirstCapacity = 256;

char* GetModulePath() {
    DWORD capacity = kFirstCapacity;
    char* path = static_cast<char*>(malloc(capacity));
    if (path == nullptr) return nullptr;
    DWORD length = GetModuleFileNameA(nullptr, path, capacity);
    while (length == capacity && capacity < kLongestPathCapacity) {
        char* grown = static_cast<char*>(realloc(path, capacity * 2));
        if (grown == nullptr) break;  // keep the cut name we already have
        path = grown;
        capacity *= 2;
        length = GetModuleFileNameA(nullptr, path, capacity);
    }
    if (length == 0) {
        path[0] = '\0';  // the name could not be read: an empty, usable text
    } else if (length >= capacity) {
        path[capacity - 1] = '\0';  // older Windows leaves a cut name unterminated
    }
    return path;
}

// The same in UTF-16, grown the same way.
static WCHAR* GetModulePathWide() {
    DWORD capacity = kFirstCapacity;
    WCHAR* path = static_cast<WCHAR*>(malloc(capacity * sizeof(WCHAR)));
    if (path == nullptr) return nullptr;
    DWORD length = GetModuleFileNameW(nullptr, path, capacity);
    while (length == capacity && capacity < kLongestPathCapacity) {
        WCHAR* grown = static_cast<WCHAR*>(realloc(path, capacity * 2 * sizeof(WCHAR)));
        if (grown == nullptr) break;
        path = grown;
        capacity *= 2;
        length = GetModuleFileNameW(nullptr, path, capacity);
    }
    if (length == 0) {
        path[0] = 0;
    } else if (length >= capacity) {
        path[capacity - 1] = 0;
    }
    return path;
}

// The ANSI path read back into UTF-16 must be the UTF-16 path: a character
// the code page lacks was replaced ('?') or approximated (a best fit, 'C'
// for 'Č'), and either way the text differs.
static bool IsFaithful(const char* ansiPath) {
    if (ansiPath == nullptr || ansiPath[0] == '\0') return true;
    WCHAR* widePath = GetModulePathWide();
    bool faithful = true;
    int units = MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, nullptr, 0);
    WCHAR* readBack = units > 0 ? static_cast<WCHAR*>(malloc(static_cast<size_t>(units) * sizeof(WCHAR))) : nullptr;
    if (widePath != nullptr && widePath[0] != 0 && readBack != nullptr &&
        MultiByteToWideChar(CP_ACP, 0, ansiPath, -1, readBack, units) == units) {
        int i = 0;
        while (i < units && readBack[i] == widePath[i] && widePath[i] != 0) ++i;
        faithful = i < units && readBack[i] == widePath[i];
    }
    free(readBack);
    free(widePath);
    return faithful;
}

bool ModulePathIsFaithful() {
    char* path = GetModulePath();
    bool faithful = IsFaithful(path);
    free(path);
    return faithful;
}

char* GetModulePathUtf8() {
    WCHAR* widePath = GetModulePathWide();
    if (widePath == nullptr) return nullptr;
    char* path = nullptr;
    int bytes = widePath[0] != 0 ? WideCharToMultiByte(CP_UTF8, 0, widePath, -1, nullptr, 0, nullptr, nullptr) : 0;
    if (bytes > 0) {
        path = static_cast<char*>(malloc(static_cast<size_t>(bytes)));
        if (path != nullptr && WideCharToMultiByte(CP_UTF8, 0, widePath, -1, path, bytes, nullptr, nullptr) != bytes)
            path[0] = '\0';
    } else {
        path = static_cast<char*>(malloc(1));
        if (path != nullptr) path[0] = '\0';
    }
    free(widePath);
    return path;
}

char* GetModuleDirectory() {
    char* path = GetModulePath();
    if (path == nullptr) return nullptr;
    char* lastBackslash = strrchr(path, '\\');
    // Without a backslash there is no directory we can vouch for; the empty
    // text says so, rather than standing in the current directory, from which
    // anyone who chose it could plant a library. A path with '?' for the
    // characters the code page lacks names no directory at all.
    if (lastBackslash != nullptr && IsFaithful(path)) {
        lastBackslash[1] = '\0';
    } else {
        path[0] = '\0';
    }
    return path;
}

char* ClientVmBeside(const char* libraryPath) {
    static const char kServer[] = "server\\jvm.dll";
    size_t length = strlen(libraryPath);
    if (length < sizeof kServer - 1 || strcmp(libraryPath + length - (sizeof kServer - 1), kServer) != 0)
        return nullptr;
    char* clientPath = static_cast<char*>(malloc(length + 1));
    if (clientPath == nullptr) return nullptr;
    memcpy(clientPath, libraryPath, length + 1);
    memcpy(clientPath + length - (sizeof kServer - 1), "client", 6);
    DWORD attributes = GetFileAttributesA(clientPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return clientPath;
    free(clientPath);
    return nullptr;
}
