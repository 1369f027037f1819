// Option assembly on installations that are broken or merely extreme: odd
// init files, a jar directory that is no directory, jar names that other
// tools would choke on. Each gives a clean list, never a crash or a read
// past a buffer (the sanitizer build runs these too).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Installation.h"
#include "JvmOptions.h"

namespace {

const char kBootPrefix[] = "-Xbootclasspath/p:";

// The texts between the two fixed options and the boot class path option,
// and that last option; the list's memory is handed back.
struct Assembled {
    std::vector<std::string> initFileOptions;
    std::string bootClassPath;
};

class BadInputTest : public ::testing::Test {
  protected:
    Assembled Assemble() {
        JvmOptionList list = BuildJvmOptionList(install_.moduleDirectory().c_str(), "alder.init", ClassicVm, VmHooks());
        Assembled assembled;
        EXPECT_GE(list.count, 3 + kVmHookOptionCount);
        EXPECT_LE(list.count, 3 + MaxInitFileOptions + kVmHookOptionCount);
        if (list.options == nullptr) return assembled;
        EXPECT_EQ(WorkingDirectory(), install_.bin().string());
        for (jint i = 2; i < BootClassPathIndex(list); ++i) {
            assembled.initFileOptions.emplace_back(list.options[i].optionString);
            free(list.options[i].optionString);
        }
        assembled.bootClassPath = list.options[BootClassPathIndex(list)].optionString;
        ReleaseBootClassPath(&list);
        free(list.options);
        return assembled;
    }

    WorkingDirectoryGuard workingDirectory_;
    Installation install_;
};

// ------------------------------------------------------------ init files

struct InitFileCase {
    const char* name;
    std::function<void(const Installation&)> prepare;
    std::function<std::vector<std::string>()> options;
};

void PrintTo(const InitFileCase& c, std::ostream* out) { *out << c.name; }

std::string Repeat(const std::string& line, size_t times) {
    std::string text;
    text.reserve(line.size() * times);
    for (size_t i = 0; i < times; ++i) text += line;
    return text;
}

std::vector<std::string> NumberedOptions(int first, int last) {
    std::vector<std::string> options;
    for (int i = first; i <= last; ++i) options.push_back("-Dline" + std::to_string(i) + "=1");
    return options;
}

const InitFileCase kInitFileCases[] = {
    {"InitFileIsADirectory",
     [](const Installation& install) { std::filesystem::create_directory(install.bin() / "alder.init"); },
     [] { return std::vector<std::string>{}; }},
    {"TenThousandOptionLinesKeepTheFirstFifty",
     [](const Installation& install) {
         std::string text;
         for (int i = 1; i <= 10000; ++i) text += "-Dline" + std::to_string(i) + "=1\n";
         install.writeInitFile("alder.init", text);
     },
     [] { return NumberedOptions(1, 50); }},
    {"HundredKilobyteLineGivesOnePieceAsAnOption",
     [](const Installation& install) {
         install.writeInitFile("alder.init", "-Dbig=" + std::string(100 << 10, 'x') + "\n-Dafter=1\n");
     },
     [] {
         return std::vector<std::string>{"-Dbig=" + std::string(511 - 6, 'x'), "-Dafter=1"};
     }},
    {"HundredKilobyteLineOfDashesFillsTheList",
     [](const Installation& install) { install.writeInitFile("alder.init", std::string(100 << 10, '-') + "\n"); },
     [] { return std::vector<std::string>(MaxInitFileOptions, std::string(511, '-')); }},
    {"SixteenMegabytesOfCommentaryAreReadToTheEnd",
     [](const Installation& install) {
         install.writeInitFile(
             "alder.init",
             Repeat("# a line of commentary that is no option, sixty-four bytes long\n", 1 << 18) + "-Dlast=1");
     },
     [] { return std::vector<std::string>{"-Dlast=1"}; }},
};

class InitFileBadInputTest : public BadInputTest, public ::testing::WithParamInterface<InitFileCase> {};

TEST_P(InitFileBadInputTest, GivesOnlyWhatTheFormatMakesAnOption) {
    GetParam().prepare(install_);
    Assembled assembled = Assemble();
    EXPECT_EQ(assembled.initFileOptions, GetParam().options());
    EXPECT_EQ(assembled.bootClassPath, kBootPrefix);
}

INSTANTIATE_TEST_SUITE_P(InitFiles, InitFileBadInputTest, ::testing::ValuesIn(kInitFileCases),
                         [](const ::testing::TestParamInfo<InitFileCase>& info) {
                             return std::string(info.param.name);
                         });

// ------------------------------------------------------------ jar directory

TEST_F(BadInputTest, JarDirectoryThatIsAFileGivesAnEmptyBootClassPath) {
    std::filesystem::create_directories(install_.jarDirectory().parent_path());
    Installation::WriteFile(install_.jarDirectory(), "not a directory");
    install_.writeInitFile("alder.init", "-Xmx64m\n");
    Assembled assembled = Assemble();
    EXPECT_EQ(assembled.initFileOptions, std::vector<std::string>{"-Xmx64m"});
    EXPECT_EQ(assembled.bootClassPath, kBootPrefix);
}

// Names are taken byte for byte, unquoted: a semicolon in a name splits the
// entry for the VM, which is the installation's fault, not something the
// host may repair silently. Entries come in the order the listing gives.
TEST_F(BadInputTest, JarNamesWithSeparatorsAndNonAsciiBytesAreTakenAsTheyStand) {
    const std::vector<std::string> names = {
        "a;b.jar",              // a semicolon
        "blank name .jar",      // blanks, one before the extension
        "caf\xc3\xa9.jar",      // UTF-8
        "lat\xe9.jar",          // a Latin-1 byte, no valid UTF-8
        "\xef\xbb\xbfmark.jar"  // a byte-order mark at the start
    };
    for (const std::string& name : names) install_.addJar(name);
    std::filesystem::create_directory(install_.jarDirectory() / "classes.jar");  // a directory matches too

    // In the order NTFS lists them: by name compared in upper case.
    const std::vector<std::string> listed = {names[0], names[1], names[2], "classes.jar", names[3], names[4]};
    std::string expected = kBootPrefix;
    for (size_t i = 0; i < listed.size(); ++i)
        expected += (i == 0 ? "" : ";") + std::string("..\\lib\\util\\") + listed[i];

    EXPECT_EQ(Assemble().bootClassPath, expected);
}

}  // namespace
