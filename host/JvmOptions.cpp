#include "JvmOptions.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "Secrets.h"

static const char kApplicationHomeOption[] = "-Dapplication.home=..";
static const char kLibraryPathOption[] = "-Djava.library.path=..\\lib";
static const char kClassicBootClassPathOption[] = "-Xbootclasspath/p:";
static const char kModularBootClassPathOption[] = "-Xbootclasspath/a:";
extern const char kJarDirectory[] = "..\\lib\\util";
static const char kJarEntryPrefix[] = "..\\lib\\util\\";
static const char kJarPattern[] = "*.jar";
static const char kJarExtension[] = ".jar";

// fgets into a buffer of this size hands out pieces of at most 511 bytes.
enum { kPieceBufferSize = 512 };

// ------------------------------------------------------------ boot class path

// A heap text that grows by doubling, so that appending n entries costs
// time linear in the total length.
struct GrowingText {
    char* text;
    size_t length;
    size_t capacity;
};

static bool StartText(GrowingText* growing, const char* first) {
    growing->length = strlen(first);
    growing->capacity = growing->length + 1 > 256 ? growing->length + 1 : 256;
    growing->text = static_cast<char*>(malloc(growing->capacity));
    if (growing->text == nullptr) return false;
    memcpy(growing->text, first, growing->length + 1);
    return true;
}

static bool Reserve(GrowingText* growing, size_t extra) {
    size_t needed = growing->length + extra + 1;
    if (needed <= growing->capacity) return true;
    size_t capacity = growing->capacity;
    while (capacity < needed) capacity *= 2;
    char* grown = static_cast<char*>(realloc(growing->text, capacity));
    if (grown == nullptr) return false;
    growing->text = grown;
    growing->capacity = capacity;
    return true;
}

// Appends the pieces, all or none.
static bool AppendAll(GrowingText* growing, const char* const* pieces, int count) {
    size_t extra = 0;
    for (int i = 0; i < count; ++i) extra += strlen(pieces[i]);
    if (!Reserve(growing, extra)) return false;
    for (int i = 0; i < count; ++i) {
        size_t length = strlen(pieces[i]);
        memcpy(growing->text + growing->length, pieces[i], length);
        growing->length += length;
    }
    growing->text[growing->length] = '\0';
    return true;
}

// A long name that ends in ".jar", in any case. The pattern "*.jar" also
// matches through 8.3 short names, whose extension is the first three
// characters of the long one: kernel.jar_old (KERNEL~1.JAR), x.jarx.
static bool IsJarName(const char* fileName) {
    size_t length = strlen(fileName);
    return length >= sizeof kJarExtension - 1 &&
           lstrcmpiA(fileName + length - (sizeof kJarExtension - 1), kJarExtension) == 0;
}

bool ListJarsOfWorkingDirectory(JarListed onJar, JarSkipped onSkipped, void* context) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(kJarPattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool listed = true;
    do {
        if (IsJarName(entry.cFileName))
            listed = onJar(entry.cFileName, context);
        else if (onSkipped != nullptr)
            onSkipped(entry.cFileName, context);
    } while (listed && FindNextFileA(search, &entry));
    FindClose(search);
    return listed;
}

struct JarAppending {
    GrowingText* bootClassPath;
    bool first;
};

static bool AppendJar(const char* fileName, void* context) {
    auto* appending = static_cast<JarAppending*>(context);
    const char* pieces[] = {appending->first ? "" : ";", kJarEntryPrefix, fileName};
    appending->first = false;
    return AppendAll(appending->bootClassPath, pieces, 3);
}

// Lists the jars of the working directory onto the option text, in the
// order the directory search returns them.
static bool AppendJarsOfWorkingDirectory(GrowingText* bootClassPath) {
    JarAppending appending = {bootClassPath, true};
    return ListJarsOfWorkingDirectory(AppendJar, nullptr, &appending);
}

// The boot class path option, or null when memory ran out.
static char* BuildBootClassPath(bool inJarDirectory, VmGeneration generation) {
    const char* option = generation == ModularVm ? kModularBootClassPathOption : kClassicBootClassPathOption;
    GrowingText bootClassPath;
    if (!StartText(&bootClassPath, option)) return nullptr;
    if (inJarDirectory && !AppendJarsOfWorkingDirectory(&bootClassPath)) {
        free(bootClassPath.text);
        return nullptr;
    }
    return bootClassPath.text;
}

// ------------------------------------------------------------ init file

static bool IsTrailingWhitespace(int byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

bool InitFileIsMisread(const InitFileMisreadings& misreadings) {
    return misreadings.utf16 || misreadings.optionBehindByteOrderMark || misreadings.optionsPastLast > 0 ||
           misreadings.cutLines > 0;
}

static void Tell(const InitFileObserver* observer, InitFilePiece* seen, const char* text, InitPieceFate fate) {
    if (observer == nullptr) return;
    seen->text = text;
    seen->fate = fate;
    observer->seen(*seen, observer->context);
}

// --- saved as UTF-16

enum InitFileEncoding { AnsiFile, Utf16LittleEndian, Utf16BigEndian };

// What Notepad's "Unicode" and PowerShell 5.1's Out-File write: a UTF-16
// byte-order mark (FF FE, FE FF), or, without one, a NUL as second byte.
// Leaves the file past a UTF-16 byte-order mark, otherwise where it was.
static InitFileEncoding EncodingOf(FILE* initFile) {
    long start = ftell(initFile);
    if (start < 0) return AnsiFile;  // no way back: read as it comes
    unsigned char head[2];
    size_t got = fread(head, 1, 2, initFile);
    if (got == 2 && head[0] == 0xFF && head[1] == 0xFE) return Utf16LittleEndian;
    if (got == 2 && head[0] == 0xFE && head[1] == 0xFF) return Utf16BigEndian;
    fseek(initFile, start, SEEK_SET);
    return got == 2 && head[1] == 0 ? Utf16LittleEndian : AnsiFile;
}

// One UTF-16 code unit; false at the end, where an odd byte is dropped.
static bool ReadUnit(FILE* initFile, InitFileEncoding encoding, WCHAR* unit) {
    int first = getc(initFile);
    int second = first != EOF ? getc(initFile) : EOF;
    if (second == EOF) return false;
    *unit = static_cast<WCHAR>(encoding == Utf16LittleEndian ? first | second << 8 : first << 8 | second);
    return true;
}

// Tells a UTF-16 line in the ANSI code page, as much of it as the buffer holds.
static void TellUtf16Line(const InitFileObserver* observer, int line, const WCHAR* units, int length) {
    if (observer == nullptr) return;
    char text[3 * kPieceBufferSize];  // up to three bytes a unit, in any code page
    int size = length > 0 ? WideCharToMultiByte(CP_ACP, 0, units, length, text, sizeof text - 1, nullptr, nullptr) : 0;
    text[size] = '\0';
    InitFilePiece seen = {line, 1, false, false, false, nullptr, PieceOfUtf16File};
    Tell(observer, &seen, text, PieceOfUtf16File);
}

// A file saved as UTF-16 gives no option: its lines are counted, and told.
static int ReadUtf16Lines(FILE* initFile, InitFileEncoding encoding, const InitFileObserver* observer) {
    WCHAR units[kPieceBufferSize - 1];
    int length = 0;
    bool lineBegun = false;
    int lines = 0;
    for (;;) {
        WCHAR unit = 0;
        bool read = ReadUnit(initFile, encoding, &unit);
        if (read) {
            lineBegun = true;
            if (length < kPieceBufferSize - 1) units[length++] = unit;
            if (unit != '\n') continue;
        }
        if (!lineBegun) return lines;
        TellUtf16Line(observer, ++lines, units, length);
        length = 0;
        lineBegun = false;
        if (!read) return lines;
    }
}

// --- read as ANSI

// The piece's option text in a new heap string (never trimmed past the
// leading "-"), or null when memory ran out.
static char* CopyTrimmedOption(const char* piece) {
    size_t length = strlen(piece);
    while (length > 1 && IsTrailingWhitespace(piece[length - 1])) --length;
    char* option = static_cast<char*>(malloc(length + 1));
    if (option == nullptr) return nullptr;
    memcpy(option, piece, length);
    option[length] = '\0';
    return option;
}

static const char kByteOrderMark[] = "\xEF\xBB\xBF";

// A piece that filled the buffer ends its line only with a line feed, or
// at the end of the file. Peeks at the next byte to know which.
static bool LineGoesOn(FILE* initFile, const char* piece) {
    if (piece[kPieceBufferSize - 1] != '\0' || piece[kPieceBufferSize - 2] == '\n') return false;
    int next = getc(initFile);
    if (next == EOF) return false;
    ungetc(next, initFile);
    return true;
}

// Whether the rest of the line holds more than whitespace before its line
// feed or a NUL. Reads ahead and goes back; read once per cut line, so a
// file costs at most twice its length.
static bool RestOfLineHasText(FILE* initFile) {
    long at = ftell(initFile);
    if (at < 0) return true;  // cannot look: the start may take less than the line says
    bool text = false;
    for (int byte = getc(initFile); !text && byte != EOF && byte != '\n' && byte != '\0'; byte = getc(initFile))
        text = !IsTrailingWhitespace(byte);
    fseek(initFile, at, SEEK_SET);
    return text;
}

static void NoteCutLine(InitFileMisreadings* misreadings, int line) {
    if (misreadings->cutLines < kMostCutLinesNamed) misreadings->cutLineNumbers[misreadings->cutLines] = line;
    ++misreadings->cutLines;
}

static void NotePastLast(InitFileMisreadings* misreadings, int line) {
    if (misreadings->optionsPastLast++ == 0) misreadings->firstLinePastLast = line;
}

static int ReadAnsiPieces(FILE* initFile, char** options, int capacity, const InitFileObserver* observer,
                          InitFileMisreadings* misreadings) {
    char piece[kPieceBufferSize];
    InitFilePiece seen = {1, 1, false, false, false, nullptr, PieceNotAnOption};
    bool lineNoted = false;  // among the cut lines already
    int count = 0;
    for (;;) {
        // A mark that fgets overwrites tells whether the piece filled the buffer.
        piece[kPieceBufferSize - 1] = 1;
        if (fgets(piece, sizeof piece, initFile) == nullptr) break;
        seen.cut = LineGoesOn(initFile, piece);
        seen.textGoesOn =
            seen.cut && seen.piece == 1 && strlen(piece) == kPieceBufferSize - 1 && RestOfLineHasText(initFile);
        seen.byteOrderMark = seen.line == 1 && seen.piece == 1 && strncmp(piece, kByteOrderMark, 3) == 0;
        if (seen.byteOrderMark && piece[3] == '-') misreadings->optionBehindByteOrderMark = true;

        InitPieceFate fate = piece[0] != '-'    ? PieceNotAnOption
                             : count < capacity ? PieceBecameOption
                                                : PiecePastLastOption;
        if (fate == PieceBecameOption) {
            options[count] = CopyTrimmedOption(piece);
            if (options[count] == nullptr) {
                while (count > 0) free(options[--count]);
                return -1;
            }
            ++count;
        } else if (fate == PiecePastLastOption) {
            NotePastLast(misreadings, seen.line);
        }
        // An option cut from its line's text, or made of a line's rest.
        if (fate == PieceBecameOption && (seen.textGoesOn || seen.piece > 1) && !lineNoted) {
            NoteCutLine(misreadings, seen.line);
            lineNoted = true;
        }
        Tell(observer, &seen, piece, fate);

        if (seen.cut) {
            ++seen.piece;
        } else {
            ++seen.line;
            seen.piece = 1;
            lineNoted = false;
        }
    }
    return count;
}

int ReadInitFileOptions(FILE* initFile, char** options, int capacity, const InitFileObserver* observer,
                        InitFileMisreadings* misreadings) {
    InitFileMisreadings unasked;
    if (misreadings == nullptr) misreadings = &unasked;
    memset(misreadings, 0, sizeof *misreadings);
    InitFileEncoding encoding = EncodingOf(initFile);
    if (encoding == AnsiFile) return ReadAnsiPieces(initFile, options, capacity, observer, misreadings);
    misreadings->utf16 = true;
    misreadings->utf16Lines = ReadUtf16Lines(initFile, encoding, observer);
    return 0;
}

// Reads the init file from the working directory. A missing file gives no
// options; -1 when memory ran out.
static int ReadInitFile(const char* initFileName, char** options, InitFileMisreadings* misreadings) {
    FILE* initFile = fopen(initFileName, "rb");
    if (initFile == nullptr) {
        if (misreadings != nullptr) memset(misreadings, 0, sizeof *misreadings);
        return 0;
    }
    int count = ReadInitFileOptions(initFile, options, MaxInitFileOptions, nullptr, misreadings);
    fclose(initFile);
    return count;
}

// ------------------------------------------------------------ the hooks

// Every VM knows these three options; their extraInfo is the function.
static void AddVmHooks(JavaVMOption* options, const VmHooks& hooks) {
    options[0].optionString = const_cast<char*>("vfprintf");
    options[0].extraInfo = hooks.print;
    options[1].optionString = const_cast<char*>("exit");
    options[1].extraInfo = hooks.exit;
    options[2].optionString = const_cast<char*>("abort");
    options[2].extraInfo = hooks.abort;
}

// ------------------------------------------------------------ secrets

// Reports mask these wherever they show them; the VM gets them whole.
static void RememberSecrets(const JavaVMOption* options, jint count) {
    ForgetSecrets();
    for (jint i = 0; i < count; ++i) RememberSecretsOf(options[i].optionString);
}

// ------------------------------------------------------------ the list

JvmOptionList BuildJvmOptionList(const char* moduleDirectory, const char* initFileName, VmGeneration generation,
                                 const VmHooks& hooks, InitFileMisreadings* misreadings) {
    JvmOptionList list = {nullptr, 0};

    SetCurrentDirectoryA(moduleDirectory);
    bool inJarDirectory = SetCurrentDirectoryA(kJarDirectory) != FALSE;
    char* bootClassPath = BuildBootClassPath(inJarDirectory, generation);
    SetCurrentDirectoryA(moduleDirectory);

    char* initFileOptions[MaxInitFileOptions];
    int initFileCount = ReadInitFile(initFileName, initFileOptions, misreadings);

    JavaVMOption* options = nullptr;
    size_t capacity = static_cast<size_t>(initFileCount) + 3 + kVmHookOptionCount;
    if (bootClassPath != nullptr && initFileCount >= 0)
        options = static_cast<JavaVMOption*>(calloc(capacity, sizeof(JavaVMOption)));
    if (options == nullptr) {
        // Out of memory: a partial list would start a VM unlike the one the
        // installation asks for, so there is none.
        for (int i = 0; i < initFileCount; ++i) free(initFileOptions[i]);
        free(bootClassPath);
        return list;
    }

    jint count = static_cast<jint>(capacity);
    options[0].optionString = const_cast<char*>(kApplicationHomeOption);
    options[1].optionString = const_cast<char*>(kLibraryPathOption);
    for (int i = 0; i < initFileCount; ++i) options[2 + i].optionString = initFileOptions[i];
    options[2 + initFileCount].optionString = bootClassPath;
    AddVmHooks(options + 3 + initFileCount, hooks);

    list.options = options;
    list.count = count;
    RememberSecrets(options, count - kVmHookOptionCount);
    return list;
}

void FreeJvmOptionList(JvmOptionList* list) {
    if (list->options == nullptr) return;
    for (jint i = 2; i < BootClassPathIndex(*list); ++i) free(list->options[i].optionString);
    ReleaseBootClassPath(list);
    free(list->options);
    list->options = nullptr;
    list->count = 0;
}

void ReleaseBootClassPath(JvmOptionList* list) {
    if (list->options == nullptr) return;
    char** bootClassPath = &list->options[BootClassPathIndex(*list)].optionString;
    free(*bootClassPath);
    *bootClassPath = nullptr;
}
