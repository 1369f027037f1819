// FindFirstFileA / FindNextFileA / FindClose over a POSIX directory. Names
// match the pattern as on Windows (case-insensitive, '*' and '?'), and come
// back in the order NTFS lists them: by name compared in upper case.
#include <windows.h>

#include <ctype.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PathForm.h"

namespace {

// NTFS keeps a directory's names ordered by their upper-cased form. Names
// that differ only in case cannot both exist there; here they keep byte
// order, so that a listing is the same on every run.
bool ListsBefore(const std::string& left, const std::string& right) {
    size_t common = std::min(left.size(), right.size());
    for (size_t i = 0; i < common; ++i) {
        int l = toupper(static_cast<unsigned char>(left[i]));
        int r = toupper(static_cast<unsigned char>(right[i]));
        if (l != r) return l < r;
    }
    if (left.size() != right.size()) return left.size() < right.size();
    return left < right;
}

struct FindSearch {
    std::string directory;  // POSIX form, ends in '/' unless empty
    std::vector<std::string> names;
    size_t next = 0;
};

bool MatchesWildcard(const char* pattern, const char* name) {
    // Iterative match with backtracking to the last '*': linear in practice,
    // never recursive, so long names cannot exhaust the stack.
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || (*pattern != '\0' && tolower(static_cast<unsigned char>(*pattern)) ==
                                                               tolower(static_cast<unsigned char>(*name)))) {
            ++pattern;
            ++name;
        } else if (starPattern != nullptr) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

void FillFindData(const FindSearch& search, const std::string& name, LPWIN32_FIND_DATAA data) {
    memset(data, 0, sizeof *data);
    struct stat info;
    if (stat((search.directory + name).c_str(), &info) == 0) {
        data->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        uint64_t size = static_cast<uint64_t>(info.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    } else {
        data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    size_t length = std::min(name.size(), sizeof data->cFileName - 1);
    memcpy(data->cFileName, name.data(), length);
    data->cFileName[length] = '\0';
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    std::string path = ToPosixPath(lpFileName);
    size_t slash = path.rfind('/');
    auto* search = new FindSearch;
    std::string pattern = path;
    if (slash != std::string::npos) {
        search->directory = path.substr(0, slash + 1);
        pattern = path.substr(slash + 1);
    }
    DIR* directory = opendir(search->directory.empty() ? "." : search->directory.c_str());
    if (directory == nullptr) {
        delete search;
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    while (const dirent* entry = readdir(directory)) {
        // Windows gives no name longer than MAX_PATH - 1 characters.
        if (strlen(entry->d_name) < MAX_PATH && MatchesWildcard(pattern.c_str(), entry->d_name))
            search->names.emplace_back(entry->d_name);
    }
    closedir(directory);
    if (search->names.empty()) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(search->names.begin(), search->names.end(), ListsBefore);
    FillFindData(*search, search->names[search->next++], lpFindFileData);
    return search;
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto* search = static_cast<FindSearch*>(hFindFile);
    if (search->next >= search->names.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FillFindData(*search, search->names[search->next++], lpFindFileData);
    return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (hFindFile == nullptr || hFindFile == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<FindSearch*>(hFindFile);
    return TRUE;
}
