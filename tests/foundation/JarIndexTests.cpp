// The jar reader on zips made byte by byte: the entry found in good ones,
// however they are wrapped, and a plain answer for cut, damaged and zip64
// ones, without reading past the bytes it was given (each case is handed
// over in a block of its exact size, for the sanitizer and valgrind runs).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Installation.h"
#include "JarIndex.h"
#include "SyntheticImage.h"
#include "SyntheticZip.h"

namespace {

const char kKernel[] = "com/example/Kernel.class";

JarAnswer Find(const std::string& bytes) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() + 1]);  // +1: a size of 0 is valid
    memcpy(exact.get(), bytes.data(), bytes.size());
    return FindZipEntry(exact.get(), bytes.size(), kKernel);
}

const SyntheticZip kJar = {{"META-INF/MANIFEST.MF", kKernel, "com/example/Other.class"}, ""};

std::string Spoiled(const SyntheticZip& zip, size_t offset, uint64_t value, int size) {
    std::string bytes = BuildZip(zip);
    PutLittleEndian(&bytes, static_cast<uint32_t>(offset), value, size);
    return bytes;
}

TEST(JarIndex, AnswersForEachShapeOfFile) {
    const size_t end = ZipEndRecordOffset(kJar);
    const size_t directory = ZipDirectoryOffset(kJar);
    const size_t lastEntry = end - kZipEntryHeaderSize - kJar.entries.back().size();
    const std::string good = BuildZip(kJar);
    struct Case {
        const char* name;
        std::string bytes;
        JarAnswer answer;
    };
    const Case cases[] = {
        {"the entry among others", good, JarHoldsEntry},
        {"no such entry", BuildZip({{"com/example/Other.class", "com/example/Kernel.class/"}, ""}), JarLacksEntry},
        {"a name that only begins like it", BuildZip({{"com/example/Kernel.classes"}, ""}), JarLacksEntry},
        {"no entry at all", BuildZip({{}, ""}), JarLacksEntry},
        {"the longest comment", BuildZip({kJar.entries, std::string(65535, 'c')}), JarHoldsEntry},
        {"bytes padded after it", good + std::string(100, '\0'), JarHoldsEntry},
        {"a stub before it", std::string(1000, 'S') + good, JarHoldsEntry},
        {"a comment longer than what follows", Spoiled(kJar, end + 20, 1, 2), JarNoDirectoryEnd},
        {"bytes padded after a directory whose signature is spoiled",
         Spoiled(kJar, directory, 0, 4) + std::string(10, '\0'), JarNoDirectoryEnd},
        {"a directory larger than the file", Spoiled(kJar, end + 12, 0x7FFFFFF0, 4), JarDirectoryOutside},
        {"a directory offset past the directory", Spoiled(kJar, end + 16, directory + 1, 4), JarDirectoryOutside},
        {"more entries than the directory holds", Spoiled(kJar, end + 10, 4, 2), JarDirectoryDamaged},
        {"an entry's signature spoiled", Spoiled(kJar, directory, 0x02014b51, 4), JarDirectoryDamaged},
        {"a name running past the directory", Spoiled(kJar, directory + 28, 0xFFFF, 2), JarDirectoryDamaged},
        {"the last entry's comment running past the directory", Spoiled(kJar, lastEntry + 32, 1, 2),
         JarDirectoryDamaged},
        {"a zip64 locator before the end record", BuildZip({kJar.entries, "", true}), JarZip64},
    };
    for (const Case& c : cases) EXPECT_EQ(Find(c.bytes), c.answer) << c.name;
}

// Whatever the cut, the end record goes with it.
TEST(JarIndex, AJarCutAnywhereHasNoDirectory) {
    const std::string good = BuildZip(kJar);
    for (size_t length = 0; length < good.size(); ++length)
        EXPECT_EQ(Find(good.substr(0, length)), JarNoDirectoryEnd) << "cut to " << length << " bytes";
}

TEST(JarIndex, ReadsAFileAndSaysWhyOneCannotBeRead) {
    Installation tree;
    tree.addJar("kernel.jar", kJar.entries);
    auto path = [&](const std::string& name) {
        return Installation::WindowsForm((tree.jarDirectory() / name).string());
    };
    DWORD error = 0;
    EXPECT_EQ(FindJarEntry(path("kernel.jar").c_str(), kKernel, &error), JarHoldsEntry);
    EXPECT_EQ(FindJarEntry(path("kernel.jar").c_str(), "com/example/Missing.class", &error), JarLacksEntry);
    EXPECT_EQ(FindJarEntry(path("gone.jar").c_str(), kKernel, &error), JarUnreadable);
    EXPECT_EQ(error, DWORD{ERROR_FILE_NOT_FOUND});
}

}  // namespace
