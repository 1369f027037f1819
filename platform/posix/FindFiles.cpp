// FindFirstFileA / FindNextFileA / FindClose over a POSIX directory. Names
// match the pattern as on Windows (case-insensitive, '*' and '?'), through
// their long name or their 8.3 short name, and come back in the order NTFS
// lists them: by name compared in upper case.
#include <windows.h>

#include <ctype.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
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
    std::string directory;                                   // POSIX form, ends in '/' unless empty
    std::vector<std::pair<std::string, std::string>> names;  // long name, short name ("" when it needs none)
    size_t next = 0;
};

// Characters an 8.3 name may hold beside letters and digits.
bool IsShortNameCharacter(char c) {
    return isalnum(static_cast<unsigned char>(c)) || (c != '\0' && strchr("!#$%&'()-@^_`{}~", c) != nullptr);
}

// A name that is a valid 8.3 name already gets no short name of its own.
bool FitsEightDotThree(const std::string& name) {
    size_t dot = name.find('.');
    size_t baseLength = dot == std::string::npos ? name.size() : dot;
    size_t extensionLength = dot == std::string::npos ? 0 : name.size() - dot - 1;
    if (baseLength == 0 || baseLength > 8 || extensionLength > 3) return false;
    if (dot != std::string::npos && (extensionLength == 0 || name.find('.', dot + 1) != std::string::npos))
        return false;
    for (char c : name)
        if (c != '.' && !IsShortNameCharacter(c)) return false;
    return true;
}

// The two parts of a short name as NTFS forms them, before numbering: the
// name without blanks and inner periods, cut at its last period, upper
// case; the first six characters of the base and the first three of the
// extension. Other characters an 8.3 name cannot hold become '_'.
std::pair<std::string, std::string> ShortNameParts(const std::string& name) {
    size_t start = name.find_first_not_of('.');
    size_t lastDot = name.rfind('.');
    if (start == std::string::npos) start = name.size();
    if (lastDot == std::string::npos || lastDot < start) lastDot = name.size();
    auto squeezed = [&name](size_t from, size_t to, size_t most) {
        std::string part;
        for (size_t i = from; i < to && part.size() < most; ++i) {
            char c = name[i];
            if (c == ' ' || c == '.') continue;
            part += IsShortNameCharacter(c) ? static_cast<char>(toupper(static_cast<unsigned char>(c))) : '_';
        }
        return part;
    };
    std::string extension = lastDot < name.size() ? squeezed(lastDot + 1, name.size(), 3) : "";
    return {squeezed(start, lastDot, 6), extension};
}

// Short names for the names of one directory, in listing order: BASE~1.EXT,
// and ~2, ~3, ... for later names with the same parts (NTFS numbers them in
// the order they were made, and from the fifth on mixes in a hash; neither
// changes which patterns they match).
std::vector<std::string> ShortNames(const std::vector<std::string>& names) {
    std::vector<std::string> shortNames;
    std::map<std::pair<std::string, std::string>, int> used;
    for (const std::string& name : names) {
        if (name == "." || name == ".." || FitsEightDotThree(name)) {
            shortNames.emplace_back();
            continue;
        }
        std::pair<std::string, std::string> parts = ShortNameParts(name);
        std::string tail = "~" + std::to_string(++used[parts]);
        std::string shortName = (parts.first.substr(0, tail.size() < 8 ? 8 - tail.size() : 0) + tail).substr(0, 8);
        if (!parts.second.empty()) shortName += "." + parts.second;
        shortNames.push_back(shortName);
    }
    return shortNames;
}

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

void FillFindData(const FindSearch& search, const std::pair<std::string, std::string>& names, LPWIN32_FIND_DATAA data) {
    const std::string& name = names.first;
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
    length = std::min(names.second.size(), sizeof data->cAlternateFileName - 1);
    memcpy(data->cAlternateFileName, names.second.data(), length);
    data->cAlternateFileName[length] = '\0';
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
    std::vector<std::string> all;
    while (const dirent* entry = readdir(directory)) {
        // Windows gives no name longer than MAX_PATH - 1 characters.
        if (strlen(entry->d_name) < MAX_PATH) all.emplace_back(entry->d_name);
    }
    closedir(directory);
    // Short names are numbered across the whole directory, so all of them
    // are made before any is matched.
    std::sort(all.begin(), all.end(), ListsBefore);
    std::vector<std::string> shortNames = ShortNames(all);
    for (size_t i = 0; i < all.size(); ++i) {
        if (MatchesWildcard(pattern.c_str(), all[i].c_str()) ||
            (!shortNames[i].empty() && MatchesWildcard(pattern.c_str(), shortNames[i].c_str())))
            search->names.emplace_back(all[i], shortNames[i]);
    }
    if (search->names.empty()) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
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
