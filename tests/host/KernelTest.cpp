// The kernel's start and stop, each scenario in a process of its own (a VM
// is created once per process), against the stand-in VM installed as
// server/jvm.dll of a throw-away installation.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Installation.h"

namespace {

namespace fs = std::filesystem;

const char kKernelClass[] = "com/halvern/alder/service/ServerKernel";

struct DriverRun {
    int exitCode = -1;
    std::vector<std::string> output;  // the driver's lines
    std::vector<std::string> log;     // standin.log
    std::vector<std::string> reports;  // the messages of the event-log entries

    std::string field(const std::string& key) const {
        for (const std::string& line : output)
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return "(missing)";
    }
    bool logHas(const std::string& line) const {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    int logCount(const std::string& event) const {
        int count = 0;
        for (const std::string& line : log)
            if (line.rfind(event + "\t", 0) == 0 || line == event) ++count;
        return count;
    }
    std::vector<std::string> logLines(const std::string& event) const {
        std::vector<std::string> lines;
        for (const std::string& line : log)
            if (line.rfind(event + "\t", 0) == 0 || line == event) lines.push_back(line);
        return lines;
    }
};

class KernelTest : public ::testing::Test {
  protected:
    void InstallVm(const char* library = STANDIN_JVM) {
        fs::copy_file(library, install_.server() / "jvm.dll", fs::copy_options::overwrite_existing);
    }
    void Configure(const std::string& conf) { Installation::WriteFile(install_.server() / "standin.conf", conf); }
    void WriteInitFile(const std::string& bytes) { Installation::WriteFile(install_.bin() / "alder.init", bytes); }

    // Runs a copy of the driver from the installation's bin directory,
    // started in the installation's root directory.
    DriverRun Run(const std::string& mode) {
        fs::path driver = install_.bin() / "AlderSvc";
        fs::copy_file(KERNEL_DRIVER, driver, fs::copy_options::overwrite_existing);
        std::string command = "cd '" + install_.root().string() + "' && '" + driver.string() + "' " + mode + " 2>&1";
        DriverRun run;
        std::string text = RunShell(command, &run.exitCode);
        run.output = Installation::Lines(text);
        run.log = Installation::Lines(Installation::ReadFile(install_.server() / "standin.log"));
        for (const std::string& line : run.output) {
            const std::string prefix = "report\tAlderSvc\t1\t1\t2\t";
            if (line.rfind("report\t", 0) == 0)
                run.reports.push_back(line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "malformed: " + line);
        }
        return run;
    }

    Installation install_;
};

// ------------------------------------------------------------ failures

struct FailureCase {
    const char* name;
    const char* conf;
    const char* message;
    bool workingDirectoryMoved;  // and the init file read
};

class KernelFailureTest : public KernelTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(KernelFailureTest, ReportsOnceReturnsFalseAndLeavesTheStateReached) {
    InstallVm();
    Configure(GetParam().conf);
    WriteInitFile("-Dfrom.init=1\n");
    DriverRun run = Run("start");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ("0", run.field("started"));
    EXPECT_EQ(std::vector<std::string>{GetParam().message}, run.reports);
    bool moved = GetParam().workingDirectoryMoved;
    EXPECT_EQ(moved ? install_.bin().string() : install_.root().string(), run.field("cwd"));
    EXPECT_EQ(moved ? "1" : "0", run.field("initFileOpened"));
    EXPECT_EQ(moved ? "1" : "0", run.field("initFileClosed"));
    EXPECT_EQ(0, run.logCount("WrongThreadEnv"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KernelFailureTest,
    ::testing::Values(
        FailureCase{"UnsupportedVersion", "fail=version\n", "Error getting JVM default arguments.", false},
        FailureCase{"OptionsRefused", "fail=create\n", "Error creating JVM", true},
        FailureCase{"ClassNotFound", "fail=class\n", "Cannot locate the Kernel class", true},
        FailureCase{"NoConstructor", "fail=method-<init>\n", "One or more methods in Kernel class could not be found",
                    true},
        FailureCase{"NoStart", "fail=method-start\n", "One or more methods in Kernel class could not be found", true},
        FailureCase{"NoStop", "fail=method-stop\n", "One or more methods in Kernel class could not be found", true},
        FailureCase{"ConstructorThrows", "fail=constructor\n", "Exception occurs starting up the Kernel", true},
        FailureCase{"ConstructorYieldsNothing", "fail=null-object\n", "Exception occurs starting up the Kernel", true},
        FailureCase{"StartThrows", "fail=start\n", "Exception occurs starting up the Kernel", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(KernelTest, NoLibraryReportsFailedToLoadAndTouchesNothing) {
    WriteInitFile("-Dfrom.init=1\n");
    DriverRun run = Run("start");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ("0", run.field("started"));
    EXPECT_EQ(std::vector<std::string>{"Failed to load JVM DLL."}, run.reports);
    EXPECT_EQ(install_.root().string(), run.field("cwd"));
    EXPECT_EQ("0", run.field("initFileOpened"));
}

TEST_F(KernelTest, LibraryPathIsTheModuleDirectoryWithServerJvmDll) {
    DriverRun run = Run("start");
    ASSERT_FALSE(run.output.empty());
    EXPECT_EQ("LoadLibraryA\t" + install_.moduleDirectory() + "\\server\\jvm.dll", run.output.front());
}

TEST_F(KernelTest, LibraryWithoutEntryPointsIsNeverCalledThroughNull) {
    InstallVm(JVM_WITHOUT_ENTRY_POINTS);
    DriverRun run = Run("start");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Error getting JVM default arguments."}, run.reports);
    EXPECT_EQ(install_.root().string(), run.field("cwd"));
}

TEST_F(KernelTest, LibraryWithoutCreateJavaVmIsNeverCalledThroughNull) {
    InstallVm(JVM_WITHOUT_CREATE);
    DriverRun run = Run("start");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ(std::vector<std::string>{"Error creating JVM"}, run.reports);
    EXPECT_EQ(install_.bin().string(), run.field("cwd"));
}

TEST_F(KernelTest, MissingMethodStillLooksUpAllThreeAndStartsNothing) {
    InstallVm();
    Configure("fail=method-<init>\n");
    DriverRun run = Run("start");
    EXPECT_EQ((std::vector<std::string>{"GetMethodID\t<init>\t()V", "GetMethodID\tstart\t()V",
                                        "GetMethodID\tstop\t()V"}),
              run.logLines("GetMethodID"));
    EXPECT_EQ(0, run.logCount("NewObject"));
    EXPECT_EQ(0, run.logCount("CallVoidMethod"));
}

TEST_F(KernelTest, ConstructorFailureNeverCallsStart) {
    for (const char* conf : {"fail=constructor\n", "fail=null-object\n"}) {
        Installation::WriteFile(install_.server() / "standin.log", "");
        InstallVm();
        Configure(conf);
        DriverRun run = Run("start");
        EXPECT_EQ(1, run.logCount("NewObject")) << conf;
        EXPECT_EQ(0, run.logCount("CallVoidMethod")) << conf;
    }
}

TEST_F(KernelTest, ThrowingStartIsClearedAfterTheCall) {
    InstallVm();
    Configure("fail=start\n");
    DriverRun run = Run("start");
    std::vector<std::string> tail(run.log.end() - 3, run.log.end());
    EXPECT_EQ((std::vector<std::string>{"CallVoidMethod\tstart\tthread=1\tref=valid", "ExceptionCheck\tresult=1",
                                        "ExceptionClear"}),
              tail);
}

// ------------------------------------------------------------ a full run

TEST_F(KernelTest, ConsoleRunStartsAndStopsTheSameKernelOnOneThread) {
    InstallVm();
    install_.addJar("kernel.jar");
    WriteInitFile("-Xmx64m\r\n-Da=b\n");
    DriverRun run = Run("console");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ("1", run.field("started"));
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ("done", run.output.back());
    const std::string bin = install_.bin().string();
    std::vector<std::string> expected = {
        "GetDefaultJavaVMInitArgs\tversion=0x00010004\tcwd=" + install_.root().string(),
        "CreateJavaVM\tcwd=" + bin + "\tnOptions=5",
        "option\t0\t-Dapplication.home=..",
        "option\t1\t-Djava.library.path=..\\lib",
        "option\t2\t-Xmx64m",
        "option\t3\t-Da=b",
        "option\t4\t-Xbootclasspath/p:..\\lib\\util\\kernel.jar",
        std::string("FindClass\t") + kKernelClass + "\tthread=1",
        "GetMethodID\t<init>\t()V",
        "GetMethodID\tstart\t()V",
        "GetMethodID\tstop\t()V",
        "NewObject\tthread=1",
        "ExceptionCheck\tresult=0",
        "NewGlobalRef\tthread=1\tref=valid",
        "DeleteLocalRef\tthread=1\tref=valid",
        "CallVoidMethod\tstart\tthread=1\tref=valid",
        "ExceptionCheck\tresult=0",
        "AttachCurrentThread\tthread=1",
        "CallVoidMethod\tstop\tthread=1\tref=valid",
    };
    EXPECT_EQ(expected, run.log);
}

TEST_F(KernelTest, ServiceRunStopsOnAnotherThreadWithAReferenceValidThere) {
    InstallVm();
    DriverRun run = Run("service");
    ASSERT_EQ(0, run.exitCode);
    EXPECT_EQ("1", run.field("started"));
    EXPECT_EQ(std::vector<std::string>{"CallVoidMethod\tstart\tthread=1\tref=valid"}, run.logLines("CallVoidMethod\tstart"));
    EXPECT_EQ(std::vector<std::string>{"AttachCurrentThread\tthread=2"}, run.logLines("AttachCurrentThread"));
    EXPECT_EQ(std::vector<std::string>{"CallVoidMethod\tstop\tthread=2\tref=valid"}, run.logLines("CallVoidMethod\tstop"));
    EXPECT_EQ(0, run.logCount("WrongThreadEnv"));
    EXPECT_EQ(0, run.logCount("DetachCurrentThread"));
}

}  // namespace
