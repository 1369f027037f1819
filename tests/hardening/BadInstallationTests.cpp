// The console run of a built program on installations that are broken in
// ways only a whole process shows: a jvm.dll that is no library, a stop
// that throws, ten thousand jars handed to the VM, a program deep in the
// file system. CedarSvc echoes its error reports, so they can be read here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <filesystem>
#include <functional>
#include <string>

#include "ChildProcess.h"
#include "ConsolePrograms.h"
#include "InstallTree.h"

namespace {

const Program& Cedar() { return kPrograms[2]; }

struct BrokenVmCase {
    const char* name;
    std::function<void(const InstallTree&)> install;
    std::string betweenPrompts;  // what the run prints after the first ENTER, before the stop prompt
};

void PrintTo(const BrokenVmCase& c, std::ostream* out) { *out << c.name; }

void WriteLibrary(const InstallTree& tree, const std::string& bytes) {
    Installation::WriteFile(tree.server() / "jvm.dll", bytes);
}

const BrokenVmCase kBrokenVmCases[] = {
    {"JvmDllIsText", [](const InstallTree& tree) { WriteLibrary(tree, "this is no library\n"); },
     "Failed to load JVM DLL.\n"},
    {"JvmDllIsEmpty", [](const InstallTree& tree) { WriteLibrary(tree, ""); }, "Failed to load JVM DLL.\n"},
    {"JvmDllIsAWindowsImage",
     [](const InstallTree& tree) { WriteLibrary(tree, std::string("MZ\x90\0\3\0\0\0", 8) + std::string(4096, '\0')); },
     "Failed to load JVM DLL.\n"},
    {"JvmDllIsADirectory", [](const InstallTree& tree) { std::filesystem::create_directories(tree.server() / "jvm.dll"); },
     "Failed to load JVM DLL.\n"},
};

class BrokenVmTest : public ::testing::TestWithParam<BrokenVmCase> {};

TEST_P(BrokenVmTest, ReportsTheFailedLoadAndStillEndsCleanly) {
    InstallTree tree;
    std::string installed = tree.AddProgram(Cedar().builtPath, "CedarSvc");
    GetParam().install(tree);

    ChildRun run = RunChild(installed, {"CedarSvc", "run"}, "\n\n");
    EXPECT_EQ(tree.WindowsPathOf("CedarSvc") + kStartPrompt + GetParam().betweenPrompts + kStopPrompt, run.output);
    EXPECT_EQ(0, run.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Libraries, BrokenVmTest, ::testing::ValuesIn(kBrokenVmCases),
                         [](const ::testing::TestParamInfo<BrokenVmCase>& info) { return std::string(info.param.name); });

// A stop that throws leaves an exception pending on a VM that is about to
// end with the process: the run still ends normally, with no report.
TEST(BadInstallation, StopThatThrowsStillEndsTheRunCleanly) {
    InstallTree tree;
    std::string installed = tree.AddProgram(Cedar().builtPath, "CedarSvc");
    tree.AddStandinVm("fail=stop");

    ChildRun run = RunChild(installed, {"CedarSvc", "run"}, "\n\n");
    EXPECT_EQ(tree.WindowsPathOf("CedarSvc") + kStartPrompt + kStopPrompt, run.output);
    EXPECT_EQ(0, run.exitCode);
    auto calls = EntriesOf(tree.StandinLog(), "CallVoidMethod");
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("stop", calls[1][1]);
}

// A directory path of the given length below the temporary root, made of
// 200-character steps.
std::string DeepDirectory(size_t length) {
    std::string path;
    while (path.size() + 201 <= length) path += (path.empty() ? "" : "/") + std::string(200, 'd');
    path += (path.empty() ? "" : "/") + std::string(length - path.size() - (path.empty() ? 0 : 1), 'e');
    return path;
}

// Module paths longer than the console run's 1,024-byte buffer, one close
// to what this platform allows for a whole path (4,096 bytes): the kernel
// host works with the whole path all the same. Windows' own limit of 32,767
// characters cannot be reached here.
TEST(BadInstallation, ProgramInADeepDirectoryStartsAndStops) {
    for (size_t depth : {1100u, 3800u}) {
        InstallTree tree(DeepDirectory(depth));
        std::string installed = tree.AddProgram(Cedar().builtPath, "CedarSvc");
        tree.AddStandinVm();
        ChildRun run = RunChild(installed, {"CedarSvc", "run"}, "\n\n");
        std::string modulePath = tree.WindowsPathOf("CedarSvc");
        EXPECT_GT(modulePath.size(), depth);
        // The run shows at most the 1,023 characters its buffer holds.
        EXPECT_EQ(modulePath.substr(0, 1023) + kStartPrompt + kStopPrompt, run.output) << depth;
        EXPECT_EQ(0, run.exitCode) << depth;
        auto created = EntriesOf(tree.StandinLog(), "CreateJavaVM");
        ASSERT_EQ(1u, created.size()) << depth;
        EXPECT_EQ(tree.ProgramDirectory(), FieldOf(created[0], "cwd")) << depth;
    }
}

}  // namespace
