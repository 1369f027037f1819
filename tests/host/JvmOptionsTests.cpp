#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "Installation.h"
#include "JvmOptions.h"

namespace {

const char kHome[] = "-Dapplication.home=..";
const char kLibraryPath[] = "-Djava.library.path=..\\lib";
const char kBootPrefix[] = "-Xbootclasspath/p:";

// The options before the VM's hooks.
std::vector<std::string> Texts(const JvmOptionList& list) {
    std::vector<std::string> texts;
    for (jint i = 0; i <= BootClassPathIndex(list); ++i) texts.emplace_back(list.options[i].optionString);
    return texts;
}

// The list is the caller's for the rest of the process; a test gives it back.
void Release(JvmOptionList list) {
    ReleaseBootClassPath(&list);
    for (jint i = 2; i < BootClassPathIndex(list); ++i) free(list.options[i].optionString);
    free(list.options);
}

int OpenFileDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
    return count;
}

class JvmOptionsTest : public ::testing::Test {
  protected:
    JvmOptionList Build(VmGeneration generation = ClassicVm, const VmHooks& hooks = VmHooks()) {
        return BuildJvmOptionList(install_.moduleDirectory().c_str(), "alder.init", generation, hooks);
    }

    std::vector<std::string> BuildTexts(VmGeneration generation = ClassicVm) {
        JvmOptionList list = Build(generation);
        std::vector<std::string> texts = Texts(list);
        Release(list);
        return texts;
    }

    void WriteInitFile(const std::string& bytes) { install_.writeInitFile("alder.init", bytes); }

    WorkingDirectoryGuard workingDirectory_;
    Installation install_;
};

// The hooks close the list, each with its function; no other option has one.
TEST_F(JvmOptionsTest, ListIsTheFixedOptionsTheInitFileTheBootClassPathThenTheHooks) {
    int print, exit, abort;
    WriteInitFile("-Xmx64m\n");
    JvmOptionList list = Build(ClassicVm, VmHooks{&print, &exit, &abort});
    ASSERT_EQ(list.count, 7);
    std::vector<std::pair<std::string, void*>> options;
    for (jint i = 0; i < list.count; ++i) options.emplace_back(list.options[i].optionString, list.options[i].extraInfo);
    EXPECT_EQ(options, (std::vector<std::pair<std::string, void*>>{{kHome, nullptr},
                                                                   {kLibraryPath, nullptr},
                                                                   {"-Xmx64m", nullptr},
                                                                   {kBootPrefix, nullptr},
                                                                   {"vfprintf", &print},
                                                                   {"exit", &exit},
                                                                   {"abort", &abort}}));
    Release(list);
}

TEST_F(JvmOptionsTest, ReleasingTheBootClassPathLeavesNoPointerToIt) {
    install_.addJar("a.jar");
    JvmOptionList list = Build();
    ASSERT_EQ(list.count, 3 + kVmHookOptionCount);
    ReleaseBootClassPath(&list);
    EXPECT_EQ(list.options[2].optionString, nullptr);
    EXPECT_STREQ(list.options[0].optionString, kHome);
    Release(list);
}

TEST_F(JvmOptionsTest, LeavesTheWorkingDirectoryAtTheModuleDirectory) {
    install_.addJar("a.jar");
    WriteInitFile("-Xmx64m\n");
    ASSERT_EQ(chdir("/"), 0);
    BuildTexts();
    EXPECT_EQ(WorkingDirectory(), install_.bin().string());
}

struct JarCase {
    const char* name;
    std::vector<std::string> jars;
    std::string bootClassPath;
};

class BootClassPathTest : public JvmOptionsTest, public ::testing::WithParamInterface<JarCase> {};

TEST_P(BootClassPathTest, ListsEveryJarOfTheJarDirectoryInSearchOrder) {
    for (const std::string& jar : GetParam().jars) install_.addJar(jar);
    std::vector<std::string> texts = BuildTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts.back(), GetParam().bootClassPath);
}

INSTANTIATE_TEST_SUITE_P(
    Jars, BootClassPathTest,
    ::testing::Values(
        JarCase{"EmptyJarDirectory", {}, "-Xbootclasspath/p:"},
        JarCase{"OneJar", {"kernel.jar"}, "-Xbootclasspath/p:..\\lib\\util\\kernel.jar"},
        JarCase{"TwoJars", {"b.jar", "a.jar"}, "-Xbootclasspath/p:..\\lib\\util\\a.jar;..\\lib\\util\\b.jar"},
        JarCase{"NameWithBlanks", {"my kernel 1.0.jar"}, "-Xbootclasspath/p:..\\lib\\util\\my kernel 1.0.jar"},
        JarCase{"OnlyJarsCount",
                {"a.jar", "notes.txt", "b.JAR"},
                "-Xbootclasspath/p:..\\lib\\util\\a.jar;..\\lib\\util\\b.JAR"},
        // "*.jar" also finds these through their short names (KERNEL~1.JAR, ...):
        // a jar renamed to disable it stays off the path.
        JarCase{"ShortNameMatchesAreNoJars",
                {"kernel.jar", "kernel.jar_old", "x.jarx", "C.JaR", "d.JARFILE", "e.jar.bak"},
                "-Xbootclasspath/p:..\\lib\\util\\C.JaR;..\\lib\\util\\kernel.jar"}),
    [](const ::testing::TestParamInfo<JarCase>& info) { return std::string(info.param.name); });

struct Listing {
    std::vector<std::string> jars;
    std::vector<std::string> skipped;
    size_t jarsWanted;
};

bool ListedJar(const char* name, void* context) {
    auto* listing = static_cast<Listing*>(context);
    listing->jars.emplace_back(name);
    return listing->jars.size() < listing->jarsWanted;
}

void SkippedEntry(const char* name, void* context) { static_cast<Listing*>(context)->skipped.emplace_back(name); }

// What the start leaves off the path can be told, in listing order, and
// the listing stops when the caller says so.
TEST_F(JvmOptionsTest, ListingTellsTheJarsAndWhatTheShortNamesMatched) {
    for (const char* name : {"b.jar", "a.jar", "kernel.jar_old", "x.jarx", "notes.txt"}) install_.addJar(name);
    ASSERT_EQ(chdir(install_.jarDirectory().c_str()), 0);
    Listing all = {{}, {}, 100};
    EXPECT_TRUE(ListJarsOfWorkingDirectory(ListedJar, SkippedEntry, &all));
    EXPECT_EQ(all.jars, (std::vector<std::string>{"a.jar", "b.jar"}));
    EXPECT_EQ(all.skipped, (std::vector<std::string>{"kernel.jar_old", "x.jarx"}));
    Listing first = {{}, {}, 1};
    EXPECT_FALSE(ListJarsOfWorkingDirectory(ListedJar, nullptr, &first));
    EXPECT_EQ(first.jars, std::vector<std::string>{"a.jar"});
}

// A modular VM gets the same list, with the jars appended to the boot class
// path instead of prepended.
TEST_F(JvmOptionsTest, ModularVmGetsTheSameEntriesAsAnAppend) {
    for (const char* jar : {"b.jar", "a.jar", "x y.jar"}) install_.addJar(jar);
    WriteInitFile("-Xmx64m\n-Da=1\n");
    std::vector<std::string> classic = BuildTexts(ClassicVm);
    std::vector<std::string> modular = BuildTexts(ModularVm);
    const std::string entries = "..\\lib\\util\\a.jar;..\\lib\\util\\b.jar;..\\lib\\util\\x y.jar";
    EXPECT_EQ(classic.back(), "-Xbootclasspath/p:" + entries);
    EXPECT_EQ(modular.back(), "-Xbootclasspath/a:" + entries);
    classic.pop_back();
    modular.pop_back();
    EXPECT_EQ(modular, classic);
    EXPECT_EQ(modular, (std::vector<std::string>{kHome, kLibraryPath, "-Xmx64m", "-Da=1"}));
}

TEST_F(JvmOptionsTest, TenThousandJarsAllArriveWholeInOneOption) {
    std::string expected = kBootPrefix;
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        snprintf(name, sizeof name, "lib%05d.jar", i);
        install_.addJar(name);
        expected += std::string(i == 0 ? "" : ";") + "..\\lib\\util\\" + name;
    }
    EXPECT_EQ(BuildTexts().back(), expected);
}

struct InitFileCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> options;
};

class InitFileTest : public JvmOptionsTest, public ::testing::WithParamInterface<InitFileCase> {};

TEST_P(InitFileTest, GivesItsOptionLinesTrimmedBetweenTheFixedOnesAndTheBootClassPath) {
    WriteInitFile(GetParam().bytes);
    std::vector<std::string> expected = {kHome, kLibraryPath};
    expected.insert(expected.end(), GetParam().options.begin(), GetParam().options.end());
    expected.push_back(kBootPrefix);
    EXPECT_EQ(BuildTexts(), expected);
}

const std::string k600 = "-D" + std::string(598, 'x');

INSTANTIATE_TEST_SUITE_P(
    Lines, InitFileTest,
    ::testing::Values(InitFileCase{"ThreeLines", "-Xmx64m\n-Da=1\n-Db=2\n", {"-Xmx64m", "-Da=1", "-Db=2"}},
                      InitFileCase{"CrLfLineEnds", "-Xmx64m\r\n-Da=1\r\n", {"-Xmx64m", "-Da=1"}},
                      InitFileCase{"TrailingBlanksAndTabs", "-Dname=a b \t \t\n", {"-Dname=a b"}},
                      InitFileCase{"AllTrailingWhitespaceKinds", "-Da\v\f\r \t\n", {"-Da"}},
                      InitFileCase{"HighBytesAreNotWhitespace", "-Dname=\xe9\xa0\n", {"-Dname=\xe9\xa0"}},
                      InitFileCase{"LeadingBlankIsNoOption", " -Xmx64m\n\t-Da=1\n-Db=2\n", {"-Db=2"}},
                      InitFileCase{"TextAndEmptyLinesIgnored", "# comment\n\nsome text\n-Da=1\n", {"-Da=1"}},
                      InitFileCase{"LastLineWithoutLineEnd", "-Da=1\n-Db=2", {"-Da=1", "-Db=2"}},
                      InitFileCase{"NulEndsThePiece", std::string("-Da=1\0junk\n-Db=2\n", 16), {"-Da=1", "-Db=2"}},
                      InitFileCase{"ByteOrderMarkHidesTheFirstLine", "\xef\xbb\xbf-Da=1\n-Db=2\n", {"-Db=2"}},
                      InitFileCase{"LoneDashStays", "-\n- \t\r\n", {"-", "-"}},
                      InitFileCase{"LongLineSplitsIntoPieces", k600 + "\n", {k600.substr(0, 511)}},
                      InitFileCase{"LongLineWhosePieceTwoIsAnOption",
                                   std::string(510, '-') + " -Dsecond=1\n",
                                   {std::string(510, '-'), "-Dsecond=1"}},
                      InitFileCase{"EmptyFile", "", {}}),
    [](const ::testing::TestParamInfo<InitFileCase>& info) { return std::string(info.param.name); });

TEST_F(JvmOptionsTest, ClosesTheInitFile) {
    WriteInitFile("-Da=1\n-Db=2\n");
    int before = OpenFileDescriptors();
    BuildTexts();
    EXPECT_EQ(OpenFileDescriptors(), before);
}

TEST_F(JvmOptionsTest, InitFileIsLookedUpInTheModuleDirectoryNotTheStartDirectory) {
    Installation elsewhere;
    elsewhere.writeInitFile("alder.init", "-Dwrong=1\n");
    ASSERT_EQ(chdir(elsewhere.bin().c_str()), 0);
    EXPECT_EQ(BuildTexts().size(), 3u);
}

// ------------------------------------------------------------ how the file is read

// One piece as the reader tells it: "line.piece fate[ cut][ goes-on][ bom]",
// then its text, or its length when long.
std::string Described(const InitFilePiece& piece) {
    static const char* const kFates[] = {"option", "ignored", "past-last", "utf16"};
    std::string text = piece.text;
    std::string described = std::to_string(piece.line) + "." + std::to_string(piece.piece) + " " + kFates[piece.fate];
    if (piece.cut) described += " cut";
    if (piece.textGoesOn) described += " goes-on";
    if (piece.byteOrderMark) described += " bom";
    return described + (text.size() > 40 ? " (" + std::to_string(text.size()) + " bytes)" : " " + text);
}

void RecordPiece(const InitFilePiece& piece, void* context) {
    static_cast<std::vector<std::string>*>(context)->push_back(Described(piece));
}

std::string Described(const InitFileMisreadings& m) {
    std::string described;
    if (m.utf16) described += "utf16 lines=" + std::to_string(m.utf16Lines) + ";";
    if (m.optionBehindByteOrderMark) described += "bom;";
    if (m.optionsPastLast > 0)
        described += "past=" + std::to_string(m.optionsPastLast) + " from " + std::to_string(m.firstLinePastLast) + ";";
    if (m.cutLines > 0) {
        described += "cut=" + std::to_string(m.cutLines);
        for (int i = 0; i < m.cutLines && i < kMostCutLinesNamed; ++i)
            described += " " + std::to_string(m.cutLineNumbers[i]);
        described += ";";
    }
    return described;
}

struct Reading {
    std::vector<std::string> options;
    std::vector<std::string> pieces;
    std::string misreadings;
};

Reading Read(const std::string& bytes, int capacity = MaxInitFileOptions) {
    FILE* file = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
    Reading reading;
    InitFileObserver observer = {RecordPiece, &reading.pieces};
    InitFileMisreadings misreadings;
    memset(&misreadings, 0xAB, sizeof misreadings);  // every field must be set
    std::vector<char*> options(static_cast<size_t>(capacity));
    int count = ReadInitFileOptions(file, options.data(), capacity, &observer, &misreadings);
    fclose(file);
    for (int i = 0; i < count; ++i) {
        reading.options.emplace_back(options[static_cast<size_t>(i)]);
        free(options[static_cast<size_t>(i)]);
    }
    reading.misreadings = Described(misreadings);
    return reading;
}

// An option line of `length` bytes before its line feed.
std::string OptionLine(size_t length) { return "-D" + std::string(length - 2, 'x'); }

struct ReadingCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> options;
    std::vector<std::string> pieces;
    std::string misreadings;
};

// A piece is cut when its line goes on past it, if only by its line end;
// the start reads a line otherwise than it says only when text goes on.
TEST(InitFileReading, TellsEachPieceAndWhereTheStartReadsOtherwiseThanTheFileSays) {
    std::string fiftyTwo = "# options\n";
    for (int i = 1; i <= 52; ++i) fiftyTwo += "-Do" + std::to_string(i) + "\n";
    std::string sevenCut;
    for (int i = 0; i < 7; ++i) sevenCut += OptionLine(520) + "\n";
    const ReadingCase cases[] = {
        {"509 bytes",
         OptionLine(509) + "\n-Dnext\n",
         {OptionLine(509), "-Dnext"},
         {"1.1 option (510 bytes)", "2.1 option -Dnext\n"},
         ""},
        {"510 bytes: the line feed fills the piece",
         OptionLine(510) + "\n-Dnext\n",
         {OptionLine(510), "-Dnext"},
         {"1.1 option (511 bytes)", "2.1 option -Dnext\n"},
         ""},
        {"511 bytes: only the line feed is cut off",
         OptionLine(511) + "\n-Dnext\n",
         {OptionLine(511), "-Dnext"},
         {"1.1 option cut (511 bytes)", "1.2 ignored \n", "2.1 option -Dnext\n"},
         ""},
        {"512 bytes: one byte of text is cut off",
         OptionLine(512) + "\n-Dnext\n",
         {OptionLine(511), "-Dnext"},
         {"1.1 option cut goes-on (511 bytes)", "1.2 ignored x\n", "2.1 option -Dnext\n"},
         "cut=1 1;"},
        {"511 bytes and more than a piece of whitespace",
         OptionLine(511) + std::string(600, ' ') + "\r\n-Dnext",
         {OptionLine(511), "-Dnext"},
         {"1.1 option cut (511 bytes)", "1.2 ignored cut (511 bytes)", "1.3 ignored (91 bytes)", "2.1 option -Dnext"},
         ""},
        {"511 bytes, blanks, then a NUL before more bytes",
         OptionLine(511) + std::string("  \0junk\n", 8),
         {OptionLine(511)},
         {"1.1 option cut (511 bytes)", "1.2 ignored   "},
         ""},
        {"a NUL ends the text before the cut",
         std::string("-Da\0", 4) + std::string(600, 'x') + "\n",
         {"-Da"},
         {"1.1 option cut -Da", "1.2 ignored (94 bytes)"},
         ""},
        {"a comment whose rest makes an option",
         std::string(511, '#') + "-Dsneaky\n-Dnext\n",
         {"-Dsneaky", "-Dnext"},
         {"1.1 ignored cut goes-on (511 bytes)", "1.2 option -Dsneaky\n", "2.1 option -Dnext\n"},
         "cut=1 1;"},
        {"seven cut lines, five named", sevenCut, std::vector<std::string>(7, OptionLine(511)),
         [] {
             std::vector<std::string> pieces;
             for (int i = 1; i <= 7; ++i) {
                 pieces.push_back(std::to_string(i) + ".1 option cut goes-on (511 bytes)");
                 pieces.push_back(std::to_string(i) + ".2 ignored xxxxxxxxx\n");
             }
             return pieces;
         }(),
         "cut=7 1 2 3 4 5;"},
        {"a byte-order mark hides an option",
         "\xEF\xBB\xBF-Xmx1g\n-Xss1m\n",
         {"-Xss1m"},
         {"1.1 ignored bom \xEF\xBB\xBF-Xmx1g\n", "2.1 option -Xss1m\n"},
         "bom;"},
        {"options past the 50th", fiftyTwo,
         [] {
             std::vector<std::string> options;
             for (int i = 1; i <= 50; ++i) options.push_back("-Do" + std::to_string(i));
             return options;
         }(),
         [] {
             std::vector<std::string> pieces = {"1.1 ignored # options\n"};
             for (int i = 1; i <= 52; ++i)
                 pieces.push_back(std::to_string(i + 1) + ".1 " + (i <= 50 ? "option" : "past-last") + " -Do" +
                                  std::to_string(i) + "\n");
             return pieces;
         }(),
         "past=2 from 52;"},
        {"UTF-16 with its byte-order mark",
         "\xFF\xFE" + Installation::Utf16("-Xmx2g\r\n\r\n-Da=1\r\n"),
         {},
         {"1.1 utf16 -Xmx2g\r\n", "2.1 utf16 \r\n", "3.1 utf16 -Da=1\r\n"},
         "utf16 lines=3;"},
        // Without a mark its first line begins with "-": still no option.
        {"UTF-16 without a byte-order mark",
         Installation::Utf16("-Xmx2g\n-Dcaf\xE9=1\n") + "\x0A",
         {},
         {"1.1 utf16 -Xmx2g\n", "2.1 utf16 -Dcaf\xC3\xA9=1\n"},
         "utf16 lines=2;"},
        {"UTF-16 of only its byte-order mark", "\xFF\xFE", {}, {}, "utf16 lines=0;"},
        {"a UTF-16 line longer than a piece is shown in part",
         "\xFF\xFE" + Installation::Utf16(OptionLine(600)),
         {},
         {"1.1 utf16 (511 bytes)"},
         "utf16 lines=1;"},
    };
    for (const ReadingCase& c : cases) {
        Reading reading = Read(c.bytes);
        EXPECT_EQ(reading.options, c.options) << c.name;
        EXPECT_EQ(reading.pieces, c.pieces) << c.name;
        EXPECT_EQ(reading.misreadings, c.misreadings) << c.name;
    }
}

TEST(ReadInitFileOptions, StopsAtCapacity) {
    FILE* file = tmpfile();
    fputs("-Da\ntext\n-Db\n-Dc\n", file);
    rewind(file);
    char* options[2] = {nullptr, nullptr};
    ASSERT_EQ(ReadInitFileOptions(file, options, 2), 2);
    EXPECT_STREQ("-Da", options[0]);
    EXPECT_STREQ("-Db", options[1]);
    free(options[0]);
    free(options[1]);
    fclose(file);
}

}  // namespace
