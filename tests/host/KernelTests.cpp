// The kernel's start and stop, each scenario in a process of its own (a VM
// is created once per process), against the stand-in VM installed as
// server/jvm.dll of a throw-away installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BuiltPaths.h"
#include "Installation.h"
#include "Process.h"
#include "SyntheticImage.h"

namespace {

const char kKernelClass[] = "com/halvern/alder/service/ServerKernel";

struct DriverRun {
    int exitCode = -1;
    std::vector<std::string> output;    // the driver's lines
    std::vector<std::string> log;       // standin.log
    std::vector<std::string> reports;   // the messages of the event-log entries
    std::vector<std::string> details;   // and their details, line breaks as "\n"
    std::vector<std::string> warnings;  // the warnings: message, then detail after a "|"

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
            if (line.rfind("report\t", 0) != 0) continue;
            StandinEntry fields = EntriesOf({line}, "report")[0];
            if (line.rfind("report\tAlderSvc\t2\t1\t6\t", 0) == 0 && fields.size() == 7) {
                run.warnings.push_back(fields[5] + "|" + fields[6]);
                continue;
            }
            bool wellFormed = fields.size() == 7 && line.rfind("report\tAlderSvc\t1\t1\t2\t", 0) == 0;
            run.reports.push_back(wellFormed ? fields[5] : "malformed: " + line);
            run.details.push_back(wellFormed ? fields[6] : "");
        }
        return run;
    }

    Installation install_;
};

// ------------------------------------------------------------ failures

// A PE image's first bytes, built for `machine` (0x014c x86, 0x8664 x64).
std::string PeImage(uint16_t machine) {
    std::string image(4096, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3c] = static_cast<char>(0x80);
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    image[0x84] = static_cast<char>(machine & 0xff);
    image[0x85] = static_cast<char>(machine >> 8);
    return image;
}

// Each way the start can fail: one report with the fixed message, a detail
// that carries the facts an administrator acts on (details show their line
// breaks as \n here), and the state reached left as it was.
struct FailureCase {
    const char* name;
    std::function<void(const Installation&)> install;
    const char* message;
    std::vector<std::string> facts;  // each is somewhere in the detail
    bool workingDirectoryMoved;      // and the init file read
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

auto Standin(const char* conf) {
    return [conf](const Installation& install) { install.installStandinVm(conf); };
}

auto Library(const char* path) {
    return [path](const Installation& install) { install.installLibrary(path); };
}

class KernelFailureTest : public KernelTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(KernelFailureTest, ReportsOnceWithTheFactsAndLeavesTheStateReached) {
    GetParam().install(install_);
    WriteInitFile("-Dfrom.init=100%s%n\n");
    DriverRun run = Run("start");
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.field("started"), "0");
    EXPECT_EQ(run.reports, std::vector<std::string>{GetParam().message});
    ASSERT_EQ(run.details.size(), 1u);
    for (std::string fact : GetParam().facts) {
        for (size_t at = 0; (at = fact.find("{bin}", at)) != std::string::npos;)
            fact.replace(at, 5, install_.moduleDirectory());
        EXPECT_NE(run.details[0].find(fact), std::string::npos) << "missing: " << fact << "\nin: " << run.details[0];
    }
    bool moved = GetParam().workingDirectoryMoved;
    EXPECT_EQ(run.field("cwd"), moved ? install_.bin().string() : install_.root().string());
    EXPECT_EQ(run.field("initFileOpened"), moved ? "1" : "0");
    EXPECT_EQ(run.field("initFileClosed"), moved ? "1" : "0");
    EXPECT_EQ(run.logCount("WrongThreadEnv"), 0);
    EXPECT_EQ(run.logCount("CallWithExceptionPending"), 0);
    // The start returns with no exception left pending on a VM it created.
    bool vmCreated = run.logCount("CreateJavaVM") == 1 && GetParam().message != std::string("Error creating JVM");
    EXPECT_EQ(run.field("exceptionPending"), vmCreated ? "0" : "(missing)");
}

const char kMethods[] = "One or more methods in Kernel class could not be found";
const char kThrew[] = "Exception occurs starting up the Kernel";
const char kStandinThrowable[] = "java.lang.RuntimeException: stand-in failure";

INSTANTIATE_TEST_SUITE_P(
    Steps, KernelFailureTest,
    ::testing::Values(
        FailureCase{"NoLibrary",
                    [](const Installation&) {},
                    "Failed to load JVM DLL.",
                    {"Tried {bin}\\server\\jvm.dll\\n", "Windows error 126: The specified module could not be found."},
                    false},
        FailureCase{
            "LibraryForAnotherMachine",
            [](const Installation& install) { Installation::WriteFile(install.server() / "jvm.dll", PeImage(0x014c)); },
            "Failed to load JVM DLL.",
            {"Windows error 193",
             "{bin}\\server\\jvm.dll is a 32-bit (x86) library and this program is "
             "64-bit (x64): install a 64-bit Java runtime there, or use the 32-bit build"},
            false},
        // A library of this machine that is there, whose own libraries are
        // not all found: the ones missing are named, well-known runtimes with
        // their package; one in the program's directory is found, in any case.
        FailureCase{"LibraryMissesWhatItImports",
                    [](const Installation& install) {
                        SyntheticImage image;
                        image.imports = {"VCRUNTIME140.dll", "PRESENT.DLL", "MSVCP140.dll",
                                         "api-ms-win-crt-runtime-l1-1-0.dll", "halvern-none.dll"};
                        Installation::WriteFile(install.server() / "jvm.dll", BuildPeImage(image));
                        Installation::WriteFile(install.bin() / "present.dll", "");
                    },
                    "Failed to load JVM DLL.",
                    {"Windows error 193: {bin}\\server\\jvm.dll is not a valid Win32 application.\\n"
                     "{bin}\\server\\jvm.dll is there, but libraries it needs are missing: VCRUNTIME140.dll, "
                     "MSVCP140.dll, api-ms-win-crt-runtime-l1-1-0.dll, halvern-none.dll\\n"
                     "VCRUNTIME140.dll, MSVCP140.dll come with the Microsoft Visual C++ Redistributable 2015 or "
                     "later.\\napi-ms-win-crt-runtime-l1-1-0.dll comes with the Universal C Runtime (Windows update "
                     "KB2999226)."},
                    false},
        FailureCase{"LibraryMissesOneRuntime",
                    [](const Installation& install) {
                        SyntheticImage image;
                        image.imports = {"msvcr100.dll"};
                        Installation::WriteFile(install.server() / "jvm.dll", BuildPeImage(image));
                    },
                    "Failed to load JVM DLL.",
                    {"{bin}\\server\\jvm.dll is there, but a library it needs is missing: msvcr100.dll\\n"
                     "msvcr100.dll comes with the Visual C++ 2010 Redistributable."},
                    false},
        // A 32-bit Java 8 runtime with only a client VM.
        FailureCase{"OnlyAClientVm",
                    [](const Installation& install) {
                        std::filesystem::create_directories(install.bin() / "client");
                        Installation::WriteFile(install.bin() / "client" / "jvm.dll", PeImage(0x8664));
                    },
                    "Failed to load JVM DLL.",
                    {"Windows error 126: The specified module could not be found.\\n{bin}\\client\\jvm.dll is "
                     "there: a client VM. This program loads only a server VM (server\\jvm.dll): install a Java "
                     "runtime that has one."},
                    false},
        FailureCase{"NoDefaultArgumentsExport",
                    Library(kJvmWithoutEntryPoints),
                    "Error getting JVM default arguments.",
                    {"{bin}\\server\\jvm.dll has no export JNI_GetDefaultJavaVMInitArgs"},
                    false},
        FailureCase{"UnsupportedVersion",
                    Standin("fail=version"),
                    "Error getting JVM default arguments.",
                    {"JNI_GetDefaultJavaVMInitArgs answered JNI_EVERSION (-3) to JNI version 1.4"},
                    false},
        FailureCase{"NoCreateExport",
                    Library(kJvmWithoutCreate),
                    "Error creating JVM",
                    {"{bin}\\server\\jvm.dll has no export JNI_CreateJavaVM"},
                    true},
        FailureCase{"OptionsRefused",
                    Standin("fail=create"),
                    "Error creating JVM",
                    {"JNI_CreateJavaVM answered JNI_ERR (-1). The VM was handed these options:\\n"
                     "-Dapplication.home=..\\n-Djava.library.path=..\\lib\\n-Dfrom.init=100%s%n\\n"
                     "-Xbootclasspath/p:\\nvfprintf\\nexit\\nabort\\n",
                     "run \"AlderSvc run\""},
                    true},
        FailureCase{"ClassNotFound",
                    Standin("fail=class"),
                    "Cannot locate the Kernel class",
                    {"Class com/halvern/alder/service/ServerKernel could not be loaded from the jars of "
                     "..\\lib\\util or the class path:\\njava.lang.NoClassDefFoundError: "
                     "com/halvern/alder/service/ServerKernel"},
                    true},
        // Found, but its static initializer threw: said in the first line,
        // with the cause and the trace that show where.
        FailureCase{"StaticInitializerThrows",
                    Standin("fail=initializer\nthrowable=java.lang.IllegalStateException: no port\n"
                            "cause=java.io.IOException: \\u0000 kept"),
                    "Cannot locate the Kernel class",
                    {"Class com/halvern/alder/service/ServerKernel was found, but its static initializer threw:\\n"
                     "java.lang.ExceptionInInitializerError\\n"
                     "Caused by: java.lang.IllegalStateException: no port\\n"
                     "Caused by: java.io.IOException: \\0 kept\\n\\n"
                     "java.lang.ExceptionInInitializerError\\n\\tat ",
                     "\\nCaused by: java.lang.IllegalStateException: no port\\n\\tat "},
                    true},
        // Without the class to compare with, it reads as not loaded; the
        // failed lookup's exception is cleared like any other.
        FailureCase{"InitializerErrorClassNotFound",
                    Standin("fail=initializer\nfail=find-java/lang/ExceptionInInitializerError"),
                    "Cannot locate the Kernel class",
                    {"Class com/halvern/alder/service/ServerKernel could not be loaded from the jars of "
                     "..\\lib\\util or the class path:\\njava.lang.ExceptionInInitializerError\\n"
                     "Caused by: java.lang.RuntimeException: stand-in failure"},
                    true},
        FailureCase{"NoConstructor",
                    Standin("fail=method-<init>"),
                    kMethods,
                    {"Missing from com/halvern/alder/service/ServerKernel: <init>()V"},
                    true},
        FailureCase{"NoStart",
                    Standin("fail=method-start"),
                    kMethods,
                    {"Missing from com/halvern/alder/service/ServerKernel: start()V"},
                    true},
        FailureCase{"NoStartNorStop",
                    Standin("fail=method-start\nfail=method-stop"),
                    kMethods,
                    {"Missing from com/halvern/alder/service/ServerKernel: start()V stop()V"},
                    true},
        FailureCase{"ConstructorThrows",
                    Standin("fail=constructor"),
                    kThrew,
                    {kStandinThrowable, "\\n\\tat com.halvern.standin"},
                    true},
        FailureCase{"ConstructorYieldsNothing",
                    Standin("fail=null-object"),
                    kThrew,
                    {"The constructor gave no object and threw nothing."},
                    true},
        FailureCase{"StartThrows",
                    Standin("fail=start"),
                    kThrew,
                    {std::string(kStandinThrowable) + "\\n\\n" + kStandinThrowable +
                     "\\n\\tat com.halvern.standin.Kernel.start"},
                    true},
        // Text that no code page holds arrives whole, cause by cause.
        FailureCase{"StartThrowsInOtherLanguages",
                    Standin("fail=start\nthrowable=java.net.BindException: Adresse d\xc3\xa9j\xc3\xa0 utilis\xc3\xa9"
                            "e\ncause=java.io.IOException: \xe7\xab\xaf\xe5\x8f\xa3 \xf0\x9f\x94\x8c"),
                    kThrew,
                    {"java.net.BindException: Adresse d\xc3\xa9j\xc3\xa0 utilis\xc3\xa9"
                     "e\\nCaused by: java.io.IOException: \xe7\xab\xaf\xe5\x8f\xa3 \xf0\x9f\x94\x8c"},
                    true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// A refused create says what the VM printed, then the options it was
// handed, a secret's value masked; the VM itself gets the option whole.
TEST_F(KernelTest, RefusedCreateShowsTheVmsWordsAndMasksSecrets) {
    install_.installStandinVm(
        "fail=create\nsay=Unrecognized VM option 'Xfoo'\nsay=Error: Could not create the Java Virtual Machine.");
    WriteInitFile("-Djavax.net.ssl.keyStorePassword=changeit\n-Dapi.TOKEN=t0k\n-Dplain=visible\n");
    DriverRun run = Run("start");
    EXPECT_EQ(run.reports, std::vector<std::string>{"Error creating JVM"});
    EXPECT_EQ(run.details,
              std::vector<std::string>{
                  "JNI_CreateJavaVM answered JNI_ERR (-1).\\nThe VM printed:\\n"
                  "Unrecognized VM option 'Xfoo'\\nError: Could not create the Java Virtual Machine.\\n"
                  "The VM was handed these options:\\n-Dapplication.home=..\\n-Djava.library.path=..\\lib\\n"
                  "-Djavax.net.ssl.keyStorePassword=****\\n-Dapi.TOKEN=****\\n-Dplain=visible\\n"
                  "-Xbootclasspath/p:\\nvfprintf\\nexit\\nabort"});
    std::vector<std::string> options = run.logLines("option");
    ASSERT_GE(options.size(), 4u);
    EXPECT_EQ(options[2], "option\t2\t-Djavax.net.ssl.keyStorePassword=changeit");
    EXPECT_EQ(options[3], "option\t3\t-Dapi.TOKEN=t0k");
}

TEST_F(KernelTest, LibraryPathIsTheModuleDirectoryWithServerJvmDll) {
    DriverRun run = Run("start");
    ASSERT_FALSE(run.output.empty());
    EXPECT_EQ(run.output.front(), "LoadLibraryA\t" + install_.moduleDirectory() + "\\server\\jvm.dll");
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
        EXPECT_EQ(run.logLines("NewObject").front(), "NewObject\tthread=1") << conf;
        EXPECT_TRUE(run.logLines("CallVoidMethod\tstart").empty()) << conf;
    }
}

// The exception start threw is looked at right after the call, and is
// cleared by the time the start returns (see the failure table).
TEST_F(KernelTest, ThrowingStartIsCheckedRightAfterTheCall) {
    install_.installStandinVm("fail=start");
    DriverRun run = Run("start");
    auto start = std::find(run.log.begin(), run.log.end(), "CallVoidMethod\tstart\tthread=1\tref=valid");
    ASSERT_NE(start, run.log.end());
    ASSERT_NE(start + 1, run.log.end());
    EXPECT_EQ(*(start + 1), "ExceptionCheck\tresult=1");
    EXPECT_EQ(run.field("exceptionPending"), "0");
}

// ------------------------------------------------------------ the init file

// Where the start reads the init file otherwise than it is written, it
// warns once, naming each case, and goes on.
TEST_F(KernelTest, AnInitFileReadOtherwiseThanWrittenIsWarnedOfOnceAndTheStartGoesOn) {
    const std::string cutLine = "-Dcut=" + std::string(600, 'x') + "\n";
    std::string everyCase = "\xEF\xBB\xBF-Xmx1g\n";  // line 1
    for (int line = 2; line <= 7; ++line) everyCase += cutLine;
    for (int line = 8; line <= 54; ++line) everyCase += "-Dline=" + std::to_string(line) + "\n";  // 51st from 52 on
    std::string oneOfEach = cutLine;
    for (int line = 2; line <= 51; ++line) oneOfEach += "-Dline=" + std::to_string(line) + "\n";
    struct Case {
        const char* name;
        std::string file;
        std::string warning;  // after the file's path, line breaks as "\\n"; "" for none
    };
    const Case cases[] = {
        {"UTF-16", "\xFF\xFE" + Installation::Utf16("-Xmx64m\r\n-Da=b\r\n"),
         "saved as UTF-16: the start reads none of its 2 lines; save it as ANSI"},
        {"every other case, several times", everyCase,
         "line 1 begins with a byte-order mark (UTF-8), which hides its option\\n"
         "3 options past the 50th are ignored, from line 52 on\\n"
         "lines 2, 3, 4, 5, 6 and 1 more are longer than 511 bytes: the start reads the bytes of each past the 511th "
         "as lines of their own"},
        {"one line past the 50th, one line cut", oneOfEach,
         "1 option past the 50th is ignored, on line 51\\n"
         "line 1 is longer than 511 bytes: the start reads its bytes past the 511th as lines of their own"},
        {"read as written: 511 bytes, then the line end", "-Dv=" + std::string(507, 'v') + "\r\n-Da=b", ""},
    };
    install_.installStandinVm();
    for (const Case& c : cases) {
        WriteInitFile(c.file);
        DriverRun run = Run("start");
        EXPECT_EQ(run.field("started"), "1") << c.name;
        EXPECT_TRUE(run.reports.empty()) << c.name;
        std::vector<std::string> expected;
        if (!c.warning.empty())
            expected.push_back("The init file is not read as it is written|" + install_.moduleDirectory() +
                               "alder.init\\n" + c.warning);
        EXPECT_EQ(run.warnings, expected) << c.name;
    }
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
        "CreateJavaVM\tcwd=" + bin + "\tnOptions=8",
        "option\t0\t-Dapplication.home=..",
        "option\t1\t-Djava.library.path=..\\lib",
        "option\t2\t-Xmx64m",
        "option\t3\t-Da=b",
        "option\t4\t-Xbootclasspath/p:..\\lib\\util\\kernel.jar",
        "option\t5\tvfprintf\textraInfo=set",
        "option\t6\texit\textraInfo=set",
        "option\t7\tabort\textraInfo=set",
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
        "ExceptionCheck\tresult=0",
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
        EXPECT_EQ(options, (std::vector<std::string>{
                               "option\t0\t-Dapplication.home=..", "option\t1\t-Djava.library.path=..\\lib",
                               "option\t2\t-Xmx64m", c.bootClassPath, "option\t4\tvfprintf\textraInfo=set",
                               "option\t5\texit\textraInfo=set", "option\t6\tabort\textraInfo=set"}))
            << c.conf;
    }
}

}  // namespace
