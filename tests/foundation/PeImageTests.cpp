// The PE reader on images made byte by byte: what it finds in good ones of
// either bitness, and that a cut or spoiled header gives a plain "no"
// without reading past what the file holds (the sanitizer and valgrind
// runs watch every read here).
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "FakeRegistry.h"
#include "Installation.h"
#include "LaunchLayout.h"
#include "PeImage.h"
#include "SyntheticImage.h"

namespace {

// Libraries the code under test asked to load, how, and which it freed; the
// names the scripted system folder "holds" load.
struct LoadRecord {
    std::vector<std::string> loads;  // "<name> <flags>", with "hFile" when one was passed
    int freed = 0;
    std::set<std::string> systemHolds;
} loader;

}  // namespace

extern "C" HMODULE WINAPI __wrap_LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    loader.loads.push_back(std::string(name) + " " + std::to_string(flags) + (file != nullptr ? " hFile" : ""));
    if (loader.systemHolds.count(name) == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    static char module;
    return reinterpret_cast<HMODULE>(&module);
}

extern "C" BOOL WINAPI __wrap_FreeLibrary(HMODULE) {
    ++loader.freed;
    return TRUE;
}

namespace {

struct ReadBack {
    WORD machine;
    bool importsRead;
    std::vector<std::string> imports;
};

bool Collect(const char* name, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(name);
    return true;
}

class PeImageTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& bytes) {
        Installation::WriteFile(tree_.server() / "jvm.dll", bytes);
        return Installation::WindowsForm((tree_.server() / "jvm.dll").string());
    }
    ReadBack Read(const std::string& bytes) {
        std::string path = Write(bytes);
        ReadBack back;
        back.machine = PeImageMachine(path.c_str());
        back.importsRead = ForEachPeImport(path.c_str(), Collect, &back.imports);
        return back;
    }
    Installation tree_;
};

// Good images of either bitness, also at the edges that linkers make: each
// table at the RVA where the section before it ends (MinGW), an import
// table ended by a descriptor only half zero.
TEST_F(PeImageTest, ReadsMachineImportsAndExportsOfEitherBitness) {
    const std::vector<std::string> kUcrtImports = {"KERNEL32.dll", "api-ms-win-crt-runtime-l1-1-0.dll"};
    struct Case {
        uint16_t machine;
        bool pe32Plus;
        std::vector<std::string> imports;
        bool sectionPerTable;
        ImportTableEnd end;
    };
    const Case cases[] = {
        {0x014c,
         false,
         {"KERNEL32.dll", "VCRUNTIME140.dll", "api-ms-win-crt-runtime-l1-1-0.dll"},
         false,
         ImportTableEnd::AllZero},
        {0x8664, true, {"KERNEL32.dll", "MSVCR100.dll"}, false, ImportTableEnd::AllZero},
        {0xaa64, true, {std::string(255, 'n')}, false, ImportTableEnd::AllZero},
        {0x8664, true, {}, false, ImportTableEnd::AllZero},
        {0x8664, true, kUcrtImports, true, ImportTableEnd::AllZero},
        {0x014c, false, kUcrtImports, true, ImportTableEnd::AllZero},
        {0x8664, true, kUcrtImports, false, ImportTableEnd::OnlyNameZero},
        {0x014c, false, kUcrtImports, false, ImportTableEnd::OnlyAddressTableZero},
        {0x8664, true, kUcrtImports, true, ImportTableEnd::OnlyAddressTableZero},
    };
    for (const Case& c : cases) {
        SyntheticImage image;
        image.machine = c.machine;
        image.pe32Plus = c.pe32Plus;
        image.imports = c.imports;
        image.exports = {"JNI_CreateJavaVM", "JNI_GetDefaultJavaVMInitArgs"};
        image.sectionPerTable = c.sectionPerTable;
        image.importEnd = c.end;
        const std::string row = std::to_string(&c - cases);
        ReadBack back = Read(BuildPeImage(image));
        EXPECT_EQ(back.machine, c.machine) << row;
        EXPECT_TRUE(back.importsRead) << row;
        EXPECT_EQ(back.imports, c.imports) << row;
        std::string path = Write(BuildPeImage(image));
        EXPECT_TRUE(PeImageExports(path.c_str(), "JNI_CreateJavaVM")) << row;
        EXPECT_TRUE(PeImageExports(path.c_str(), "JNI_GetDefaultJavaVMInitArgs")) << row;
        EXPECT_FALSE(PeImageExports(path.c_str(), "JNI_GetCreatedJavaVMs")) << row;
        EXPECT_FALSE(PeImageExports(path.c_str(), "jni_createjavavm")) << "export names are exact";
    }
}

// Every prefix of a good image: the machine is right or unknown, and the
// imports are all read or the walk fails; never a name that is not there.
TEST_F(PeImageTest, AnImageCutAnywhereGivesAPlainNo) {
    SyntheticImage image;
    image.imports = {"KERNEL32.dll", "VCRUNTIME140.dll"};
    image.exports = {"JNI_CreateJavaVM"};
    const std::string whole = BuildPeImage(image);
    // Every byte of the headers and the tables; the padding between them in steps.
    for (size_t length = 0; length < whole.size(); length += length < 0x200 || length >= kImageSectionData ? 1 : 16) {
        ReadBack back = Read(whole.substr(0, length));
        EXPECT_TRUE(back.machine == 0 || back.machine == image.machine) << length;
        if (back.importsRead) {
            EXPECT_EQ(back.imports, image.imports) << length;
        }
        for (size_t i = 0; i < back.imports.size(); ++i) EXPECT_EQ(back.imports[i], image.imports[i]) << length;
        std::string path = Write(whole.substr(0, length));
        EXPECT_FALSE(PeImageExports(path.c_str(), "JNI_CreateJavaVM")) << length;
    }
    EXPECT_TRUE(Read(whole).importsRead);
}

TEST_F(PeImageTest, SpoiledHeadersGiveAPlainNo) {
    SyntheticImage image;
    image.imports = {"KERNEL32.dll"};
    const uint32_t section = SectionHeaderOffset(image);
    const uint32_t directories = kImageOptionalOffset + 112;
    struct Case {
        const char* name;
        uint32_t offset;
        uint64_t value;
        int size;
        WORD machine;  // what PeImageMachine still says
    };
    const Case cases[] = {
        {"PE header past the end", 0x3c, 0x7ffffff0, 4, 0},
        {"PE header offset past 4 GiB arithmetic", 0x3c, 0xfffffffe, 4, 0},
        {"no PE signature", kImagePeOffset, 0x00004550 ^ 1, 4, 0},
        {"too many sections", kImagePeOffset + 6, 0xffff, 2, 0x8664},
        {"no optional header", kImagePeOffset + 20, 0, 2, 0x8664},
        {"unknown optional header", kImageOptionalOffset, 0x107, 2, 0x8664},
        {"no directories", directories - 4, 0, 4, 0x8664},
        {"import table outside every section", directories + 8, 0x7ffff000, 4, 0x8664},
        {"section past the end of the file", section + 20, 0xfffffff0, 4, 0x8664},
        {"section larger than the file", section + 16, 0xffffffff, 4, 0x8664},
        {"name outside every section", kImageSectionData + 12, 0x10, 4, 0x8664},
    };
    for (const Case& c : cases) {
        std::string bytes = BuildPeImage(image);
        PutLittleEndian(&bytes, c.offset, c.value, c.size);
        ReadBack back = Read(bytes);
        EXPECT_EQ(back.machine, c.machine) << c.name;
        EXPECT_FALSE(back.importsRead && !back.imports.empty() && back.imports != image.imports) << c.name;
        EXPECT_TRUE(back.imports.empty() || back.imports == image.imports) << c.name;
    }
}

// A name with no end within its section, and a table with no end within
// the file, are not read on into whatever follows.
TEST_F(PeImageTest, NamesAndTablesMustEndWithinWhatWasRead) {
    SyntheticImage image;
    image.imports = {"KERNEL32.dll"};
    std::string unterminated = BuildPeImage(image);
    unterminated.back() = 'x';  // the name's NUL
    ReadBack back = Read(unterminated);
    EXPECT_FALSE(back.importsRead);
    EXPECT_TRUE(back.imports.empty());

    std::string endless = BuildPeImage(image);
    for (uint32_t at = kImageSectionData + 20; at < kImageSectionData + 40; ++at) endless[at] = 1;
    back = Read(endless);
    EXPECT_FALSE(back.importsRead) << "a second descriptor that names garbage";

    SyntheticImage exports;
    exports.exports = {"JNI_CreateJavaVM"};
    std::string many = BuildPeImage(exports);
    PutLittleEndian(&many, kImageSectionData + 20 + 24, 0xffffffff, 4);  // NumberOfNames
    EXPECT_TRUE(PeImageExports(Write(many).c_str(), "JNI_CreateJavaVM"));
    EXPECT_FALSE(PeImageExports(Write(many).c_str(), "JNI_GetCreatedJavaVMs"));
}

TEST_F(PeImageTest, WhatIsNoFileIsNoImage) {
    for (const std::string& path : {Installation::WindowsForm(tree_.server().string()),
                                    Installation::WindowsForm((tree_.server() / "none.dll").string())}) {
        EXPECT_EQ(PeImageMachine(path.c_str()), 0) << path;
        std::vector<std::string> imports;
        EXPECT_FALSE(ForEachPeImport(path.c_str(), Collect, &imports)) << path;
        EXPECT_FALSE(PeImageExports(path.c_str(), "JNI_CreateJavaVM")) << path;
    }
}

// API-set names are no files: the loader is asked for them, from the system
// folder only; any other name read from an image never reaches a load.
TEST(LoaderFindsLibrary, AsksTheSystemFolderForApiSetNamesOnly) {
    const std::string kSystem32 = " " + std::to_string(LOAD_LIBRARY_SEARCH_SYSTEM32);
    struct Case {
        const char* name;
        bool found;
        std::vector<std::string> loads;
    };
    const Case cases[] = {
        {"api-ms-win-crt-runtime-l1-1-0.dll", true, {"api-ms-win-crt-runtime-l1-1-0.dll" + kSystem32}},
        {"API-MS-WIN-CORE-SYNCH-L1-2-0.DLL", true, {"API-MS-WIN-CORE-SYNCH-L1-2-0.DLL" + kSystem32}},
        {"ext-ms-win-ntuser-window-l1-1-0.dll", true, {"ext-ms-win-ntuser-window-l1-1-0.dll" + kSystem32}},
        {"api-ms-win-crt-none-l9-9-9.dll", false, {"api-ms-win-crt-none-l9-9-9.dll" + kSystem32}},
        {"api-ms-win-..\\..\\halvern.dll", false, {}},
        {"api-ms-win-crt:stream.dll", false, {}},
        {"VCRUNTIME140.dll", false, {}},
    };
    for (const Case& c : cases) {
        loader = LoadRecord();
        loader.systemHolds = {"api-ms-win-crt-runtime-l1-1-0.dll", "API-MS-WIN-CORE-SYNCH-L1-2-0.DLL",
                              "ext-ms-win-ntuser-window-l1-1-0.dll", "VCRUNTIME140.dll"};
        EXPECT_EQ(LoaderFindsLibrary(c.name), c.found) << c.name;
        EXPECT_EQ(loader.loads, c.loads) << c.name;
        EXPECT_EQ(loader.freed, c.found ? 1 : 0) << c.name;
    }
}

// The service's folders decide: the program's, the system's PATH (the
// registry's, expanded) and what the system loads. This process's own PATH
// and current folder only say where a library lies that the service will
// not find.
TEST_F(PeImageTest, ImportsAreFoundWhereTheServiceLooks) {
    namespace fs = std::filesystem;
    const fs::path system = tree_.root() / "system path";
    const fs::path user = tree_.root() / "user path";
    const fs::path current = tree_.root() / "current";
    for (const fs::path& folder : {system, user, current}) fs::create_directories(folder);
    for (const char* name : {"in-system.dll", "in-both.dll"}) Installation::WriteFile(system / name, "");
    for (const char* name : {"in-user.dll", "in-both.dll", "in-current-and-user.dll"})
        Installation::WriteFile(user / name, "");
    for (const char* name : {"in-current.dll", "in-current-and-user.dll"}) Installation::WriteFile(current / name, "");
    struct Planted {
        fs::path path;
        ~Planted() { fs::remove(path); }
    };
    char* programFolder = GetModuleDirectory();  // Windows form
    std::string programFolderOnDisk = programFolder;
    free(programFolder);
    std::replace(programFolderOnDisk.begin(), programFolderOnDisk.end(), '\\', '/');
    const std::string inProgramFolder = "halvern-program-" + std::to_string(getpid()) + ".dll";
    Planted planted{fs::path(programFolderOnDisk) / inProgramFolder};
    Installation::WriteFile(planted.path, "");

    FakeRegistry::Reset();
    FakeRegistry::AddKey("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                         {{"Path", FakeRegistry::Text(REG_EXPAND_SZ, ";%HALVERN_SYSTEM_PATH%;;")}});
    setenv("HALVERN_SYSTEM_PATH", Installation::WindowsForm(system.string()).c_str(), 1);
    const std::string savedPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (user.string() + ":" + savedPath).c_str(), 1);
    WorkingDirectoryGuard directory;
    ASSERT_EQ(chdir(current.c_str()), 0);
    loader = LoadRecord();
    loader.systemHolds = {"api-ms-win-crt-runtime-l1-1-0.dll"};

    const std::string userFolder = Installation::WindowsForm(user.string());
    const std::string currentFolder = Installation::WindowsForm(fs::canonical(current).string());
    struct Case {
        std::string name;
        ImportSearch found;
        std::string folder;  // where only this process finds it
    };
    const Case cases[] = {
        {inProgramFolder, ImportFoundByService, ""},
        {"in-system.dll", ImportFoundByService, ""},
        {"IN-SYSTEM.DLL", ImportFoundByService, ""},
        {"in-both.dll", ImportFoundByService, ""},
        {"api-ms-win-crt-runtime-l1-1-0.dll", ImportFoundByService, ""},
        {"in-user.dll", ImportOnlyOnCallersPath, userFolder},
        {"in-current.dll", ImportOnlyInCurrentFolder, currentFolder},
        {"in-current-and-user.dll", ImportOnlyInCurrentFolder, currentFolder},
        {"halvern-none.dll", ImportNotFound, ""},
    };
    for (const Case& c : cases) {
        char* folder = nullptr;
        EXPECT_EQ(FindImportedLibrary(c.name.c_str(), &folder), c.found) << c.name;
        EXPECT_EQ(folder != nullptr ? folder : "", c.folder) << c.name;
        free(folder);
        EXPECT_EQ(LoaderFindsLibrary(c.name.c_str()), c.found == ImportFoundByService) << c.name;
    }
    setenv("PATH", savedPath.c_str(), 1);
    unsetenv("HALVERN_SYSTEM_PATH");
    FakeRegistry::Reset();
}

TEST(RuntimePackages, WellKnownRuntimesNameTheirPackage) {
    const char kVisualCpp[] = "the Microsoft Visual C++ Redistributable 2015 or later";
    const char kUcrt[] = "the Universal C Runtime (Windows update KB2999226)";
    struct Case {
        const char* library;
        const char* package;  // null: none
    };
    const Case cases[] = {
        {"VCRUNTIME140.dll", kVisualCpp},
        {"vcruntime140_1.dll", kVisualCpp},
        {"MSVCP140.dll", kVisualCpp},
        {"msvcp140_atomic_wait.dll", kVisualCpp},
        {"MSVCR120.dll", "the Visual C++ 2013 Redistributable"},
        {"msvcr100.dll", "the Visual C++ 2010 Redistributable"},
        {"api-ms-win-crt-runtime-l1-1-0.dll", kUcrt},
        {"API-MS-WIN-CRT-HEAP-L1-1-0.DLL", kUcrt},
        {"api-ms-win-core-synch-l1-2-0.dll", nullptr},
        {"msvcr110.dll", nullptr},
        {"vcruntime140.dll.bak", nullptr},
        {"KERNEL32.dll", nullptr},
    };
    for (const Case& c : cases) {
        const char* package = RuntimePackageOf(c.library);
        EXPECT_STREQ(package, c.package) << c.library;
    }
    EXPECT_EQ(RuntimePackageOf("VCRUNTIME140.dll"), RuntimePackageOf("MSVCP140.dll")) << "one package, one pointer";
}

}  // namespace
