#include "OutputLogFile.h"

#include <aclapi.h>
#include <stdio.h>
#include <string.h>

#include "Accounts.h"
#include "Permissions.h"
#include "ProductProfile.h"
#include "SystemText.h"

// The project's version, from the build.
static const char kProgramVersion[] = HALVERN_VERSION;

static const char kLogsFolder[] = "logs";

// ------------------------------------------------------------ names

// The home is the folder above the program's; a program in a drive's root
// has the root as its home.
bool NameOutputLog(OutputLogFile* log, const char* moduleDirectory) {
    log->folder[0] = log->path[0] = '\0';
    size_t length = moduleDirectory != nullptr ? strlen(moduleDirectory) : 0;
    if (length == 0 || moduleDirectory[length - 1] != '\\') return false;
    size_t home = length - 1;
    while (home > 0 && moduleDirectory[home - 1] != '\\') --home;
    if (home == 0) home = length;
    int folder =
        snprintf(log->folder, sizeof log->folder, "%.*s%s", static_cast<int>(home), moduleDirectory, kLogsFolder);
    int path = snprintf(log->path, sizeof log->path, "%s\\%s.log", log->folder, Profile.serviceName);
    if (folder < 0 || path < 0 || static_cast<size_t>(path) >= sizeof log->path) {
        log->folder[0] = log->path[0] = '\0';
        return false;
    }
    return true;
}

bool OutputLogGeneration(const OutputLogFile* log, int generation, char* path, size_t capacity) {
    int length = generation == 0
                     ? snprintf(path, capacity, "%s", log->path)
                     : snprintf(path, capacity, "%s\\%s.%d.log", log->folder, Profile.serviceName, generation);
    return length > 0 && static_cast<size_t>(length) < capacity;
}

// ------------------------------------------------------------ opening

static void SayWindowsError(char* why, size_t capacity, const char* path, const char* what, DWORD error) {
    char text[512];
    SystemText(error, path, text, sizeof text);
    snprintf(why, capacity, "%s %s: Windows error %lu%s%s", path, what, static_cast<unsigned long>(error),
             text[0] != '\0' ? ": " : "", text);
}

// Whether accounts other than the trusted ones can change the folder, as
// the installation is judged: who, and what follows, in `why`. A folder
// whose permissions cannot be read counts as one others can change.
static bool OthersCanChange(const char* folder, char* why, size_t capacity) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        SayWindowsError(why, capacity, folder, "cannot be judged: its permissions cannot be read", error);
        return true;
    }
    AccessFinding finding = JudgeAccess(descriptor, kRightsToChangeFolder, TrustOfAccount, nullptr);
    LocalFree(descriptor);
    if (finding.verdict == OnlyTrustedCanChange) return false;
    char name[600] = "anyone";
    bool group = true;
    if (finding.verdict != NoPermissionList) NameAccount(finding.account, name, sizeof name, &group);
    snprintf(why, capacity,
             "%s %s %s: %s could plant a link there that leads the service to overwrite any file as LocalSystem, "
             "so nothing is written there",
             name, finding.verdict == OwnerNotTrusted ? "owns" : "can change", folder,
             group ? "any of them" : "that account");
    return true;
}

bool JudgeOutputLogFolder(const OutputLogFile* log, bool* missing, char* why, size_t capacity) {
    DWORD attributes = GetFileAttributesA(log->folder);
    *missing = attributes == INVALID_FILE_ATTRIBUTES;
    if (*missing) return true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        snprintf(why, capacity, "%s is a file, not a folder", log->folder);
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        snprintf(why, capacity,
                 "%s is a link: nothing is written through it, so that no file of others' choosing "
                 "is overwritten",
                 log->folder);
        return false;
    }
    return !OthersCanChange(log->folder, why, capacity);
}

bool JudgeOutputLogItself(const OutputLogFile* log, char* why, size_t capacity) {
    DWORD attributes = GetFileAttributesA(log->path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0)
        return true;
    snprintf(why, capacity,
             "%s is %s: nothing is written through it, so that no file of others' choosing is "
             "overwritten",
             log->path, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? "a link" : "a folder");
    return false;
}

// A folder that is missing is made, and judged like one that is there.
static bool PrepareFolder(OutputLogFile* log, char* why, size_t capacity) {
    bool missing = false;
    if (!JudgeOutputLogFolder(log, &missing, why, capacity)) return false;
    if (!missing) return true;
    if (!CreateDirectoryA(log->folder, nullptr)) {
        SayWindowsError(why, capacity, log->folder, "cannot be created", GetLastError());
        return false;
    }
    return JudgeOutputLogFolder(log, &missing, why, capacity);
}

static HANDLE OpenForAppending(const char* path) {
    return CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whether the file ends at a line end, or is empty: a run that was ended
// from outside (taskkill /F) may have left its last line open. Read through
// a handle of its own, as the log's appends only.
static bool EndsAtLineStart(const char* path, unsigned long long size) {
    if (size == 0) return true;
    if (size > 0x7FFFFFFF) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char last = 0;
    DWORD got = 0;
    bool read = SetFilePointer(file, static_cast<LONG>(size - 1), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                ReadFile(file, &last, 1, &got, nullptr) && got == 1;
    CloseHandle(file);
    return read && last == '\n';
}

// Opens the log as it stands; false, with the error set, when it cannot.
static bool Reopen(OutputLogFile* log) {
    log->handle = OpenForAppending(log->path);
    if (log->handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    size.QuadPart = 0;
    GetFileSizeEx(log->handle, &size);
    log->size = static_cast<unsigned long long>(size.QuadPart);
    log->atLineStart = EndsAtLineStart(log->path, log->size);
    return true;
}

bool OpenOutputLogFile(OutputLogFile* log, char* why, size_t capacity) {
    log->handle = INVALID_HANDLE_VALUE;
    log->dropped = 0;
    log->holdsOutput = false;
    if (!PrepareFolder(log, why, capacity) || !JudgeOutputLogItself(log, why, capacity)) return false;
    if (!Reopen(log)) {
        SayWindowsError(why, capacity, log->path, "cannot be opened", GetLastError());
        return false;
    }
    return true;
}

void CloseOutputLogFile(OutputLogFile* log) {
    if (log->handle != INVALID_HANDLE_VALUE) CloseHandle(log->handle);
    log->handle = INVALID_HANDLE_VALUE;
}

// ------------------------------------------------------------ writing

// Writes the bytes, counting in *done what the file took: false, with the
// error in dropError, when it did not take them all.
static bool Append(OutputLogFile* log, const char* bytes, size_t length, size_t* done) {
    *done = 0;
    if (log->handle == INVALID_HANDLE_VALUE && !Reopen(log)) {
        log->dropError = GetLastError();
        return false;
    }
    while (*done < length) {
        DWORD written = 0;
        DWORD piece = static_cast<DWORD>(length - *done < 0x10000000 ? length - *done : 0x10000000);
        bool wrote = WriteFile(log->handle, bytes + *done, piece, &written, nullptr) && written > 0;
        log->size += written;
        *done += written;
        if (written > 0) log->atLineStart = bytes[*done - 1] == '\n';
        if (!wrote) {
            log->dropError = GetLastError();
            return false;
        }
    }
    return true;
}

// The log becomes generation 1, each older one moves one up, and the fifth
// is deleted. A rename that fails (another program holds the file without
// sharing its deletion) leaves the log full: what follows is dropped until
// a later roll-over succeeds.
static bool RollOver(OutputLogFile* log) {
    CloseOutputLogFile(log);
    char older[kLogPathCapacity];
    char newer[kLogPathCapacity];
    if (OutputLogGeneration(log, kOutputLogGenerations, older, sizeof older)) DeleteFileA(older);
    bool moved = true;
    for (int generation = kOutputLogGenerations; generation > 0; --generation) {
        if (!OutputLogGeneration(log, generation, older, sizeof older) ||
            !OutputLogGeneration(log, generation - 1, newer, sizeof newer))
            return false;
        moved = MoveFileExA(newer, older, MOVEFILE_REPLACE_EXISTING) != 0;
    }
    // A log an administrator renamed away needs no moving.
    moved = moved || GetLastError() == ERROR_FILE_NOT_FOUND;
    DWORD error = GetLastError();
    bool opened = Reopen(log);
    if (!moved || !opened || log->size >= kOutputLogLimit) {
        log->dropError = !moved ? error : GetLastError();
        return false;
    }
    return true;
}

// How much of `length` bytes to write before rolling over, given `room`
// (less than length): up to the last line end that fits; nothing when the
// file ends at a line end already; all the room when a line is longer than
// a whole file.
static size_t PieceBeforeRoll(const OutputLogFile* log, const char* bytes, size_t room) {
    for (size_t end = room; end > 0; --end)
        if (bytes[end - 1] == '\n') return end;
    return log->atLineStart && log->size > 0 ? 0 : room;
}

static bool WriteWithinLimit(OutputLogFile* log, const char* bytes, size_t length, size_t* written) {
    *written = 0;
    while (length > 0) {
        size_t room = log->size < kOutputLogLimit ? kOutputLogLimit - log->size : 0;
        size_t piece = length <= room ? length : PieceBeforeRoll(log, bytes, room);
        size_t done = 0;
        bool appended = piece == 0 || Append(log, bytes, piece, &done);
        *written += done;
        if (!appended) return false;
        bytes += piece;
        length -= piece;
        if (length > 0 && !RollOver(log)) return false;
    }
    return true;
}

static void FormatHostLine(char* line, size_t capacity, bool newLineFirst, const char* what) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD kind = GetTimeZoneInformation(&zone);
    long bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT   ? zone.DaylightBias
                             : kind == TIME_ZONE_ID_STANDARD ? zone.StandardBias
                                                             : 0);
    long offset = -bias;
    long magnitude = offset < 0 ? -offset : offset;
    snprintf(line, capacity, "%s%04u-%02u-%02u %02u:%02u:%02u.%03u %c%02ld:%02ld %s %s (process %lu): %s\r\n",
             newLineFirst ? "\r\n" : "", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60, Profile.serviceName,
             kProgramVersion, static_cast<unsigned long>(GetCurrentProcessId()), what);
}

enum { kHostLineCapacity = 1024 };

// The host's line is never counted as dropped output.
static bool PutHostLine(OutputLogFile* log, const char* what) {
    char line[kHostLineCapacity];
    FormatHostLine(line, sizeof line, !log->atLineStart, what);
    size_t written = 0;
    return WriteWithinLimit(log, line, strlen(line), &written);
}

// Says how much was lost, once writing works again.
static bool PutDropCount(OutputLogFile* log) {
    if (log->dropped == 0) return true;
    char what[256];
    snprintf(what, sizeof what, "%llu bytes of output were lost: the log could not be written (Windows error %lu)",
             log->dropped, static_cast<unsigned long>(log->dropError));
    if (!PutHostLine(log, what)) return false;
    log->dropped = 0;
    return true;
}

void WriteOutput(OutputLogFile* log, const char* bytes, size_t length) {
    if (length == 0) return;
    size_t written = 0;
    if (PutDropCount(log) && WriteWithinLimit(log, bytes, length, &written)) {
        log->holdsOutput = true;
        return;
    }
    if (written > 0) log->holdsOutput = true;
    log->dropped += length - written;
}

void WriteHostLine(OutputLogFile* log, const char* what) {
    if (PutDropCount(log)) PutHostLine(log, what);
}
