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

char* GetModuleDirectory() {
    char* path = GetModulePath();
    if (path == nullptr) return nullptr;
    char* lastBackslash = strrchr(path, '\\');
    // Without a backslash there is no directory we can vouch for; the empty
    // text says so, rather than standing in the current directory, from which
    // anyone who chose it could plant a library.
    if (lastBackslash != nullptr) {
        lastBackslash[1] = '\0';
    } else {
        path[0] = '\0';
    }
    return path;
}
