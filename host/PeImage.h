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

// Whether the loader would find the library `name` that a library loaded
// by this program imports: the program's directory, the system's
// directories, the current directory and PATH, or the system's API sets.
bool LoaderFindsLibrary(const char* name);

// The package that brings a well-known runtime library (e.g. VCRUNTIME140.dll:
// "the Microsoft Visual C++ Redistributable 2015 or later"), or null. Libraries
// of one package get the same pointer.
const char* RuntimePackageOf(const char* libraryName);

#endif
