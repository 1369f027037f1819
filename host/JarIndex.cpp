// A jar's central directory, found through its end record and walked
// entry by entry. The bytes come from a file or from memory through one
// reader that hands out only what it read whole; every offset and length
// the bytes declare is checked against that before it is used.
#include "JarIndex.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const DWORD kEndRecordSize = 22;
static const DWORD kLongestComment = 65535;
static const DWORD kZip64LocatorSize = 20;
static const DWORD kEntryHeaderSize = 46;
static const DWORD kEndSignature = 0x06054b50;           // PK\5\6
static const DWORD kZip64LocatorSignature = 0x07064b50;  // PK\6\7
static const DWORD kEntrySignature = 0x02014b50;         // PK\1\2
static const DWORD kLocalSignature = 0x04034b50;         // PK\3\4
// Offsets that SetFilePointer reaches without a high part.
static const uint64_t kLargestFile = 0x7FFFFFFF;

struct ZipBytes {
    HANDLE file;  // or, for bytes in memory, INVALID_HANDLE_VALUE and:
    const unsigned char* bytes;
    uint64_t size;
    DWORD error;  // of the last failed read of the file
};

static DWORD LittleEndian(const unsigned char* bytes, int count) {
    DWORD value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

// Reads exactly count bytes at offset; anything less is a failure.
static bool ReadAt(ZipBytes* zip, uint64_t offset, unsigned char* buffer, DWORD count) {
    if (offset > zip->size || count > zip->size - offset) return false;
    if (zip->file == INVALID_HANDLE_VALUE) {
        memcpy(buffer, zip->bytes + offset, count);
        return true;
    }
    if (SetFilePointer(zip->file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        zip->error = GetLastError();
        return false;
    }
    for (DWORD done = 0; done < count;) {
        DWORD got = 0;
        if (!ReadFile(zip->file, buffer + done, count - done, &got, nullptr)) {
            zip->error = GetLastError();
            return false;
        }
        if (got == 0 || got > count - done) {
            zip->error = ERROR_HANDLE_EOF;
            return false;
        }
        done += got;
    }
    return true;
}

// Where the central directory lies, as the end record declares it.
struct Directory {
    uint64_t at;
    DWORD size;
    DWORD entries;
};

// Whether four bytes at offset are the signature (false when they cannot be read).
static bool SignatureAt(ZipBytes* zip, uint64_t offset, DWORD signature) {
    unsigned char bytes[4];
    return ReadAt(zip, offset, bytes, sizeof bytes) && LittleEndian(bytes, 4) == signature;
}

// The directory that an end record at recordAt declares: JarLacksEntry
// when it fits before the record (nothing looked up yet), or why not. A VM
// takes the directory to end where the record begins, whatever its offset
// field says, so that a jar behind a stub still reads.
static JarAnswer DeclaredDirectory(ZipBytes* zip, const unsigned char* record, uint64_t recordAt,
                                   Directory* directory) {
    directory->entries = LittleEndian(record + 10, 2);
    directory->size = LittleEndian(record + 12, 4);
    DWORD offset = LittleEndian(record + 16, 4);
    if (recordAt >= kZip64LocatorSize && SignatureAt(zip, recordAt - kZip64LocatorSize, kZip64LocatorSignature))
        return JarZip64;
    if (directory->size > recordAt || offset > recordAt - directory->size) return JarDirectoryOutside;
    if (directory->size > kLargestJarDirectory) return JarTooLarge;
    directory->at = recordAt - directory->size;
    return JarLacksEntry;
}

// Whether a record whose comment does not reach the file's end is a zip's
// all the same (bytes padded after it): its directory and the first local
// entry it declares begin with their signatures.
static bool IsPaddedZip(ZipBytes* zip, const unsigned char* record, const Directory& directory) {
    return directory.size > 0 && SignatureAt(zip, directory.at, kEntrySignature) &&
           SignatureAt(zip, directory.at - LittleEndian(record + 16, 4), kLocalSignature);
}

// The end record, searched from the end of the file back over a comment of
// up to 64 KiB: JarLacksEntry when a directory was found, or why none was.
static JarAnswer FindDirectory(ZipBytes* zip, Directory* directory) {
    if (zip->size < kEndRecordSize) return JarNoDirectoryEnd;
    uint64_t tailSize = zip->size < kEndRecordSize + kLongestComment ? zip->size : kEndRecordSize + kLongestComment;
    uint64_t tailAt = zip->size - tailSize;
    auto* tail = static_cast<unsigned char*>(malloc(tailSize));
    if (tail == nullptr) {
        zip->error = ERROR_NOT_ENOUGH_MEMORY;
        return JarUnreadable;
    }
    JarAnswer answer = ReadAt(zip, tailAt, tail, static_cast<DWORD>(tailSize)) ? JarNoDirectoryEnd : JarUnreadable;
    for (uint64_t at = tailSize - kEndRecordSize + 1; answer == JarNoDirectoryEnd && at-- > 0;) {
        const unsigned char* record = tail + at;
        if (LittleEndian(record, 4) != kEndSignature) continue;
        uint64_t commentEnd = at + kEndRecordSize + LittleEndian(record + 20, 2);
        if (commentEnd > tailSize) continue;
        JarAnswer declared = DeclaredDirectory(zip, record, tailAt + at, directory);
        if (commentEnd == tailSize || (declared == JarLacksEntry && IsPaddedZip(zip, record, *directory)))
            answer = declared;
    }
    free(tail);
    return answer;
}

// Walks every entry of the directory; holds tells whether one is named name.
static JarAnswer WalkDirectory(const unsigned char* bytes, DWORD size, DWORD entries, const char* name) {
    size_t nameLength = strlen(name);
    bool holds = false;
    uint64_t at = 0;
    for (DWORD i = 0; i < entries; ++i) {
        if (at + kEntryHeaderSize > size) return JarDirectoryDamaged;
        const unsigned char* entry = bytes + at;
        if (LittleEndian(entry, 4) != kEntrySignature) return JarDirectoryDamaged;
        DWORD entryNameLength = LittleEndian(entry + 28, 2);
        uint64_t next =
            at + kEntryHeaderSize + entryNameLength + LittleEndian(entry + 30, 2) + LittleEndian(entry + 32, 2);
        if (next > size) return JarDirectoryDamaged;
        if (entryNameLength == nameLength && memcmp(entry + kEntryHeaderSize, name, nameLength) == 0) holds = true;
        at = next;
    }
    return holds ? JarHoldsEntry : JarLacksEntry;
}

static JarAnswer FindEntry(ZipBytes* zip, const char* name) {
    Directory directory = {0, 0, 0};
    JarAnswer found = FindDirectory(zip, &directory);
    if (found != JarLacksEntry) return found;
    auto* bytes = static_cast<unsigned char*>(malloc(directory.size > 0 ? directory.size : 1));
    if (bytes == nullptr) {
        zip->error = ERROR_NOT_ENOUGH_MEMORY;
        return JarUnreadable;
    }
    JarAnswer answer = ReadAt(zip, directory.at, bytes, directory.size)
                           ? WalkDirectory(bytes, directory.size, directory.entries, name)
                           : JarUnreadable;
    free(bytes);
    return answer;
}

bool JarIsNoZip(JarAnswer answer) {
    return answer == JarNoDirectoryEnd || answer == JarDirectoryOutside || answer == JarDirectoryDamaged;
}

const char* JarAnswerText(JarAnswer answer) {
    switch (answer) {
        case JarNoDirectoryEnd:
            return "it has no zip directory: it is no zip, or it is cut short";
        case JarDirectoryOutside:
            return "its zip directory does not fit in the file: it is cut short, or damaged";
        case JarDirectoryDamaged:
            return "its zip directory is damaged";
        case JarZip64:
            return "it is a zip64 archive, which check does not read";
        case JarTooLarge:
            return "it is larger than check reads (2 GiB, or a directory of 64 MiB)";
        default:
            return nullptr;
    }
}

JarAnswer FindJarEntry(const char* path, const char* entryName, DWORD* error) {
    *error = ERROR_SUCCESS;
    ZipBytes zip = {INVALID_HANDLE_VALUE, nullptr, 0, ERROR_SUCCESS};
    zip.file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (zip.file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return JarUnreadable;
    }
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);  // a size of 4 GiB - 1 is told from a failure only by it
    DWORD low = GetFileSize(zip.file, &high);
    JarAnswer answer = JarUnreadable;
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
        zip.error = GetLastError();
    } else if (high != 0 || low > kLargestFile) {
        answer = JarTooLarge;
    } else {
        zip.size = low;
        answer = FindEntry(&zip, entryName);
    }
    CloseHandle(zip.file);
    if (answer == JarUnreadable) *error = zip.error != ERROR_SUCCESS ? zip.error : ERROR_HANDLE_EOF;
    return answer;
}

JarAnswer FindZipEntry(const unsigned char* bytes, size_t size, const char* entryName) {
    ZipBytes zip = {INVALID_HANDLE_VALUE, bytes, size, ERROR_SUCCESS};
    return FindEntry(&zip, entryName);
}
