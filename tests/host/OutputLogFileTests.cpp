// The output log's files: rolled over at 10 MiB, at a line end where there
// is one, into five older generations and no more; output that cannot be
// written is counted and the count written once writing works again; a
// folder or log that is not the service's own to write is refused, saying why.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Installation.h"
#include "OutputLogFile.h"

namespace {

namespace fs = std::filesystem;

const size_t kLimit = 10 * 1024 * 1024;

class OutputLogFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(NameOutputLog(&log, install.moduleDirectory().c_str())); }
    void TearDown() override { CloseOutputLogFile(&log); }

    void Open() {
        char why[1024] = "";
        ASSERT_TRUE(OpenOutputLogFile(&log, why, sizeof why)) << why;
    }
    void Write(const std::string& bytes) { WriteOutput(&log, bytes.data(), bytes.size()); }

    fs::path logs() const { return install.root() / "logs"; }
    std::string Generation(int number) const {
        return Installation::ReadFile(logs() /
                                      (number == 0 ? "AlderSvc.log" : "AlderSvc." + std::to_string(number) + ".log"));
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(logs())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    Installation install;
    OutputLogFile log;
};

// Line n: its number, padded to `width` bytes with its line end.
std::string NumberedLine(size_t n, size_t width) {
    std::string line = std::to_string(n);
    line.resize(width - 1, '.');
    return line + "\n";
}

TEST_F(OutputLogFileTest, RollsOverIntoFiveOlderFilesKeepingTheNewestLinesWhole) {
    Open();
    const size_t width = 1000;
    const size_t lines = 7 * kLimit / width;  // seven files' worth, written a few lines at a time
    std::string chunk;
    for (size_t n = 1; n <= lines; ++n) {
        chunk += NumberedLine(n, width);
        if (n % 37 == 0 || n == lines) {
            Write(chunk);
            chunk.clear();
        }
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"AlderSvc.1.log", "AlderSvc.2.log", "AlderSvc.3.log", "AlderSvc.4.log",
                                                 "AlderSvc.5.log", "AlderSvc.log"}));
    std::string kept;
    for (int generation = 5; generation >= 0; --generation) {
        std::string file = Generation(generation);
        EXPECT_LE(file.size(), kLimit) << generation;
        EXPECT_EQ(file.back(), '\n') << generation;
        kept += file;
    }
    // The newest lines, each whole and each once.
    ASSERT_EQ(kept.size() % width, 0u);
    size_t first = lines - kept.size() / width + 1;
    for (size_t n = first, at = 0; n <= lines; ++n, at += width)
        ASSERT_EQ(kept.compare(at, width, NumberedLine(n, width)), 0) << n;
    EXPECT_TRUE(log.holdsOutput);
}

// Where a write that passes the limit is split: after the last line end
// that fits; before it when none fits and the file ends at a line end; at
// the limit itself for a line longer than a whole file.
struct RollCase {
    const char* name;
    size_t before;        // bytes written before, with no line end but maybe the last
    bool beforeEndsLine;  // whether that last byte is one
    std::string written;
    size_t rolledSize;  // the older file's size after the write
};

void PrintTo(const RollCase& c, std::ostream* out) { *out << c.name; }

class RollPlace : public OutputLogFileTest, public ::testing::WithParamInterface<RollCase> {};

TEST_P(RollPlace, IsALineEndWhereThereIsOne) {
    const RollCase& c = GetParam();
    std::string before(c.before, 'b');
    if (!before.empty() && c.beforeEndsLine) before.back() = '\n';
    Open();
    Write(before);
    Write(c.written);
    EXPECT_EQ(Generation(1).size(), c.rolledSize);
    EXPECT_EQ(Generation(1) + Generation(0), before + c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, RollPlace,
    ::testing::Values(RollCase{"AfterTheLastLineEndThatFits", kLimit - 10, true, "one\ntwo\nthree\nfour\n", kLimit - 2},
                      RollCase{"BeforeALineThatDoesNotFit", kLimit - 5, true, "a line too long\n", kLimit - 5},
                      RollCase{"AtTheLimitInALineLeftOpen", kLimit - 5, false, "the rest of it\n", kLimit},
                      RollCase{"AtTheLimitForALineLongerThanAFile", 0, true, std::string(kLimit + 100, 'x') + "\n",
                               kLimit}),
    [](const ::testing::TestParamInfo<RollCase>& info) { return std::string(info.param.name); });

TEST_F(OutputLogFileTest, CountsWhatCannotBeWrittenAndSaysSoOnceWritingWorksAgain) {
    Open();
    Write("before\n");
    CloseOutputLogFile(&log);
    log.handle = CreateFileA("/dev/full", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(log.handle, INVALID_HANDLE_VALUE);
    Write("lost\n");
    Write("lost too\n");
    WriteHostLine(&log, "a host line is not counted");
    CloseOutputLogFile(&log);  // the next write opens the log again
    Write("after\n");

    std::vector<std::string> lines = Installation::Lines(Generation(0));
    ASSERT_EQ(lines.size(), 3u) << Generation(0);
    EXPECT_EQ(lines[0], "before");
    EXPECT_NE(lines[1].find("AlderSvc"), std::string::npos);
    EXPECT_EQ(lines[1].substr(lines[1].find("): ")),
              "): 14 bytes of output were lost: the log could not be written (Windows error 5)\r");
    EXPECT_EQ(lines[2], "after");
}

// What is not the service's own to write is not written, nor through.
TEST_F(OutputLogFileTest, RefusesAFolderOrLogThatIsNotTheServicesOwn) {
    const std::string folder = Installation::WindowsForm(logs().string());
    const std::string elsewhere = (install.root() / "elsewhere").string();
    const std::string linkSaid = ": nothing is written through it, so that no file of others' choosing is overwritten";
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string why;
    } cases[] = {
        {"a file", [&] { Installation::WriteFile(logs(), "x"); }, folder + " is a file, not a folder"},
        {"a link to a folder",
         [&] {
             fs::create_directories(elsewhere);
             fs::create_directory_symlink(elsewhere, logs());
         },
         folder + " is a link" + linkSaid},
        {"a folder others can write",
         [&] {
             fs::create_directories(logs());
             fs::permissions(logs(), fs::perms::others_write, fs::perm_options::add);
         },
         "Everyone can change " + folder +
             ": any of them could plant a link there that leads the service to overwrite any file as LocalSystem, "
             "so nothing is written there"},
        {"a log that is a link",
         [&] {
             fs::create_directories(logs());
             Installation::WriteFile(elsewhere, "not the log\n");
             fs::create_symlink(elsewhere, logs() / "AlderSvc.log");
         },
         folder + "\\AlderSvc.log is a link" + linkSaid},
    };
    for (const Case& c : cases) {
        fs::remove_all(logs());
        fs::remove_all(elsewhere);
        c.make();
        char why[1024] = "";
        EXPECT_FALSE(OpenOutputLogFile(&log, why, sizeof why)) << c.what;
        EXPECT_EQ(std::string(why), c.why) << c.what;
        EXPECT_EQ(log.handle, INVALID_HANDLE_VALUE) << c.what;
    }
    EXPECT_EQ(Installation::ReadFile(elsewhere), "not the log\n");
}

}  // namespace
