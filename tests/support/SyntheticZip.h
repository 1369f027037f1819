#ifndef TESTS_SUPPORT_SYNTHETIC_ZIP_H
#define TESTS_SUPPORT_SYNTHETIC_ZIP_H

#include <string>
#include <vector>

// A small zip (a jar) made byte by byte, for tests that read its central
// directory: each entry stored empty, a local header for each, the
// directory, then the end record with its comment.
struct SyntheticZip {
    std::vector<std::string> entries;  // names as the zip holds them: "com/example/Main.class"
    std::string comment;
    bool zip64Locator = false;  // a zip64 end locator just before the end record
};

std::string BuildZip(const SyntheticZip& zip);

enum SyntheticZipLayout : size_t {
    kZipEndRecordSize = 22,
    kZipLocalHeaderSize = 30,
    kZipEntryHeaderSize = 46,
    kZip64LocatorSize = 20,
};

// Where the end record begins in a zip BuildZip made, and where its directory does.
size_t ZipEndRecordOffset(const SyntheticZip& zip);
size_t ZipDirectoryOffset(const SyntheticZip& zip);

#endif
