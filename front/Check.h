#ifndef FRONT_CHECK_H
#define FRONT_CHECK_H

// Console command "check": a report on standard output of whether a start
// would work, and why not, read from the same code the start uses. Changes
// nothing: no registry write, no event, no VM created (the VM library is
// loaded to ask its generation, as the start does). Each finding line is
// marked "problem:" (a start would fail, or differ from what the files
// say) or "notice:" (a start survives it); the last line is "ready", or
// the number of problems with each named.
// Returns 0 when it names no problem (its last line is then "ready"), 1
// when it names any.
int RunCheck();

#endif
