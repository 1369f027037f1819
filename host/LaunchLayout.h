#ifndef HOST_LAUNCH_LAYOUT_H
#define HOST_LAUNCH_LAYOUT_H

// The running program's full path, in a heap block the caller frees.
char* GetModulePath();

// The module path cut right after its last backslash (C:\Apps\Svc\bin\),
// in the same kind of heap block; empty when the path has no directory.
char* GetModuleDirectory();

#endif
