#include "SyntheticZip.h"

#include "SyntheticImage.h"

static void Append(std::string* bytes, uint64_t value, int size) {
    PutLittleEndian(bytes, static_cast<uint32_t>(bytes->size()), value, size);
}

size_t ZipDirectoryOffset(const SyntheticZip& zip) {
    size_t offset = 0;
    for (const std::string& name : zip.entries) offset += kZipLocalHeaderSize + name.size();
    return offset;
}

size_t ZipEndRecordOffset(const SyntheticZip& zip) {
    size_t offset = ZipDirectoryOffset(zip);
    for (const std::string& name : zip.entries) offset += kZipEntryHeaderSize + name.size();
    return offset + (zip.zip64Locator ? size_t{kZip64LocatorSize} : 0);
}

std::string BuildZip(const SyntheticZip& zip) {
    std::string bytes;
    std::vector<size_t> localOffsets;
    for (const std::string& name : zip.entries) {
        localOffsets.push_back(bytes.size());
        Append(&bytes, 0x04034b50, 4);  // PK\3\4
        Append(&bytes, 10, 2);          // version needed
        bytes.append(20, '\0');         // flags, method, time, date, CRC and sizes: an empty stored entry
        Append(&bytes, name.size(), 2);
        Append(&bytes, 0, 2);  // extra field length
        bytes += name;
    }
    size_t directory = bytes.size();
    for (size_t i = 0; i < zip.entries.size(); ++i) {
        Append(&bytes, 0x02014b50, 4);  // PK\1\2
        Append(&bytes, 20, 2);          // made by
        Append(&bytes, 10, 2);          // version needed
        bytes.append(20, '\0');         // flags, method, time, date, CRC and sizes
        Append(&bytes, zip.entries[i].size(), 2);
        bytes.append(12, '\0');  // extra and comment lengths, disk, attributes
        Append(&bytes, localOffsets[i], 4);
        bytes += zip.entries[i];
    }
    size_t directorySize = bytes.size() - directory;
    if (zip.zip64Locator) {
        Append(&bytes, 0x07064b50, 4);  // PK\6\7; where the zip64 end record is does not matter here
        bytes.append(kZip64LocatorSize - 4, '\0');
    }
    Append(&bytes, 0x06054b50, 4);  // PK\5\6
    Append(&bytes, 0, 4);           // this disk, the directory's disk
    Append(&bytes, zip.entries.size(), 2);
    Append(&bytes, zip.entries.size(), 2);
    Append(&bytes, directorySize, 4);
    Append(&bytes, directory, 4);
    Append(&bytes, zip.comment.size(), 2);
    return bytes + zip.comment;
}
