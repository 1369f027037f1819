#ifndef FRONT_EVENT_SOURCE_H
#define FRONT_EVENT_SOURCE_H

// The program as the source of its service's events in the Application log,
// so that Event Viewer renders them from the program's message table. A
// failed registry call is said on standard error; the service registration
// it accompanies stands either way.

// Registers modulePath as the source, unless a source of that name already
// belongs to another file.
void AddEventSource(const char* modulePath);
// Removes the source, but only if it names modulePath.
void RemoveEventSource(const char* modulePath);

#endif
