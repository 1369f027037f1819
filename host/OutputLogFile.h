#ifndef HOST_OUTPUT_LOG_FILE_H
#define HOST_OUTPUT_LOG_FILE_H

#include <windows.h>

#include <stddef.h>

// The files of a service's output log: <home>\logs\<service>.log, and the
// older generations <service>.1.log (newest) to <service>.5.log beside it.
// No file grows past the limit: the log rolls over, at a line end where it
// can. One writer at a time (the caller's lock).
enum { kOutputLogLimit = 10 * 1024 * 1024, kOutputLogGenerations = 5, kLogPathCapacity = MAX_PATH };

struct OutputLogFile {
    char folder[kLogPathCapacity];  // <home>\logs
    char path[kLogPathCapacity];    // <home>\logs\<service>.log
    HANDLE handle;                  // INVALID_HANDLE_VALUE while it cannot be written
    unsigned long long size;
    bool atLineStart;
    unsigned long long dropped;  // bytes that could not be written since writing last worked
    DWORD dropError;
    bool holdsOutput;  // output (not only the host's lines) was written since it was opened
};

// Names the folder and the log for a module directory (ending in a
// backslash): the logs folder beside the program's. False, naming nothing,
// when the directory is unknown or the names would be too long.
bool NameOutputLog(OutputLogFile* log, const char* moduleDirectory);
// The path of a generation: 0 is the log itself. False when too long.
bool OutputLogGeneration(const OutputLogFile* log, int generation, char* path, size_t capacity);

// Whether the log's folder may be written: false, with why in `why` (ANSI,
// one sentence), when it is a file or a link, or others can change it.
// True for a folder that is missing, which *missing then says.
bool JudgeOutputLogFolder(const OutputLogFile* log, bool* missing, char* why, size_t capacity);
// Whether the log itself may be written: false when it is a link or a folder.
bool JudgeOutputLogItself(const OutputLogFile* log, char* why, size_t capacity);

// Makes the folder when it is missing, judges it and the log, and opens the
// log for appending, shared so that others may read, copy and rename it.
// False, with why in `why` (ANSI, one sentence), when nothing may or can be
// written there.
bool OpenOutputLogFile(OutputLogFile* log, char* why, size_t capacity);

// Appends output, rolling over at the limit. What cannot be written is
// dropped and counted; once writing works again, a host line says how much
// was lost before the output goes on.
void WriteOutput(OutputLogFile* log, const char* bytes, size_t length);
// One line of the host's own, at a line start: the local time with its
// offset, the program's name and version, the process id, and `what`.
void WriteHostLine(OutputLogFile* log, const char* what);

void CloseOutputLogFile(OutputLogFile* log);

#endif
