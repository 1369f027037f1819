#ifndef TESTS_SUPPORT_SYNTHETIC_IMAGE_H
#define TESTS_SUPPORT_SYNTHETIC_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

// A small PE image made byte by byte, for tests that read headers rather
// than load code: its machine, the libraries it imports and the functions
// it exports. Headers at the start, one section (.rdata) with the tables.
struct SyntheticImage {
    uint16_t machine = 0x8664;
    bool pe32Plus = true;  // PE32+ (64-bit) or PE32 optional header
    std::vector<std::string> imports;
    std::vector<std::string> exports;
};

// Where the parts are, for tests that spoil one of them.
enum SyntheticImageLayout : uint32_t {
    kImagePeOffset = 0x80,        // "PE\0\0", then the COFF header
    kImageOptionalOffset = 0x98,  // the optional header
    kImageSectionData = 0x400,    // file offset of the one section
    kImageSectionRva = 0x1000,    // its RVA
};

std::string BuildPeImage(const SyntheticImage& image);

// Offset of the section header in an image BuildPeImage made.
uint32_t SectionHeaderOffset(const SyntheticImage& image);

// Writes a little-endian value into bytes at offset.
void PutLittleEndian(std::string* bytes, uint32_t offset, uint64_t value, int size);

#endif
