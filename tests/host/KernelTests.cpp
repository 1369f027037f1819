// The kernel's start and stop, each scenario in a process of its own (a VM
// is created once per process), against the stand-in VM installed as
// server/jvm.dll of a throw-away installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BuiltPaths.h"
#include "Installation.h"
#include "Process.h"

namespace {

const char kKernelClass[] = "com/halvern/alder/service/ServerKernel";

struct DriverRun {
    int exitCode = -1;
    std::vector<std::string> output;   // the driver's lines
    std::vector<std::string> log;      // standin.log
    std::vector<std::string> reports;  // the messages of the event-log entries

    std::string field(const std::string& key) const {
        for (const std::string& line : output)
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return "(missing)";
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
    void WriteInitFile(const std::string& bytes) { install_.writeInitFile("alder.init", bytes); }

    // Runs a copy of the driver from the installation's bin directory,
    // started in the installation's root directory.
    DriverRun Run(const std::string& mode) {
        std::string driver = install_.addProgram(kKernelDriver, "AlderSvc");
        ProcessOptions options;
        options.workingDirectory = install_.root().string();
        ProcessResult result = RunProcess(driver, {driver, mode}, "", options);
        EXPECT_EQ(result.errors, "");
        DriverRun run;
        run.exitCode = result.exitCode;
        run.output = Installation::Lines(result.output);
        run.log = install_.standinLog();
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

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class KernelFailureTest : public KernelTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(KernelFailureTest, ReportsOnceReturnsFalseAndLeavesTheStateReached) {
    install_.installStandinVm(GetParam().conf);
    WriteInitFile("-Dfrom.init=1\n");
    DriverRun run = Run("start");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.field("started"), "0");
    EXPECT_EQ(run.reports, std::vector<std::string>{GetParam().message});
    bool moved = GetParam().workingDirectoryMoved;
    EXPECT_EQ(run.field("cwd"), moved ? install_.bin().string() : install_.root().string());
    EXPECT_EQ(run.field("initFileOpened"), moved ? "1" : "0");
    EXPECT_EQ(run.field("initFileClosed"), moved ? "1" : "0");
    EXPECT_EQ(run.logCount("WrongThreadEnv"), 0);
    EXPECT_EQ(run.logCount("CallWithExceptionPending"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KernelFailureTest,
    ::testing::Values(
        FailureCase{"UnsupportedVersion", "fail=version", "Error getting JVM default arguments.", false},
        FailureCase{"OptionsRefused", "fail=create", "Error creating JVM", true},
        FailureCase{"ClassNotFound", "fail=class", "Cannot locate the Kernel class", true},
        FailureCase{"NoConstructor", "fail=method-<init>", "One or more methods in Kernel class could not be found",
                    true},
        FailureCase{"NoStart", "fail=method-start", "One or more methods in Kernel class could not be found", true},
        FailureCase{"NoStop", "fail=method-stop", "One or more methods in Kernel class could not be found", true},
        FailureCase{"ConstructorThrows", "fail=constructor", "Exception occurs starting up the Kernel", true},
        FailureCase{"ConstructorYieldsNothing", "fail=null-object", "Exception occurs starting up the Kernel", true},
        FailureCase{"StartThrows", "fail=start", "Exception occurs starting up the Kernel", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(KernelTest, NoLibraryReportsFailedToLoadAndTouchesNothing) {
    WriteInitFile("-Dfrom.init=1\n");
    DriverRun run = Run("start");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.field("started"), "0");
    EXPECT_EQ(run.reports, std::vector<std::string>{"Failed to load JVM DLL."});
    EXPECT_EQ(run.field("cwd"), install_.root().string());
    EXPECT_EQ(run.field("initFileOpened"), "0");
}

TEST_F(KernelTest, LibraryPathIsTheModuleDirectoryWithServerJvmDll) {
    DriverRun run = Run("start");
    ASSERT_FALSE(run.output.empty());
    EXPECT_EQ(run.output.front(), "LoadLibraryA\t" + install_.moduleDirectory() + "\\server\\jvm.dll");
}

TEST_F(KernelTest, LibraryWithoutEntryPointsIsNeverCalledThroughNull) {
    install_.installLibrary(kJvmWithoutEntryPoints);
    DriverRun run = Run("start");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.reports, std::vector<std::string>{"Error getting JVM default arguments."});
    EXPECT_EQ(run.field("cwd"), install_.root().string());
}

TEST_F(KernelTest, LibraryWithoutCreateJavaVmIsNeverCalledThroughNull) {
    install_.installLibrary(kJvmWithoutCreate);
    DriverRun run = Run("start");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.reports, std::vector<std::string>{"Error creating JVM"});
    EXPECT_EQ(run.field("cwd"), install_.bin().string());
}

TEST_F(KernelTest, MissingMethodStillLooksUpAllThreeAndStartsNothing) {
    install_.installStandinVm("fail=method-<init>");
    DriverRun run = Run("start");
    EXPECT_EQ(
        run.logLines("GetMethodID"),
        (std::vector<std::string>{"GetMethodID\t<init>\t()V", "GetMethodID\tstart\t()V", "GetMethodID\tstop\t()V"}));
    EXPECT_EQ(run.logCount("NewObject"), 0);
    EXPECT_EQ(run.logCount("CallVoidMethod"), 0);
}

TEST_F(KernelTest, ConstructorFailureNeverCallsStart) {
    for (const char* conf : {"fail=constructor", "fail=null-object"}) {
        Installation::WriteFile(install_.server() / "standin.log", "");
        install_.installStandinVm(conf);
        DriverRun run = Run("start");
        EXPECT_EQ(run.logCount("NewObject"), 1) << conf;
        EXPECT_EQ(run.logCount("CallVoidMethod"), 0) << conf;
    }
}

TEST_F(KernelTest, ThrowingStartIsClearedAfterTheCall) {
    install_.installStandinVm("fail=start");
    DriverRun run = Run("start");
    std::vector<std::string> tail(run.log.end() - 3, run.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"CallVoidMethod\tstart\tthread=1\tref=valid", "ExceptionCheck\tresult=1",
                                              "ExceptionClear"}));
}

TEST_F(KernelTest, ClassNotFoundLeavesNoExceptionPending) {
    install_.installStandinVm("fail=class");
    DriverRun run = Run("start");
    std::vector<std::string> tail(run.log.end() - 3, run.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{std::string("FindClass\t") + kKernelClass + "\tthread=1",
                                              "ExceptionCheck\tresult=1", "ExceptionClear"}));
}

// ------------------------------------------------------------ a full run

TEST_F(KernelTest, ConsoleRunStartsAndStopsTheSameKernelOnOneThread) {
    install_.installStandinVm();
    install_.addJar("kernel.jar");
    WriteInitFile("-Xmx64m\r\n-Da=b\n");
    DriverRun run = Run("console");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.field("started"), "1");
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(run.output.back(), "done");
    const std::string bin = install_.bin().string();
    std::vector<std::string> expected = {
        "GetDefaultJavaVMInitArgs\tversion=0x00010004\tcwd=" + install_.root().string(),
        "GetDefaultJavaVMInitArgs\tversion=0x00090000\tcwd=" + install_.root().string(),
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
    EXPECT_EQ(run.log, expected);
}

TEST_F(KernelTest, ServiceRunStopsOnAnotherThreadWithAReferenceValidThere) {
    install_.installStandinVm();
    DriverRun run = Run("service");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.field("started"), "1");
    EXPECT_EQ(run.logLines("CallVoidMethod\tstart"),
              std::vector<std::string>{"CallVoidMethod\tstart\tthread=1\tref=valid"});
    EXPECT_EQ(run.logLines("AttachCurrentThread"), std::vector<std::string>{"AttachCurrentThread\tthread=2"});
    EXPECT_EQ(run.logLines("CallVoidMethod\tstop"),
              std::vector<std::string>{"CallVoidMethod\tstop\tthread=2\tref=valid"});
    EXPECT_EQ(run.logCount("WrongThreadEnv"), 0);
    EXPECT_EQ(run.logLines("DetachCurrentThread"), std::vector<std::string>{"DetachCurrentThread\tthread=1"});
}

// The VM's generation decides how the jars join the boot class path, and
// nothing else.
TEST_F(KernelTest, EachGenerationGetsItsBootClassPathOption) {
    struct Case {
        const char* conf;
        const char* bootClassPath;
    };
    const Case cases[] = {
        {"", "option\t3\t-Xbootclasspath/p:..\\lib\\util\\kernel.jar"},
        {"vm=modular", "option\t3\t-Xbootclasspath/a:..\\lib\\util\\kernel.jar"},
    };
    for (const Case& c : cases) {
        Installation::WriteFile(install_.server() / "standin.log", "");
        Installation::WriteFile(install_.server() / "standin.conf", "");
        install_.installStandinVm(c.conf);
        install_.addJar("kernel.jar");
        WriteInitFile("-Xmx64m\n");
        DriverRun run = Run("start");
        EXPECT_EQ(run.field("started"), "1") << c.conf;
        std::vector<std::string> options = run.logLines("option");
        EXPECT_EQ(options, (std::vector<std::string>{"option\t0\t-Dapplication.home=..",
                                                     "option\t1\t-Djava.library.path=..\\lib", "option\t2\t-Xmx64m",
                                                     c.bootClassPath}))
            << c.conf;
    }
}

}  // namespace
