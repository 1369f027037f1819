#ifndef HALVERN_PLATFORM_SDDL_H
#define HALVERN_PLATFORM_SDDL_H

// Stand-in: what the system uses of this header is declared in the stand-in windows.h.
#include <windows.h>

#endif
