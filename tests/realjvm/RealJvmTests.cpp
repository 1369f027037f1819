// The host against a real HotSpot: the JDK's libjvm behind the adapter as
// server/jvm.dll, a kernel class jar in lib/util, -Xcheck:jni from the init
// file. Each run is a driver process of its own (one VM per process).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "BuiltPaths.h"
#include "Installation.h"
#include "Process.h"

namespace {

namespace fs = std::filesystem;

struct KernelRun {
    int exitCode = -1;
    std::vector<std::string> lines;

    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    std::vector<std::string> matching(const std::string& pattern) const {
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (std::regex_search(line, std::regex(pattern))) found.push_back(line);
        return found;
    }
    std::vector<std::string> reports() const {
        std::vector<std::string> messages;
        for (const std::string& line : matching("^report\t")) messages.push_back(line.substr(line.rfind('\t') + 1));
        return messages;
    }
};

class RealJvmTest : public ::testing::Test {
  protected:
    KernelRun RunKernel(const std::string& variant, const std::string& mode) {
        install_.installLibrary(kRealJvmAdapter);
        fs::create_directories(install_.jarDirectory());
        fs::copy_file(fs::path(kRealJvmKernelJars) / variant / "kernel.jar", install_.jarDirectory() / "kernel.jar");
        install_.writeInitFile("alder.init", "-Xcheck:jni\r\n-Xss1m\n");
        std::string driver = install_.addProgram(kKernelDriver, "AlderSvc");
        ProcessOptions options;
        options.workingDirectory = install_.root().string();
        // Under AddressSanitizer the leak scan at exit cannot walk a process
        // that hosts HotSpot; every other check stays on.
        const char* asanOptions = getenv("ASAN_OPTIONS");
        options.environment = {std::string("ASAN_OPTIONS=") + (asanOptions != nullptr ? asanOptions : "") +
                               ":detect_leaks=0"};
        ProcessResult result = RunProcess(driver, {driver, mode}, "", options);
        KernelRun run;
        run.exitCode = result.exitCode;
        // The VM writes its warnings to either stream; both are read.
        run.lines = Installation::Lines(result.output + result.errors);
        return run;
    }

    Installation install_;
};

// "kernel <event> <object id> thread=<java thread id>" for start and stop.
void ExpectStartAndStopOnTheConstructedKernel(const KernelRun& run, bool sameThread) {
    std::vector<std::string> constructed = run.matching("^kernel constructed ");
    ASSERT_EQ(constructed.size(), 1u);
    std::string id = constructed[0].substr(constructed[0].rfind(' ') + 1);
    std::vector<std::string> starts = run.matching("^kernel start " + id + " thread=");
    std::vector<std::string> stops = run.matching("^kernel stop " + id + " thread=");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(stops.size(), 1u);
    std::string startThread = starts[0].substr(starts[0].find("thread="));
    std::string stopThread = stops[0].substr(stops[0].find("thread="));
    EXPECT_EQ(startThread == stopThread, sameThread) << startThread << " / " << stopThread;
    auto position = [&run](const std::string& line) { return std::find(run.lines.begin(), run.lines.end(), line); };
    EXPECT_LT(position(starts[0]), position(stops[0]));
}

std::string Transcript(const KernelRun& run) {
    std::string text;
    for (const std::string& line : run.lines) text += line + "\n";
    return text;
}

TEST_F(RealJvmTest, ServiceRunStopsTheStartedKernelFromAnotherThreadWithoutJniWarnings) {
    KernelRun run = RunKernel("good", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    EXPECT_TRUE(run.reports().empty());
    ExpectStartAndStopOnTheConstructedKernel(run, false);
    EXPECT_TRUE(run.matching("WARNING").empty());
    EXPECT_TRUE(run.has("done"));
}

TEST_F(RealJvmTest, ConsoleRunStartsAndStopsOnOneThreadWithoutJniWarnings) {
    KernelRun run = RunKernel("good", "console");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    ExpectStartAndStopOnTheConstructedKernel(run, true);
    EXPECT_TRUE(run.matching("WARNING").empty());
}

TEST_F(RealJvmTest, ThrowingStartIsReportedOnce) {
    KernelRun run = RunKernel("throwing", "start");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=0"));
    EXPECT_TRUE(run.has("kernel start"));
    EXPECT_EQ(run.reports(), std::vector<std::string>{"Exception occurs starting up the Kernel"});
    EXPECT_TRUE(run.matching("IllegalStateException").empty()) << "the exception is neither printed nor logged";
}

TEST_F(RealJvmTest, ClassWithoutStopIsReportedAndNeverStarted) {
    KernelRun run = RunKernel("nostop", "start");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=0"));
    EXPECT_FALSE(run.has("kernel start"));
    EXPECT_EQ(run.reports(), std::vector<std::string>{"One or more methods in Kernel class could not be found"});
}

}  // namespace
