// The console run of a built program on installations that are broken in
// ways only a whole process shows: a jvm.dll that is no library, a stop
// that throws, ten thousand jars handed to the VM, a program deep in the
// file system. CedarSvc echoes its error reports, so they can be read here.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "Installation.h"
#include "Process.h"
#include "ProgramTexts.h"

namespace {

const ProgramRow& Cedar() { return ProgramNamed("CedarSvc"); }

struct BrokenVmCase {
    const char* name;
    std::function<void(const Installation&)> install;
    std::string windowsError;  // the detail's last line; {library} is the path tried
};

void PrintTo(const BrokenVmCase& c, std::ostream* out) { *out << c.name; }

void WriteLibrary(const Installation& tree, const std::string& bytes) {
    Installation::WriteFile(tree.server() / "jvm.dll", bytes);
}

// The system's text names the library in place of its %1.
const char kNotAnImage[] = "Windows error 193: {library} is not a valid Win32 application.";

const BrokenVmCase kBrokenVmCases[] = {
    {"JvmDllIsText", [](const Installation& tree) { WriteLibrary(tree, "this is no library\n"); }, kNotAnImage},
    {"JvmDllIsEmpty", [](const Installation& tree) { WriteLibrary(tree, ""); }, kNotAnImage},
    // An MZ header and no PE header: no machine to name.
    {"JvmDllIsAWindowsImage",
     [](const Installation& tree) { WriteLibrary(tree, std::string("MZ\x90\0\3\0\0\0", 8) + std::string(4096, '\0')); },
     kNotAnImage},
    {"JvmDllIsADirectory",
     [](const Installation& tree) { std::filesystem::create_directories(tree.server() / "jvm.dll"); },
     "Windows error 126: The specified module could not be found."},
};

class BrokenVmTest : public ::testing::TestWithParam<BrokenVmCase> {};

// The run shows the message, the path tried and the Windows error, and
// ends at the second ENTER with exit code 1.
TEST_P(BrokenVmTest, ReportsTheFailedLoadAndStillEndsCleanly) {
    Installation tree;
    std::string installed = tree.addProgram(Cedar().builtPath, "CedarSvc");
    GetParam().install(tree);

    ProcessResult run = RunProcess(installed, {"CedarSvc", "run"}, "\n\n");
    const std::string library = tree.moduleDirectory() + "\\server\\jvm.dll";
    std::string windowsError = GetParam().windowsError;
    if (windowsError.find("{library}") != std::string::npos)
        windowsError.replace(windowsError.find("{library}"), 9, library);
    const std::string failure = "Failed to load JVM DLL.\nTried " + library + "\n" + windowsError + "\n";
    EXPECT_EQ(run.output, tree.windowsPathOf("CedarSvc") + kStartPrompt + failure + kStopPrompt);
    EXPECT_EQ(run.exitCode, 1);
}

INSTANTIATE_TEST_SUITE_P(Libraries, BrokenVmTest, ::testing::ValuesIn(kBrokenVmCases),
                         [](const ::testing::TestParamInfo<BrokenVmCase>& info) {
                             return std::string(info.param.name);
                         });

// A stop that throws is reported like a failed start, with its own message
// and the stack trace, its exception is cleared, and the run says so in its
// exit code.
TEST(BadInstallation, StopThatThrowsIsReportedAndEndsTheRunWithTwo) {
    Installation tree;
    std::string installed = tree.addProgram(Cedar().builtPath, "CedarSvc");
    tree.installStandinVm("fail=stop");

    ProcessResult run = RunProcess(installed, {"CedarSvc", "run"}, "\n\n");
    EXPECT_EQ(run.output, tree.windowsPathOf("CedarSvc") + kStartPrompt + kStopPrompt +
                              "Exception occurs stopping the Kernel\n"
                              "java.lang.RuntimeException: stand-in failure\n\n"
                              "java.lang.RuntimeException: stand-in failure\n"
                              "\tat com.halvern.standin.Kernel.start(Kernel.java:42)\n");
    EXPECT_EQ(run.exitCode, 2);
    auto stops = EntriesOf(tree.standinLog(), "CallVoidMethod");
    ASSERT_GE(stops.size(), 2u);
    EXPECT_EQ(stops[1][1], "stop");
    EXPECT_TRUE(EntriesOf(tree.standinLog(), "CallWithExceptionPending").empty());
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
        Installation tree(DeepDirectory(depth));
        std::string installed = tree.addProgram(Cedar().builtPath, "CedarSvc");
        tree.installStandinVm();
        ProcessResult run = RunProcess(installed, {"CedarSvc", "run"}, "\n\n");
        std::string modulePath = tree.windowsPathOf("CedarSvc");
        EXPECT_GT(modulePath.size(), depth);
        // The run shows at most the 1,023 characters its buffer holds.
        EXPECT_EQ(run.output, modulePath.substr(0, 1023) + kStartPrompt + kStopPrompt) << depth;
        EXPECT_EQ(run.exitCode, 0) << depth;
        auto created = EntriesOf(tree.standinLog(), "CreateJavaVM");
        ASSERT_EQ(created.size(), 1u) << depth;
        EXPECT_EQ(FieldOf(created[0], "cwd"), tree.bin().string()) << depth;
    }
}

}  // namespace
