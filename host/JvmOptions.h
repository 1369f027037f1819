#ifndef HOST_JVM_OPTIONS_H
#define HOST_JVM_OPTIONS_H

#include <stdio.h>

#include <jni.h>

// The options handed to JNI_CreateJavaVM: the two fixed options, the
// init-file options in file order, the boot class path option, then the
// VM's hooks ("vfprintf", "exit", "abort"), which tell the host what the VM
// prints and when it ends the process.
// options is null (and count 0) when memory ran out while building it.
// The array and the init-file texts live as long as the process; the boot
// class path text is released once the VM is created.
struct JvmOptionList {
    JavaVMOption* options;
    jint count;
};

// Which kind of VM the options are for. From Java 9 on the runtime's own
// classes live in named modules and the VM takes no boot class path
// prepend, only an append.
enum VmGeneration { ClassicVm, ModularVm };

// The init file contributes at most this many options.
enum { MaxInitFileOptions = 50 };

// The functions the VM calls instead of printing, exiting and aborting by
// itself; the three options that hand them over close the list.
struct VmHooks {
    void* print;
    void* exit;
    void* abort;
};
enum { kVmHookOptionCount = 3 };

// Where the boot class path option stands in a list that was built: after
// the init-file options, before the hooks.
inline jint BootClassPathIndex(const JvmOptionList& list) { return list.count - 1 - kVmHookOptionCount; }

// Where the start looks for the jars, relative to the module directory.
extern const char kJarDirectory[];

// What became of one piece of the init file. The reader takes a line in
// pieces of at most 511 bytes, each read as a line of its own.
enum InitPieceFate {
    PieceBecameOption,    // begins with "-": an option
    PieceNotAnOption,     // does not begin with "-": ignored
    PiecePastLastOption,  // an option past `capacity`: ignored
    PieceOfUtf16File,     // a whole line of a file saved as UTF-16, which gives no option
};

struct InitFilePiece {
    int line;            // in the file, from 1
    int piece;           // within its line, from 1
    bool cut;            // the line goes on past this piece, if only by its line end
    bool textGoesOn;     // a line's first piece only: cut, no NUL in it, and more than whitespace follows on
                         // its line before the line feed or a NUL, so the start takes less than the line says
    bool byteOrderMark;  // the file begins with a UTF-8 byte-order mark, which is this piece's start
    const char* text;    // as read, up to its first NUL, its line end included; for a UTF-16 line, the
                         // line in the ANSI code page (its first 511 characters)
    InitPieceFate fate;
};

// Told about every piece read, in file order: for a report of what the file
// gives.
typedef void (*InitPieceSeen)(const InitFilePiece& piece, void* context);
struct InitFileObserver {
    InitPieceSeen seen;
    void* context;
};

// Where the start reads an init file otherwise than it is written, for a
// warning: all zero when it reads the file as written.
enum { kMostCutLinesNamed = 5 };
struct InitFileMisreadings {
    bool utf16;                      // saved as UTF-16 (a byte-order mark, or NUL as second byte)
    int utf16Lines;                  // and its lines, as UTF-16 has them: the start reads none
    bool optionBehindByteOrderMark;  // a UTF-8 byte-order mark begins line 1 and hides its option
    int optionsPastLast;             // option lines past `capacity`, ignored
    int firstLinePastLast;
    int cutLines;  // lines longer than 511 bytes of which the start takes options other than the line says
    int cutLineNumbers[kMostCutLinesNamed];  // the first of them
};

bool InitFileIsMisread(const InitFileMisreadings& misreadings);

// Reads an open init file (binary mode) to its end: stores its option lines
// in at most `capacity` heap strings, in file order, and returns how many
// it stored; option lines past `capacity` are ignored, and a file saved as
// UTF-16 gives none. Returns -1, having stored nothing, when memory runs
// out. The start passes no observer; misreadings, when given, is filled.
int ReadInitFileOptions(FILE* initFile, char** options, int capacity, const InitFileObserver* observer = nullptr,
                        InitFileMisreadings* misreadings = nullptr);

// Lists the jars of the working directory in the order the directory search
// returns them: onJar gets each entry whose long name ends in ".jar" (any
// case), and onSkipped, when given, each that the search matched only
// through its 8.3 short name (kernel.jar_old, x.jarx). Stops, returning
// false, when onJar does.
typedef bool (*JarListed)(const char* fileName, void* context);
typedef void (*JarSkipped)(const char* fileName, void* context);
bool ListJarsOfWorkingDirectory(JarListed onJar, JarSkipped onSkipped, void* context);

// Frees the boot class path text and leaves no pointer to it in the list.
void ReleaseBootClassPath(JvmOptionList* list);

// Frees a list that no VM was created with: the init-file texts, the boot
// class path and the array.
void FreeJvmOptionList(JvmOptionList* list);

// Assembles the option list for an installation whose program lives in
// moduleDirectory, and remembers its secrets for the reports (Secrets.h).
// Leaves the working directory at moduleDirectory. misreadings, when given,
// tells where the init file is read otherwise than it is written (all zero
// without one).
JvmOptionList BuildJvmOptionList(const char* moduleDirectory, const char* initFileName, VmGeneration generation,
                                 const VmHooks& hooks, InitFileMisreadings* misreadings = nullptr);

#endif
