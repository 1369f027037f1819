#ifndef HOST_PE_IMAGE_H
#define HOST_PE_IMAGE_H

#include <windows.h>

// What a library file says about itself, read from its PE headers without
// loading it: for the report of a library that would not load, and for any
// other check of an installation. Every function opens the file, reads only
// what the headers point at, within what was actually read, and closes it
// again; a file that is no PE image, or is cut short, gives a plain "no".

enum {
    kMachineX86 = 0x014c,
    kMachineX64 = 0x8664,
    kMachineArm64 = 0xaa64,
};

// "32-bit (x86)", "64-bit (x64)", "64-bit ARM (ARM64)", or null for
// another machine.
const char* PeMachineName(WORD machine);

// The machine this program was built for.
WORD OwnPeMachine();

// The machine (IMAGE_FILE_MACHINE_*) the image was built for; 0 when the
// file cannot be read or is no PE image.
WORD PeImageMachine(const char* path);

// Calls visit with the name of each library the image imports at load time
// (delay-loaded ones are left out), in the order of its import table, until
// visit returns false. Returns false when the file is no PE image, or when
// its import table cannot be read to its end.
typedef bool (*PeImportVisitor)(const char* libraryName, void* context);
bool ForEachPeImport(const char* path, PeImportVisitor visit, void* context);

// Whether the image exports a function of this name.
bool PeImageExports(const char* path, const char* name);

// Where the library `name`, which jvm.dll imports, is found, judged the way
// the service's loader will search: the program's folder, the system
// folders and the system's PATH (the service's environment, read from the
// registry), and API-set names by a load confined to the system folder.
// This process's own PATH and current folder only tell where a library the
// service will not find lies: *folder is then that folder, a heap block the
// caller frees (null otherwise).
enum ImportSearch {
    ImportFoundByService,
    ImportOnlyInCurrentFolder,
    ImportOnlyOnCallersPath,
    ImportNotFound,
};
ImportSearch FindImportedLibrary(const char* name, char** folder);

// Whether the service's loader finds the library `name` (above).
bool LoaderFindsLibrary(const char* name);

// The package that brings a well-known runtime library (e.g. VCRUNTIME140.dll:
// "the Microsoft Visual C++ Redistributable 2015 or later"), or null. Libraries
// of one package get the same pointer.
const char* RuntimePackageOf(const char* libraryName);

#endif
