// PE headers read piece by piece through the file functions: each piece is
// read at the offset the headers give, and used only when it was read
// whole. Sizes and offsets come from the file, so every sum is checked
// before it is used as an offset.
#include "PeImage.h"

#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LaunchLayout.h"

// The Windows loader refuses images with more sections than this.
static const DWORD kMostSections = 96;
static const DWORD kSectionHeaderSize = 40;
static const DWORD kImportDescriptorSize = 20;
// Bounds for tables whose end the file itself declares.
static const DWORD kMostImports = 4096;
static const DWORD kMostExportNames = 65536;
// Longest library or export name read; longer ones count as unreadable.
static const DWORD kNameCapacity = 256;
// Offsets that SetFilePointer reaches without a high part.
static const uint64_t kLargestOffset = 0x7FFFFFFF;

enum { kExportDirectory = 0, kImportDirectory = 1, kDirectoryCount = 16 };

struct Section {
    DWORD rva;
    DWORD rawOffset;
    DWORD rawSize;
};

struct Image {
    HANDLE file;
    WORD machine;
    DWORD sizeOfHeaders;
    DWORD directoryCount;
    DWORD directoryRva[kDirectoryCount];
    WORD sectionCount;
    Section sections[kMostSections];
};

static DWORD LittleEndian(const unsigned char* bytes, int count) {
    DWORD value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Reads up to count bytes at offset; *got says how many came.
static bool ReadUpTo(HANDLE file, uint64_t offset, void* buffer, DWORD count, DWORD* got) {
    *got = 0;
    if (offset > kLargestOffset) return false;
    if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
    return ReadFile(file, buffer, count, got, nullptr) != FALSE && *got <= count;
}

// Reads exactly count bytes at offset; anything less is a failure.
static bool ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD count) {
    DWORD got = 0;
    return ReadUpTo(file, offset, buffer, count, &got) && got == count;
}

// Opens the file and reads its machine; false (and nothing open) when it
// is no PE image.
static bool OpenImage(const char* path, Image* image) {
    image->file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (image->file == INVALID_HANDLE_VALUE) return false;
    unsigned char dosHeader[64];
    unsigned char peHeader[6];
    if (ReadAt(image->file, 0, dosHeader, sizeof dosHeader) && dosHeader[0] == 'M' && dosHeader[1] == 'Z' &&
        ReadAt(image->file, LittleEndian(dosHeader + 0x3c, 4), peHeader, sizeof peHeader) &&
        memcmp(peHeader, "PE\0\0", 4) == 0) {
        image->machine = static_cast<WORD>(LittleEndian(peHeader + 4, 2));
        return true;
    }
    CloseHandle(image->file);
    return false;
}

// The data directories and sections, for finding tables by their RVA.
static bool ReadLayout(Image* image) {
    unsigned char dosHeader[64];
    if (!ReadAt(image->file, 0, dosHeader, sizeof dosHeader)) return false;
    uint64_t peOffset = LittleEndian(dosHeader + 0x3c, 4);
    unsigned char fileHeader[24];  // the signature and the COFF header
    if (!ReadAt(image->file, peOffset, fileHeader, sizeof fileHeader)) return false;
    image->sectionCount = static_cast<WORD>(LittleEndian(fileHeader + 6, 2));
    DWORD optionalSize = LittleEndian(fileHeader + 20, 2);
    if (image->sectionCount > kMostSections) return false;

    // PE32 and PE32+ differ in where the directory count and the directories are.
    unsigned char optional[240];
    DWORD optionalRead = optionalSize < sizeof optional ? optionalSize : static_cast<DWORD>(sizeof optional);
    if (optionalRead < 64 || !ReadAt(image->file, peOffset + 24, optional, optionalRead)) return false;
    DWORD magic = LittleEndian(optional, 2);
    DWORD countAt = magic == 0x10b ? 92 : magic == 0x20b ? 108 : 0;
    if (countAt == 0 || optionalRead < countAt + 4) return false;
    DWORD directoriesAt = countAt + 4;
    DWORD count = LittleEndian(optional + countAt, 4);
    DWORD present = (optionalRead - directoriesAt) / 8;
    if (count > present) count = present;
    if (count > kDirectoryCount) count = kDirectoryCount;
    image->directoryCount = count;
    for (DWORD i = 0; i < count; ++i) image->directoryRva[i] = LittleEndian(optional + directoriesAt + 8 * i, 4);
    image->sizeOfHeaders = LittleEndian(optional + 60, 4);

    unsigned char sectionHeaders[kMostSections * kSectionHeaderSize];
    DWORD sectionBytes = image->sectionCount * kSectionHeaderSize;
    if (sectionBytes > 0 && !ReadAt(image->file, peOffset + 24 + optionalSize, sectionHeaders, sectionBytes))
        return false;
    for (WORD i = 0; i < image->sectionCount; ++i) {
        const unsigned char* header = sectionHeaders + i * kSectionHeaderSize;
        image->sections[i].rva = LittleEndian(header + 12, 4);
        image->sections[i].rawSize = LittleEndian(header + 16, 4);
        image->sections[i].rawOffset = LittleEndian(header + 20, 4);
    }
    return true;
}

// Where the file holds the byte at rva, and how many bytes of the file
// belong to the same section from there on.
static bool FileOffset(const Image& image, uint64_t rva, uint64_t* offset, uint64_t* available) {
    for (WORD i = 0; i < image.sectionCount; ++i) {
        const Section& section = image.sections[i];
        if (rva < section.rva || rva - section.rva >= section.rawSize) continue;
        *offset = static_cast<uint64_t>(section.rawOffset) + (rva - section.rva);
        *available = section.rawSize - (rva - section.rva);
        return true;
    }
    if (rva < image.sizeOfHeaders) {
        *offset = rva;
        *available = image.sizeOfHeaders - rva;
        return true;
    }
    return false;
}

static bool ReadAtRva(const Image& image, uint64_t rva, void* buffer, DWORD count) {
    uint64_t offset = 0;
    uint64_t available = 0;
    return FileOffset(image, rva, &offset, &available) && available >= count &&
           ReadAt(image.file, offset, buffer, count);
}

// A non-empty name that ends, with its NUL, within what was read.
static bool ReadName(const Image& image, uint64_t rva, char* name) {
    uint64_t offset = 0;
    uint64_t available = 0;
    if (!FileOffset(image, rva, &offset, &available)) return false;
    DWORD wanted = available < kNameCapacity ? static_cast<DWORD>(available) : kNameCapacity;
    DWORD got = 0;
    if (!ReadUpTo(image.file, offset, name, wanted, &got)) return false;
    const void* end = memchr(name, '\0', got);
    return end != nullptr && end != name;
}

WORD PeImageMachine(const char* path) {
    Image image;
    if (!OpenImage(path, &image)) return 0;
    CloseHandle(image.file);
    return image.machine;
}

// The loader's own end of the table: a descriptor without a name or
// without an import address table.
static bool VisitImports(const Image& image, PeImportVisitor visit, void* context) {
    if (image.directoryCount <= kImportDirectory || image.directoryRva[kImportDirectory] == 0) return true;
    uint64_t table = image.directoryRva[kImportDirectory];
    for (DWORD i = 0; i < kMostImports; ++i) {
        unsigned char descriptor[kImportDescriptorSize];
        if (!ReadAtRva(image, table + static_cast<uint64_t>(i) * kImportDescriptorSize, descriptor, sizeof descriptor))
            return false;
        DWORD nameRva = LittleEndian(descriptor + 12, 4);
        DWORD firstThunk = LittleEndian(descriptor + 16, 4);
        if (nameRva == 0 || firstThunk == 0) return true;
        char name[kNameCapacity];
        if (!ReadName(image, nameRva, name)) return false;
        if (!visit(name, context)) return true;
    }
    return false;
}

bool ForEachPeImport(const char* path, PeImportVisitor visit, void* context) {
    Image image;
    if (!OpenImage(path, &image)) return false;
    bool read = ReadLayout(&image) && VisitImports(image, visit, context);
    CloseHandle(image.file);
    return read;
}

static bool FindExport(const Image& image, const char* wanted) {
    if (image.directoryCount <= kExportDirectory || image.directoryRva[kExportDirectory] == 0) return false;
    unsigned char directory[40];
    if (!ReadAtRva(image, image.directoryRva[kExportDirectory], directory, sizeof directory)) return false;
    DWORD nameCount = LittleEndian(directory + 24, 4);
    uint64_t names = LittleEndian(directory + 32, 4);
    if (nameCount > kMostExportNames) nameCount = kMostExportNames;
    for (DWORD i = 0; i < nameCount; ++i) {
        unsigned char nameRva[4];
        char name[kNameCapacity];
        if (!ReadAtRva(image, names + 4 * static_cast<uint64_t>(i), nameRva, sizeof nameRva) ||
            !ReadName(image, LittleEndian(nameRva, 4), name))
            return false;
        if (strcmp(name, wanted) == 0) return true;
    }
    return false;
}

bool PeImageExports(const char* path, const char* name) {
    Image image;
    if (name == nullptr || !OpenImage(path, &image)) return false;
    bool found = ReadLayout(&image) && FindExport(image, name);
    CloseHandle(image.file);
    return found;
}

// ------------------------------------------------------------ libraries

static bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (tolower(static_cast<unsigned char>(*text)) != tolower(static_cast<unsigned char>(*prefix))) return false;
    return true;
}

// API-set names are no files on current Windows: the loader maps them to
// the system's own libraries, and only loading one tells whether it does.
// Only a bare name of the sets' own characters is ever loaded, and only
// from the system folder.
static bool IsApiSetName(const char* name) {
    if (!StartsWithIgnoringCase(name, "api-ms-win-") && !StartsWithIgnoringCase(name, "ext-ms-win-")) return false;
    for (const char* at = name; *at != '\0'; ++at)
        if (!isalnum(static_cast<unsigned char>(*at)) && *at != '-' && *at != '.' && *at != '_') return false;
    return true;
}

static bool SystemLoadsApiSet(const char* name) {
    HMODULE library = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) return false;
    FreeLibrary(library);
    return true;
}

// ------------------------------------------------------------ the service's search

static const char kSystemEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// The system's PATH, the one a service gets: the registry's value with its
// %variables% expanded, in a heap block; empty when there is none, null
// when memory is short.
static char* SystemPath() {
    HKEY key = nullptr;
    char* value = nullptr;
    DWORD type = 0;
    DWORD size = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSystemEnvironmentKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, "Path", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            value = static_cast<char*>(calloc(size + 1, 1));  // a value need not end in its NUL
            if (value != nullptr &&
                RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
                value[0] = '\0';
        }
        RegCloseKey(key);
    }
    if (value == nullptr) return static_cast<char*>(calloc(1, 1));
    // The ANSI form wants one byte more than it says it needs.
    DWORD capacity = ExpandEnvironmentStringsA(value, nullptr, 0) + 1;
    char* expanded = capacity > 1 ? static_cast<char*>(malloc(capacity)) : nullptr;
    DWORD stored = expanded != nullptr ? ExpandEnvironmentStringsA(value, expanded, capacity) : 0;
    if (stored == 0 || stored > capacity) {
        free(expanded);
        return value;
    }
    free(value);
    return expanded;
}

// Takes the empty entries out of a PATH-like list: they name no folder.
static char* DropEmptyEntries(char* list) {
    char* to = list;
    for (const char* from = list; *from != '\0'; ++from)
        if (*from != ';' || (to != list && to[-1] != ';')) *to++ = *from;
    if (to != list && to[-1] == ';') --to;
    *to = '\0';
    return list;
}

// The folders the service's loader searches for a library that jvm.dll
// imports, in its order, as a PATH-like list in a heap block (null when
// memory is short): the program's folder, the system folder, the 16-bit
// system folder, the Windows folder, then the system's PATH. Not the
// current folder, which the program takes out of its search first thing;
// nor jvm.dll's own, which the start's load by full path does not ask for.
static char* ServiceSearchPath() {
    char system[MAX_PATH];
    char windows[MAX_PATH];
    UINT systemLength = GetSystemDirectoryA(system, sizeof system);
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof windows);
    if (systemLength == 0 || systemLength >= sizeof system) system[0] = '\0';
    if (windowsLength == 0 || windowsLength >= sizeof windows) windows[0] = '\0';
    char* program = GetModuleDirectory();
    char* systemPath = SystemPath();
    char* list = nullptr;
    if (program != nullptr && systemPath != nullptr) {
        size_t size = strlen(program) + strlen(system) + 2 * strlen(windows) + strlen(systemPath) + 16;
        list = static_cast<char*>(malloc(size));
        if (list != nullptr)
            snprintf(list, size, "%s;%s;%s%s;%s;%s", program, system, windows, windows[0] != '\0' ? "\\System" : "",
                     windows, systemPath);
    }
    free(program);
    free(systemPath);
    return list != nullptr ? DropEmptyEntries(list) : nullptr;
}

// The file `name` in the first of `folders` that holds it, as a full path
// in a heap block; null when none does (or memory is short).
static char* FindInFolders(const char* folders, const char* name) {
    DWORD capacity = MAX_PATH;
    for (int attempt = 0; attempt < 2; ++attempt) {
        char* found = static_cast<char*>(malloc(capacity));
        if (found == nullptr) return nullptr;
        DWORD length = SearchPathA(folders, name, nullptr, capacity, found, nullptr);
        if (length > 0 && length < capacity) return found;
        free(found);
        if (length == 0) return nullptr;
        capacity = length;  // the size it needs
    }
    return nullptr;
}

// The folder a full path lies in, without its last backslash.
static char* FolderOf(char* path) {
    char* slash = strrchr(path, '\\');
    if (slash != nullptr && slash != path) *slash = '\0';
    return path;
}

// This process's PATH, in a heap block, or null when it has none.
static char* OwnPath() {
    DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
    char* path = needed > 0 ? static_cast<char*>(malloc(needed)) : nullptr;
    if (path != nullptr && GetEnvironmentVariableA("PATH", path, needed) + 1 != needed) {
        free(path);
        return nullptr;
    }
    return path != nullptr ? DropEmptyEntries(path) : nullptr;
}

ImportSearch FindImportedLibrary(const char* name, char** folder) {
    *folder = nullptr;
    char* servicePath = ServiceSearchPath();
    if (servicePath == nullptr) return ImportFoundByService;  // no search, so nothing to claim
    char* found = FindInFolders(servicePath, name);
    free(servicePath);
    if (found != nullptr || (IsApiSetName(name) && SystemLoadsApiSet(name))) {
        free(found);
        return ImportFoundByService;
    }
    // Where this process would find it: the current folder, then its PATH.
    char current[MAX_PATH];
    DWORD currentLength = GetCurrentDirectoryA(sizeof current, current);
    if (currentLength > 0 && currentLength < sizeof current && (found = FindInFolders(current, name)) != nullptr) {
        *folder = FolderOf(found);
        return ImportOnlyInCurrentFolder;
    }
    char* ownPath = OwnPath();
    found = ownPath != nullptr ? FindInFolders(ownPath, name) : nullptr;
    free(ownPath);
    if (found == nullptr) return ImportNotFound;
    *folder = FolderOf(found);
    return ImportOnlyOnCallersPath;
}

bool LoaderFindsLibrary(const char* name) {
    char* folder = nullptr;
    bool found = FindImportedLibrary(name, &folder) == ImportFoundByService;
    free(folder);
    return found;
}

// A name against a pattern with '*' for any run of characters, in any case.
static bool MatchesIgnoringCase(const char* pattern, const char* name) {
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern != '\0' &&
                   tolower(static_cast<unsigned char>(*pattern)) == tolower(static_cast<unsigned char>(*name))) {
            ++pattern;
            ++name;
        } else if (starPattern != nullptr) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

static const char kVisualCpp2015[] = "the Microsoft Visual C++ Redistributable 2015 or later";

static const struct {
    const char* pattern;
    const char* package;
} kRuntimePackages[] = {
    {"vcruntime140*.dll", kVisualCpp2015},
    {"msvcp140*.dll", kVisualCpp2015},
    {"msvcr120.dll", "the Visual C++ 2013 Redistributable"},
    {"msvcr100.dll", "the Visual C++ 2010 Redistributable"},
    {"api-ms-win-crt-*.dll", "the Universal C Runtime (Windows update KB2999226)"},
};

const char* RuntimePackageOf(const char* libraryName) {
    for (const auto& runtime : kRuntimePackages)
        if (MatchesIgnoringCase(runtime.pattern, libraryName)) return runtime.package;
    return nullptr;
}

const char* PeMachineName(WORD machine) {
    switch (machine) {
        case kMachineX86:
            return "32-bit (x86)";
        case kMachineX64:
            return "64-bit (x64)";
        case kMachineArm64:
            return "64-bit ARM (ARM64)";
        default:
            return nullptr;
    }
}

WORD OwnPeMachine() { return sizeof(void*) == 8 ? kMachineX64 : kMachineX86; }
