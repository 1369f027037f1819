#ifndef HALVERN_PLATFORM_IO_H
#define HALVERN_PLATFORM_IO_H

// Stand-in for the C runtime's io.h on POSIX hosts: a descriptor of the C
// runtime made over a Windows handle, and one descriptor put in place of
// another (platform/posix/Pipes.cpp). Descriptors here are the system's own.

#include <stdint.h>

#define _O_WRONLY 0x0001
#define _O_TEXT 0x4000

#ifdef __cplusplus
extern "C" {
#endif

int _open_osfhandle(intptr_t osfhandle, int flags);
int _dup2(int fd1, int fd2);

#ifdef __cplusplus
}
#endif

#endif
