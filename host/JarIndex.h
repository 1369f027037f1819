#ifndef HOST_JAR_INDEX_H
#define HOST_JAR_INDEX_H

#include <stddef.h>

#include <windows.h>

// Whether a jar holds an entry, read from its zip central directory
// without unpacking anything: for a check of where the kernel class comes
// from. The whole directory is walked, as a VM does when it opens the jar,
// so that a jar whose directory is damaged anywhere counts as unreadable.
// A jar's bytes are untrusted: every field is checked against what was
// read, sums are taken in 64 bits and counts are bounded.

enum JarAnswer {
    JarHoldsEntry,
    JarLacksEntry,
    // The file is no zip a VM could read:
    JarNoDirectoryEnd,    // no end-of-central-directory record (not a zip, or cut short)
    JarDirectoryOutside,  // the directory the end record declares does not fit before it
    JarDirectoryDamaged,  // an entry of the directory is not where or what the end record says
    // The file may be a good zip, but this reader does not read it:
    JarZip64,       // a zip64 archive
    JarTooLarge,    // past 2 GiB, or a directory larger than kLargestJarDirectory
    JarUnreadable,  // it cannot be opened or read: *error says why
};

enum { kLargestJarDirectory = 64 * 1024 * 1024 };

// Whether the answer says the file is no zip at all (a VM cannot read it either).
bool JarIsNoZip(JarAnswer answer);

// Why a jar is no zip, or cannot be read, in a few words ("it has no zip
// directory: it is no zip, or it is cut short"); null for the two answers
// about the entry and for JarUnreadable.
const char* JarAnswerText(JarAnswer answer);

// Looks for the entry (its name as the zip holds it: "com/example/Main.class")
// in the jar at path. *error is the Windows error for JarUnreadable.
JarAnswer FindJarEntry(const char* path, const char* entryName, DWORD* error);

// The same over a whole file held in memory.
JarAnswer FindZipEntry(const unsigned char* bytes, size_t size, const char* entryName);

#endif
