#ifndef HOST_INIT_FILE_WARNING_H
#define HOST_INIT_FILE_WARNING_H

#include "JvmOptions.h"

// Where the start reads the init file otherwise than it is written, one
// warning event (and, in a console run, the same on the console) naming
// each case; nothing when it reads the file as written. The start goes on.
void WarnOfMisreadInitFile(const char* moduleDirectory, const char* initFileName,
                           const InitFileMisreadings& misreadings);

#endif
