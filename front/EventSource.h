#ifndef FRONT_EVENT_SOURCE_H
#define FRONT_EVENT_SOURCE_H

#include <windows.h>

#include <stddef.h>

// The program as the source of its service's events in the Application log,
// so that Event Viewer renders them from the program's message table. A
// failed registry call is said on standard error; the service registration
// it accompanies stands either way.

// Whose a source of the service's name is, by its EventMessageFile.
enum EventSourceOwner {
    // Names a file with this program's file name: this program, or an
    // earlier installation of it, moved or upgraded since.
    EventSourceOfThisProgram,
    // Names no file that exists (or none at all): nobody can render it.
    EventSourceOfNoProgram,
    // Names another program's existing file, or cannot be read: not ours.
    EventSourceOfAnotherProgram,
};

// Judges a source by its EventMessageFile value (messageFile null: it has
// none). The value may list several files, separated by ';'; an expandable
// one (REG_EXPAND_SZ) is expanded first. One existing file of another name
// makes it another program's.
EventSourceOwner JudgeEventSource(const char* messageFile, bool expandable, const char* modulePath);

// Reads the source of the service's name without changing it: its owner,
// and its EventMessageFile value into messageFile (cut to capacity; empty
// when it has none). Returns 0, ERROR_FILE_NOT_FOUND when there is no such
// source, or the error that kept its key from being opened.
LSTATUS ReadEventSource(const char* modulePath, EventSourceOwner* owner, char* messageFile, size_t capacity);

// Registers modulePath as the source, unless the source of that name is
// another program's.
void AddEventSource(const char* modulePath);
// Removes the source, unless it is another program's.
void RemoveEventSource(const char* modulePath);

#endif
