// The host against real HotSpot VMs as they ship: the JDK's own libjvm.so
// linked in as server/jvm.dll (so that it finds its runtime beside itself),
// a kernel class jar in lib/util, -Xcheck:jni from the init file. Each run
// is a driver process of its own (one VM per process). Debian's OpenJDK 17
// always; Temurin 25 where the machine has it.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

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
        for (const std::string& line : matching("^report\t")) messages.push_back(EntriesOf({line}, "report")[0].at(5));
        return messages;
    }
};

const char kWindowsJarEntry[] = "..\\lib\\util\\kernel.jar";

// AddressSanitizer maps terabytes of shadow memory at start-up: a process
// whose address space is limited cannot run under it. It also takes SIGSEGV
// before the VM's own handler, so a crash ends in its report, not HotSpot's.
#if defined(__SANITIZE_ADDRESS__)
const bool kAddressSpaceCanBeLimited = false;
const bool kVmHandlesItsCrashes = false;
#else
const bool kAddressSpaceCanBeLimited = true;
const bool kVmHandlesItsCrashes = true;
#endif

struct Jdk {
    const char* name;
    std::string home;
};

void PrintTo(const Jdk& jdk, std::ostream* out) { *out << jdk.name; }

const Jdk kJdks[] = {
    {"OpenJdk17", kOpenJdk17Home},
    {"Temurin25", kTemurin25Home},
};

class RealJvmTest : public ::testing::TestWithParam<Jdk> {
  protected:
    void SetUp() override {
        libjvm_ = fs::path(GetParam().home) / "lib" / "server" / "libjvm.so";
        if (!fs::exists(libjvm_)) GTEST_SKIP() << GetParam().name << " is not on this machine (" << libjvm_ << ")";
    }

    // variant: a jar built from kernels/<variant>, or "" for no jar at all.
    KernelRun RunKernel(const std::string& variant, const std::string& mode) {
        fs::create_symlink(libjvm_, install_.server() / "jvm.dll");
        fs::create_directories(install_.jarDirectory());
        if (!variant.empty())
            fs::copy_file(fs::path(kRealJvmKernelJars) / variant / "kernel.jar",
                          install_.jarDirectory() / "kernel.jar");
        // The host names the jar as Windows does, ..\lib\util\kernel.jar
        // from the program directory; to a Linux VM that is one file name,
        // which a link of that name in the program directory provides.
        if (!fs::is_symlink(install_.bin() / kWindowsJarEntry))
            fs::create_symlink("../lib/util/kernel.jar", install_.bin() / kWindowsJarEntry);
        install_.writeInitFile("alder.init", initFile_);
        std::string driver = install_.addProgram(kKernelDriver, "AlderSvc");
        ProcessOptions options;
        options.workingDirectory = install_.root().string();
        // Under AddressSanitizer the leak scan at exit cannot walk a process
        // that hosts HotSpot; every other check stays on.
        const char* asanOptions = getenv("ASAN_OPTIONS");
        options.environment = {std::string("ASAN_OPTIONS=") + (asanOptions != nullptr ? asanOptions : "") +
                               ":detect_leaks=0"};
        std::vector<std::string> command = launcher_;
        command.insert(command.end(), {driver, mode});
        ProcessResult result = RunProcess(command[0], command, "", options);
        KernelRun run;
        run.exitCode = result.exitCode;
        // The VM writes its warnings to either stream; both are read.
        run.lines = Installation::Lines(result.output + result.errors);
        return run;
    }

    fs::path libjvm_;
    Installation install_;
    std::string initFile_ = "-Xcheck:jni\r\n-Xss1m\n";
    std::vector<std::string> launcher_;  // what the driver is started through, if anything
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

// -Xcheck:jni reports a JNI fault as a warning, or aborts the VM.
void ExpectNoJniComplaint(const KernelRun& run) {
    EXPECT_TRUE(run.matching("WARNING").empty());
    EXPECT_TRUE(run.matching("FATAL ERROR|fatal error|hs_err").empty());
}

TEST_P(RealJvmTest, ServiceRunStopsTheStartedKernelFromAnotherThread) {
    KernelRun run = RunKernel("good", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    EXPECT_TRUE(run.reports().empty());
    ExpectStartAndStopOnTheConstructedKernel(run, false);
    ExpectNoJniComplaint(run);
    EXPECT_TRUE(run.has("done"));
}

TEST_P(RealJvmTest, ConsoleRunStartsAndStopsOnOneThread) {
    KernelRun run = RunKernel("good", "console");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    ExpectStartAndStopOnTheConstructedKernel(run, true);
    ExpectNoJniComplaint(run);
}

// Each failure is reported once, with nothing the VM has to complain of.
TEST_P(RealJvmTest, FailedStartsAreReportedOnce) {
    struct Case {
        const char* variant;
        const char* message;
        bool startCalled;
    };
    const Case cases[] = {
        {"throwing", "Exception occurs starting up the Kernel", true},
        {"nostop", "One or more methods in Kernel class could not be found", false},
        {"noconstructor", "One or more methods in Kernel class could not be found", false},
        {"", "Cannot locate the Kernel class", false},
        {"initializer", "Cannot locate the Kernel class", false},
    };
    for (const Case& c : cases) {
        fs::remove(install_.server() / "jvm.dll");
        fs::remove(install_.jarDirectory() / "kernel.jar");
        KernelRun run = RunKernel(c.variant, "service");
        SCOPED_TRACE(std::string(c.variant) + "\n" + Transcript(run));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.has("started=0"));
        EXPECT_EQ(run.has("kernel start"), c.startCalled);
        EXPECT_EQ(run.reports(), std::vector<std::string>{c.message});
        // The exception goes into the event's detail; the VM prints nothing of it.
        for (const std::string& line :
             run.matching("IllegalStateException|NoSuchMethodError|NoClassDefFoundError|ExceptionInInitializerError"))
            EXPECT_EQ(line.rfind("report\t", 0), 0u) << line;
        ExpectNoJniComplaint(run);
    }
}

// A start that threw is described by the exception the kernel made: its
// text and its cause, French and Chinese intact in UTF-8, and the trace
// through the kernel's start. The driver shows the detail's line breaks as
// "\n"; its tabs stay as they are.
TEST_P(RealJvmTest, ThrownStartIsDescribedWithItsCauseAndTrace) {
    KernelRun run = RunKernel("throwingcause", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_TRUE(run.has("started=0"));
    std::vector<std::string> reports = run.matching("^report\t");
    ASSERT_EQ(reports.size(), 1u);
    // report, source, type, category, id and message come before the detail.
    size_t detailStart = 0;
    for (int field = 0; field < 6; ++field) {
        detailStart = reports[0].find('\t', detailStart);
        ASSERT_NE(detailStart, std::string::npos);
        ++detailStart;
    }
    std::string detail = reports[0].substr(detailStart);
    EXPECT_EQ(detail.rfind("java.lang.IllegalStateException: Adresse déjà utilisée 端口 8080\\n"
                           "Caused by: java.net.BindException: Adresse déjà utilisée 端口\\n\\n"
                           "java.lang.IllegalStateException: Adresse déjà utilisée 端口 8080\\n",
                           0),
              0u)
        << detail;
    EXPECT_NE(detail.find("\\n\\tat com.halvern.alder.service.ServerKernel.start("), std::string::npos) << detail;
    EXPECT_NE(detail.find("\\nCaused by: java.net.BindException: Adresse déjà utilisée 端口\\n\\tat "),
              std::string::npos)
        << detail;
    ExpectNoJniComplaint(run);
}

// The detail of the one report, its line breaks shown as "\n".
std::string DetailOf(const KernelRun& run) {
    std::vector<std::string> reports = run.matching("^report\t");
    if (reports.size() != 1) return "(" + std::to_string(reports.size()) + " reports)";
    return EntriesOf(reports, "report")[0].at(6);
}

// A heap the VM cannot reserve: HotSpot says so and ends the process inside
// JNI_CreateJavaVM; the event still comes, with the VM's own words.
TEST_P(RealJvmTest, HeapThatCannotBeReservedIsReportedInTheVmsOwnWords) {
    if (!kAddressSpaceCanBeLimited) GTEST_SKIP() << "the address space cannot be limited under AddressSanitizer";
    initFile_ = "-Xcheck:jni\r\n-Xmx64g\n";
    launcher_ = {"/usr/bin/prlimit", "--as=" + std::to_string(6LL << 30)};
    KernelRun run = RunKernel("good", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_FALSE(run.has("started=1"));
    EXPECT_EQ(run.reports(), std::vector<std::string>{"Error creating JVM"});
    std::string detail = DetailOf(run);
    EXPECT_EQ(detail.rfind("The Java VM ended the process while it was being created, ", 0), 0u) << detail;
    // Java 25 puts a blank before the unit, Java 17 none.
    EXPECT_TRUE(
        std::regex_search(detail, std::regex("\\\\nThe VM printed:\\\\nError occurred during initialization of VM"
                                             "\\\\nCould not reserve enough space for 67108864 ?KB object heap"
                                             "\\\\nThe VM was handed these options:\\\\n")))
        << detail;
}

// A kernel that calls System.exit(3) in its start: the VM ends the process
// on a thread of its own, and the start is reported as failed once.
TEST_P(RealJvmTest, StartThatCallsSystemExitIsReportedWithItsCode) {
    KernelRun run = RunKernel("exitingstart", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.reports(), std::vector<std::string>{"Exception occurs starting up the Kernel"});
    EXPECT_EQ(DetailOf(run), "The Java VM ended the process during the kernel's start, with exit code 3.");
    ExpectNoJniComplaint(run);
}

// A stop that throws is reported with the throwable and its trace.
TEST_P(RealJvmTest, StopThatThrowsIsReported) {
    KernelRun run = RunKernel("throwingstop", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    EXPECT_EQ(run.reports(), std::vector<std::string>{"Exception occurs stopping the Kernel"});
    std::string detail = DetailOf(run);
    EXPECT_EQ(detail.rfind("java.io.UncheckedIOException: flush failed\\nCaused by: java.io.IOException: disk full"
                           "\\n\\njava.io.UncheckedIOException: flush failed\\n\\tat com.halvern.alder.service."
                           "ServerKernel.stop(",
                           0),
              0u)
        << detail;
    ExpectNoJniComplaint(run);
    EXPECT_TRUE(run.has("done"));
}

// A class whose static initializer threw is found, and says so: the
// wrapper, its cause, and the trace down to the initializer.
TEST_P(RealJvmTest, ThrowingStaticInitializerIsDescribedWithItsCauseAndTrace) {
    KernelRun run = RunKernel("initializer", "service");
    SCOPED_TRACE(Transcript(run));
    EXPECT_TRUE(run.has("started=0"));
    std::vector<std::string> reports = run.matching("^report\t");
    ASSERT_EQ(reports.size(), 1u);
    std::string detail = EntriesOf({reports[0]}, "report")[0].at(6);
    EXPECT_EQ(detail.rfind("Class com/halvern/alder/service/ServerKernel was found, but its static initializer "
                           "threw:\\n"
                           "java.lang.ExceptionInInitializerError\\n"
                           "Caused by: java.lang.IllegalStateException: no port configured\\n\\n"
                           "java.lang.ExceptionInInitializerError\\n",
                           0),
              0u)
        << detail;
    EXPECT_NE(detail.find("\\nCaused by: java.lang.IllegalStateException: no port configured\\n"
                          "\\tat com.halvern.alder.service.ServerKernel.configuredPort("),
              std::string::npos)
        << detail;
    EXPECT_NE(detail.find("\\tat com.halvern.alder.service.ServerKernel.<clinit>("), std::string::npos) << detail;
    ExpectNoJniComplaint(run);
}

// The VM crashes while the kernel's stop runs, a write to address 8: the
// abort event names the error report HotSpot wrote, where it wrote it: the
// working folder, or -XX:ErrorFile with its %p the process id.
TEST_P(RealJvmTest, CrashNamesWhereTheVmWroteItsErrorReport) {
    if (!kVmHandlesItsCrashes) GTEST_SKIP() << "AddressSanitizer takes the crash before the VM";
    const fs::path crashes = install_.root() / "crashes";
    fs::create_directories(crashes);
    struct Case {
        std::string option;
        fs::path folder;
        std::string shownFolder;  // as the event names it
    };
    const Case cases[] = {
        {"", install_.bin(), Installation::WindowsForm(install_.bin().string()) + "\\"},
        {"-XX:ErrorFile=" + crashes.string() + "/vm_%p_crash.log\n", crashes, crashes.string() + "/"},
    };
    for (const Case& c : cases) {
        fs::remove(install_.server() / "jvm.dll");
        fs::remove(install_.jarDirectory() / "kernel.jar");
        initFile_ = "-Xcheck:jni\r\n-XX:-CreateCoredumpOnCrash\n" + c.option;
        KernelRun run = RunKernel("crashingstop", "service");
        SCOPED_TRACE(c.option + Transcript(run));
        EXPECT_NE(run.exitCode, 0);
        std::vector<std::string> written;
        for (const fs::directory_entry& entry : fs::directory_iterator(c.folder))
            if (entry.path().extension() == ".log") written.push_back(entry.path().filename().string());
        ASSERT_EQ(written.size(), 1u) << "HotSpot wrote no error report, or more than one";
        EXPECT_EQ(run.reports(), std::vector<std::string>{"The Java VM aborted"});
        const std::string detail = DetailOf(run);
        const std::string place = "\\nIts error report: " + c.shownFolder + written[0];
        EXPECT_EQ(detail.rfind("The Java VM aborted while the kernel's stop ran.", 0), 0u) << detail;
        EXPECT_EQ(detail.substr(detail.size() - std::min(detail.size(), place.size())), place) << detail;
        fs::remove(c.folder / written[0]);
    }
}

// A keystore password never shows in a detail: not in -Xlog:arguments'
// jvm_args line, which Java 25 prints (Java 17 prints none), in what the VM
// printed before the kernel's start ended the process; not in the text of
// an exception that the kernel's start threw.
TEST_P(RealJvmTest, KeystorePasswordIsMaskedInWhatTheVmPrintedAndInExceptionText) {
    const std::string password = "Kz9-keystore-Pw";
    const bool logsJvmArgs = std::string(GetParam().name) != "OpenJdk17";
    const struct {
        const char* variant;
        std::vector<std::string> shown;
    } cases[] = {
        {"exitingstart", logsJvmArgs ? std::vector<std::string>{"\\nThe VM printed:\\n[",
                                                                "[info][arguments] jvm_args: -Dapplication.home=.. "
                                                                "-Djava.library.path=..\\lib -Xlog:arguments "
                                                                "-Djavax.net.ssl.keyStorePassword=**** "}
                                     : std::vector<std::string>{"with exit code 3."}},
        {"secretthrowing", {"java.lang.IllegalStateException: keystore refused the password ****\\n"}},
    };
    initFile_ = "-Xlog:arguments\n-Djavax.net.ssl.keyStorePassword=" + password + "\n";
    for (const auto& c : cases) {
        fs::remove(install_.server() / "jvm.dll");
        fs::remove(install_.jarDirectory() / "kernel.jar");
        KernelRun run = RunKernel(c.variant, "service");
        SCOPED_TRACE(std::string(c.variant) + "\n" + Transcript(run));
        EXPECT_EQ(run.reports(), std::vector<std::string>{"Exception occurs starting up the Kernel"});
        std::string detail = DetailOf(run);
        for (const std::string& shown : c.shown) EXPECT_NE(detail.find(shown), std::string::npos) << detail;
        EXPECT_EQ(detail.find(password), std::string::npos) << detail;
    }
}

// As a service, what the kernel prints on System.out and System.err, in its
// start and from a thread of its own, is in the output log between the
// host's start and end lines; after a crash, HotSpot's banner is there and
// in the abort event.
TEST_P(RealJvmTest, AServiceKeepsWhatTheKernelAndTheVmPrintInItsOutputLog) {
    const fs::path log = install_.root() / "logs" / "AlderSvc.log";
    KernelRun run = RunKernel("printing", "servicelog");
    SCOPED_TRACE(Transcript(run));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.has("started=1"));
    std::vector<std::string> lines = Installation::Lines(Installation::ReadFile(log));
    ASSERT_GE(lines.size(), 2u) << Installation::ReadFile(log);
    EXPECT_TRUE(std::regex_search(lines.front(), std::regex("\\): started\r$"))) << lines.front();
    EXPECT_TRUE(std::regex_search(lines.back(), std::regex("\\): stopped\r$"))) << lines.back();
    std::vector<std::string> printed(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(printed, (std::vector<std::string>{"kernel start", "kernel start on System.err", "from a thread 1",
                                                 "from a thread 2", "from a thread 3", "kernel stop"}));
    ExpectNoJniComplaint(run);

    if (!kVmHandlesItsCrashes) return;  // AddressSanitizer takes the crash before the VM
    fs::remove(install_.server() / "jvm.dll");
    fs::remove(install_.jarDirectory() / "kernel.jar");
    initFile_ = "-Xcheck:jni\r\n-XX:-CreateCoredumpOnCrash\n";
    run = RunKernel("crashingstop", "servicelog");
    EXPECT_NE(run.exitCode, 0);
    const std::string text = Installation::ReadFile(log);
    EXPECT_NE(text.find("\n# Problematic frame:\n"), std::string::npos) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\\): the VM aborted\r\n$"))) << text;
    EXPECT_NE(DetailOf(run).find("\\n# Problematic frame:\\n"), std::string::npos) << DetailOf(run);
}

INSTANTIATE_TEST_SUITE_P(Jdks, RealJvmTest, ::testing::ValuesIn(kJdks),
                         [](const ::testing::TestParamInfo<Jdk>& info) { return std::string(info.param.name); });

}  // namespace
