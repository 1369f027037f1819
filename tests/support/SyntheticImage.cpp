#include "SyntheticImage.h"

void PutLittleEndian(std::string* bytes, uint32_t offset, uint64_t value, int size) {
    if (bytes->size() < offset + size) bytes->resize(offset + size, '\0');
    for (int i = 0; i < size; ++i) (*bytes)[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

namespace {

const uint32_t kDescriptorSize = 20;
const uint32_t kFileAlignment = 0x200;

struct Section {
    const char* name;
    uint32_t rva;
    std::string data;
};

uint32_t OptionalHeaderSize(const SyntheticImage& image) { return image.pe32Plus ? 240 : 224; }

// The import descriptors, their end and an empty import address table, then
// the names, laid out to begin at rva. Without imports, only a zero end.
std::string ImportTable(const SyntheticImage& image, uint32_t rva) {
    const size_t count = image.imports.size();
    const uint32_t addressTable = rva + static_cast<uint32_t>(kDescriptorSize * (count + 1));
    const bool zeroEndOnly = count == 0 && image.importEnd == ImportTableEnd::AllZero;
    std::string table(kDescriptorSize * (count + 1) + (zeroEndOnly ? 0 : 8), '\0');
    auto put = [&table](size_t descriptor, uint32_t field, uint32_t value) {
        PutLittleEndian(&table, static_cast<uint32_t>(kDescriptorSize * descriptor + field), value, 4);
    };
    auto addName = [&table, rva](const std::string& name) {
        uint32_t at = rva + static_cast<uint32_t>(table.size());
        table += name + std::string(1, '\0');
        return at;
    };
    for (size_t i = 0; i < count; ++i) {
        put(i, 12, addName(image.imports[i]));
        put(i, 16, addressTable);
    }
    if (image.importEnd != ImportTableEnd::AllZero) {
        put(count, 0, addressTable);  // OriginalFirstThunk
        put(count, 4, 0xffffffff);    // TimeDateStamp
        put(count, 8, 0xffffffff);    // ForwarderChain
        if (image.importEnd == ImportTableEnd::OnlyNameZero) put(count, 16, addressTable);
        if (image.importEnd == ImportTableEnd::OnlyAddressTableZero)
            put(count, 12, addName("halvern-not-imported.dll"));
    }
    return table;
}

// The export directory, its table of name RVAs, then the names.
std::string ExportTable(const SyntheticImage& image, uint32_t rva) {
    const uint32_t namesTable = rva + 40;
    std::string table(40 + 4 * image.exports.size(), '\0');
    PutLittleEndian(&table, 24, image.exports.size(), 4);  // NumberOfNames
    PutLittleEndian(&table, 32, namesTable, 4);            // AddressOfNames
    for (size_t i = 0; i < image.exports.size(); ++i) {
        PutLittleEndian(&table, static_cast<uint32_t>(40 + 4 * i), rva + static_cast<uint32_t>(table.size()), 4);
        table += image.exports[i] + std::string(1, '\0');
    }
    return table;
}

uint32_t Aligned(size_t size) {
    return static_cast<uint32_t>((size + kFileAlignment - 1) / kFileAlignment * kFileAlignment);
}

}  // namespace

uint32_t SectionHeaderOffset(const SyntheticImage& image) { return kImageOptionalOffset + OptionalHeaderSize(image); }

std::string BuildPeImage(const SyntheticImage& image) {
    // The tables, and where each begins.
    std::vector<Section> sections;
    uint32_t importRva = kImageSectionRva;
    uint32_t exportRva = 0;
    if (!image.sectionPerTable) {
        std::string data = ImportTable(image, importRva);
        if (!image.exports.empty()) {
            exportRva = importRva + static_cast<uint32_t>(data.size());
            data += ExportTable(image, exportRva);
        }
        sections.push_back({".rdata", kImageSectionRva, data});
    } else {
        // Raw data padded to the file alignment, each section's RVA where the
        // raw data of the one before ends (section and file alignment alike).
        sections.push_back({".text", kImageSectionRva, std::string(kFileAlignment, '\xc3')});
        exportRva = kImageSectionRva + kFileAlignment;
        std::string exports = ExportTable(image, exportRva);
        exports.resize(Aligned(exports.size()), '\0');
        sections.push_back({".edata", exportRva, exports});
        importRva = exportRva + static_cast<uint32_t>(exports.size());
        sections.push_back({".idata", importRva, ImportTable(image, importRva)});
    }

    std::string bytes(kImageSectionData, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutLittleEndian(&bytes, 0x3c, kImagePeOffset, 4);
    bytes.replace(kImagePeOffset, 4, std::string("PE\0\0", 4));
    PutLittleEndian(&bytes, kImagePeOffset + 4, image.machine, 2);
    PutLittleEndian(&bytes, kImagePeOffset + 6, sections.size(), 2);
    PutLittleEndian(&bytes, kImagePeOffset + 20, OptionalHeaderSize(image), 2);
    PutLittleEndian(&bytes, kImagePeOffset + 22, 0x2102, 2);  // an executable DLL
    const uint32_t optional = kImageOptionalOffset;
    PutLittleEndian(&bytes, optional, image.pe32Plus ? 0x20b : 0x10b, 2);
    PutLittleEndian(&bytes, optional + 32, image.sectionPerTable ? kFileAlignment : 0x1000, 4);  // SectionAlignment
    PutLittleEndian(&bytes, optional + 36, kFileAlignment, 4);                                   // FileAlignment
    PutLittleEndian(&bytes, optional + 60, kImageSectionData, 4);                                // SizeOfHeaders
    const uint32_t directories = optional + (image.pe32Plus ? 112 : 96);
    PutLittleEndian(&bytes, directories - 4, 16, 4);
    if (exportRva != 0) {
        PutLittleEndian(&bytes, directories, exportRva, 4);
        PutLittleEndian(&bytes, directories + 4, 40, 4);
    }
    if (!image.imports.empty()) {
        PutLittleEndian(&bytes, directories + 8, importRva, 4);
        PutLittleEndian(&bytes, directories + 12, kDescriptorSize * (image.imports.size() + 1), 4);
    }

    uint32_t header = SectionHeaderOffset(image);
    uint32_t rawOffset = kImageSectionData;
    std::string raw;
    for (const Section& section : sections) {
        bytes.replace(header, 8, std::string(section.name) + std::string(8 - std::string(section.name).size(), '\0'));
        PutLittleEndian(&bytes, header + 8, section.data.size(), 4);  // VirtualSize
        PutLittleEndian(&bytes, header + 12, section.rva, 4);
        PutLittleEndian(&bytes, header + 16, section.data.size(), 4);  // SizeOfRawData
        PutLittleEndian(&bytes, header + 20, rawOffset, 4);
        header += 40;
        rawOffset += static_cast<uint32_t>(section.data.size());
        raw += section.data;
    }
    bytes.resize(kImageSectionData, '\0');
    return bytes + raw;
}
