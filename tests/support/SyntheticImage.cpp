#include "SyntheticImage.h"

void PutLittleEndian(std::string* bytes, uint32_t offset, uint64_t value, int size) {
    if (bytes->size() < offset + size) bytes->resize(offset + size, '\0');
    for (int i = 0; i < size; ++i) (*bytes)[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

static uint32_t OptionalHeaderSize(const SyntheticImage& image) { return image.pe32Plus ? 240 : 224; }

uint32_t SectionHeaderOffset(const SyntheticImage& image) { return kImageOptionalOffset + OptionalHeaderSize(image); }

std::string BuildPeImage(const SyntheticImage& image) {
    std::string bytes(kImageSectionData, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutLittleEndian(&bytes, 0x3c, kImagePeOffset, 4);
    bytes.replace(kImagePeOffset, 4, std::string("PE\0\0", 4));
    PutLittleEndian(&bytes, kImagePeOffset + 4, image.machine, 2);
    PutLittleEndian(&bytes, kImagePeOffset + 6, 1, 2);  // one section
    PutLittleEndian(&bytes, kImagePeOffset + 20, OptionalHeaderSize(image), 2);
    PutLittleEndian(&bytes, kImagePeOffset + 22, 0x2102, 2);  // an executable DLL
    const uint32_t optional = kImageOptionalOffset;
    PutLittleEndian(&bytes, optional, image.pe32Plus ? 0x20b : 0x10b, 2);
    PutLittleEndian(&bytes, optional + 60, kImageSectionData, 4);  // SizeOfHeaders
    const uint32_t directories = optional + (image.pe32Plus ? 112 : 96);
    PutLittleEndian(&bytes, directories - 4, 16, 4);

    // The section: import descriptors (and their end), export directory,
    // the export name table, then every name.
    std::string data;
    auto rvaOf = [](size_t at) { return static_cast<uint32_t>(kImageSectionRva + at); };
    const size_t importsAt = 0;
    const size_t exportAt = 20 * (image.imports.size() + 1);
    const size_t namesTableAt = exportAt + 40;
    size_t namesAt = namesTableAt + 4 * image.exports.size();
    data.resize(namesAt, '\0');
    for (size_t i = 0; i < image.imports.size(); ++i) {
        PutLittleEndian(&data, static_cast<uint32_t>(importsAt + 20 * i + 12), rvaOf(data.size()), 4);
        PutLittleEndian(&data, static_cast<uint32_t>(importsAt + 20 * i + 16), rvaOf(exportAt), 4);  // any non-zero IAT
        data += image.imports[i] + std::string(1, '\0');
    }
    PutLittleEndian(&data, static_cast<uint32_t>(exportAt + 24), image.exports.size(), 4);
    PutLittleEndian(&data, static_cast<uint32_t>(exportAt + 32), rvaOf(namesTableAt), 4);
    for (size_t i = 0; i < image.exports.size(); ++i) {
        PutLittleEndian(&data, static_cast<uint32_t>(namesTableAt + 4 * i), rvaOf(data.size()), 4);
        data += image.exports[i] + std::string(1, '\0');
    }
    PutLittleEndian(&bytes, directories, rvaOf(exportAt), 4);
    PutLittleEndian(&bytes, directories + 4, 40, 4);
    if (!image.imports.empty()) {
        PutLittleEndian(&bytes, directories + 8, rvaOf(importsAt), 4);
        PutLittleEndian(&bytes, directories + 12, static_cast<uint32_t>(exportAt), 4);
    }

    const uint32_t section = SectionHeaderOffset(image);
    bytes.replace(section, 6, ".rdata");
    PutLittleEndian(&bytes, section + 8, data.size(), 4);  // VirtualSize
    PutLittleEndian(&bytes, section + 12, kImageSectionRva, 4);
    PutLittleEndian(&bytes, section + 16, data.size(), 4);  // SizeOfRawData
    PutLittleEndian(&bytes, section + 20, kImageSectionData, 4);
    bytes.resize(kImageSectionData, '\0');
    return bytes + data;
}
