#ifndef TESTS_SUPPORT_SYNTHETIC_IMAGE_H
#define TESTS_SUPPORT_SYNTHETIC_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

// How the import table ends. The loader stops at the first descriptor with
// no name or no import address table, whatever else it holds.
enum class ImportTableEnd {
    AllZero,
    OnlyNameZero,          // the rest of the descriptor filled in
    OnlyAddressTableZero,  // it names a library that is not imported
};

// A small PE image made byte by byte, for tests that read headers rather
// than load code: its machine, the libraries it imports and the functions
// it exports. Headers at the start, then one section (.rdata) with the
// tables, or the sections MinGW makes.
struct SyntheticImage {
    uint16_t machine = 0x8664;
    bool pe32Plus = true;  // PE32+ (64-bit) or PE32 optional header
    std::vector<std::string> imports;
    std::vector<std::string> exports;
    ImportTableEnd importEnd = ImportTableEnd::AllZero;
    // As MinGW lays a DLL out: .text, then .edata and .idata with one table
    // each, every section beginning at the RVA where the raw data of the one
    // before it ends.
    bool sectionPerTable = false;
};

// Where the parts are, for tests that spoil one of them (one .rdata section).
enum SyntheticImageLayout : uint32_t {
    kImagePeOffset = 0x80,        // "PE\0\0", then the COFF header
    kImageOptionalOffset = 0x98,  // the optional header
    kImageSectionData = 0x400,    // file offset of the first section
    kImageSectionRva = 0x1000,    // its RVA
};

std::string BuildPeImage(const SyntheticImage& image);

// Offset of the first section header in an image BuildPeImage made.
uint32_t SectionHeaderOffset(const SyntheticImage& image);

// Writes a little-endian value into bytes at offset.
void PutLittleEndian(std::string* bytes, uint32_t offset, uint64_t value, int size);

#endif
