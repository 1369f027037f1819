#ifndef REPORT_SYSTEM_TEXT_H
#define REPORT_SYSTEM_TEXT_H

#include <stdio.h>

// The system's text for a Windows error, in the ANSI code page, without its
// closing line break, its inserts filled: %1 with `insert` (null: an empty
// text), any other with an empty text, so that no "%1" is ever shown.
// Returns its length; 0 (and an empty text) when the system has none.
unsigned long SystemText(unsigned long error, const char* insert, char* text, unsigned long capacity);

// Whether the stream (stdout or stderr) is a console rather than a pipe or
// a file.
bool StreamIsConsole(FILE* stream);

// Prints text of the ANSI code page, one line's worth without its line
// break: converted to the console's output code page on a console, byte
// for byte through a pipe or into a file.
void PrintAnsi(FILE* stream, const char* text);

#endif
