// The host against a real HotSpot: the JDK's libjvm behind the adapter as
// server/jvm.dll, a kernel class jar in lib/util, -Xcheck:jni from the init
// file. Each run is a driver process of its own (one VM per process).
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "Installation.h"

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
    void SetUp() override {
#ifdef REALJVM_SKIP_REASON
        GTEST_SKIP() << REALJVM_SKIP_REASON;
#endif
    }

#ifndef REALJVM_SKIP_REASON
    KernelRun RunKernel(const std::string& variant, const std::string& mode) {
        fs::copy_file(JVM_ADAPTER, install_.server() / "jvm.dll");
        fs::create_directories(install_.jarDirectory());
        fs::copy_file(fs::path(KERNEL_JARS) / variant / "kernel.jar", install_.jarDirectory() / "kernel.jar");
        Installation::WriteFile(install_.bin() / "alder.init", "-Xcheck:jni\r\n-Xss1m\n");
        fs::path driver = install_.bin() / "AlderSvc";
        fs::copy_file(KERNEL_DRIVER, driver);
        // Under AddressSanitizer the leak scan at exit cannot walk a process
        // that hosts HotSpot; every other check stays on.
        std::string command = "cd '" + install_.root().string() + "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" '" +
                              driver.string() + "' " + mode + " 2>&1";
        KernelRun run;
        std::string text = RunShell(command, &run.exitCode);
        run.lines = Installation::Lines(text);
        return run;
    }
#endif

    Installation install_;
};

#ifndef REALJVM_SKIP_REASON

// "kernel <event> <object id> thread=<java thread id>" for start and stop.
void ExpectStartAndStopOnTheConstructedKernel(const KernelRun& run, bool sameThread) {
    std::vector<std::string> constructed = run.matching("^kernel constructed ");
    ASSERT_EQ(1u, constructed.size());
    std::string id = constructed[0].substr(constructed[0].rfind(' ') + 1);
    std::vector<std::string> starts = run.matching("^kernel start " + id + " thread=");
    std::vector<std::string> stops = run.matching("^kernel stop " + id + " thread=");
    ASSERT_EQ(1u, starts.size());
    ASSERT_EQ(1u, stops.size());
    std::string startThread = starts[0].substr(starts[0].find("thread="));
    std::string stopThread = stops[0].substr(stops[0].find("thread="));
    EXPECT_EQ(sameThread, startThread == stopThread) << startThread << " / " << stopThread;
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
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(run.has("started=1"));
    EXPECT_TRUE(run.reports().empty());
    ExpectStartAndStopOnTheConstructedKernel(run, false);
    EXPECT_TRUE(run.matching("WARNING").empty());
    EXPECT_TRUE(run.has("done"));
}

TEST_F(RealJvmTest, ConsoleRunStartsAndStopsOnOneThreadWithoutJniWarnings) {
    KernelRun run = RunKernel("good", "console");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(run.has("started=1"));
    ExpectStartAndStopOnTheConstructedKernel(run, true);
    EXPECT_TRUE(run.matching("WARNING").empty());
}

TEST_F(RealJvmTest, ThrowingStartIsReportedOnce) {
    KernelRun run = RunKernel("throwing", "start");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(run.has("started=0"));
    EXPECT_TRUE(run.has("kernel start"));
    EXPECT_EQ(std::vector<std::string>{"Exception occurs starting up the Kernel"}, run.reports());
    EXPECT_TRUE(run.matching("IllegalStateException").empty()) << "the exception is neither printed nor logged";
}

TEST_F(RealJvmTest, ClassWithoutStopIsReportedAndNeverStarted) {
    KernelRun run = RunKernel("nostop", "start");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(0, run.exitCode);
    EXPECT_TRUE(run.has("started=0"));
    EXPECT_FALSE(run.has("kernel start"));
    EXPECT_EQ(std::vector<std::string>{"One or more methods in Kernel class could not be found"}, run.reports());
}

#else

TEST_F(RealJvmTest, NeedsAJdk) {}

#endif

}  // namespace
