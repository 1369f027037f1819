// The check's report, in-process: what it says of init files, of the
// service as the recording service manager holds it, and of the event
// source in the fake registry; and that it changes none of them.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Check.h"
#include "FakeRegistry.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "ScriptedModulePath.h"
#include "SyntheticImage.h"
#include "SyntheticZip.h"

namespace {

using FakeServiceManager::RegisteredService;

const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\AlderSvc";
const char kKernelEntry[] = "com/halvern/alder/service/ServerKernel.class";

class Check : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        installation_.installStandinVm();
        installation_.addJar("kernel.jar", {kKernelEntry});
        programPath_ = installation_.windowsPathOf("AlderSvc.exe");
        ScriptedModulePath::Set(programPath_);
    }
    void TearDown() override { ScriptedModulePath::Reset(); }

    std::string Report(int* exitCode) {
        ::testing::internal::CaptureStdout();
        *exitCode = RunCheck();
        return ::testing::internal::GetCapturedStdout();
    }

    // The block of the report whose heading begins with `heading`, and the exit code.
    std::string Block(const std::string& heading, int* exitCode = nullptr) {
        int code = -1;
        std::string report = Report(&code);
        if (exitCode != nullptr) *exitCode = code;
        for (size_t at = 0; at < report.size();) {
            size_t end = report.find("\n\n", at);
            std::string block = report.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
            if (block.compare(0, heading.size(), heading) == 0) return block;
            if (end == std::string::npos) break;
            at = end + 2;
        }
        ADD_FAILURE() << "no block " << heading << " in:\n" << report;
        return "";
    }

    WorkingDirectoryGuard directory_;
    Installation installation_;
    std::string programPath_;
};

TEST_F(Check, SaysWhatBecomesOfEachLineOfTheInitFile) {
    const std::string longValue(520, 'x');
    const std::string cutOption = "-Dlong=" + longValue;  // 527 bytes
    std::string fiftyFive;
    for (int i = 1; i <= 55; ++i) fiftyFive += "-Do" + std::to_string(i) + "=1\n";
    struct Case {
        const char* name;
        std::string file;
        std::string block;
    };
    const Case cases[] = {
        {"plain options, blank lines left out", "-Xmx512m\r\n\r\n-Dlast=unterminated",
         "The init file alder.init\n  line 1: -Xmx512m\n  line 3: -Dlast=unterminated\n  2 options from it\n"},
        {"a byte-order mark hiding the first option", "\xEF\xBB\xBF-Xmx1g\r\n-Xss1m\r\n",
         "The init file alder.init\n"
         "  problem: line 1 is ignored: it begins with a byte-order mark (a file saved as UTF-8 with BOM), which "
         "hides the option -Xmx1g\n  line 2: -Xss1m\n  1 option from it\n"},
        {"a byte-order mark before a comment", "\xEF\xBB\xBF# heap\n-Xss1m\n",
         "The init file alder.init\n  notice: line 1 is ignored: it does not begin with \"-\" (it begins with a "
         "byte-order mark)\n  line 2: -Xss1m\n  1 option from it\n"},
        {"free text and an indented option", "Xmx512m\n  -Dindented=1\n-Dsecret.token=abc\n",
         "The init file alder.init\n  notice: line 1 is ignored: it does not begin with \"-\"\n"
         "  notice: line 2 is ignored: it does not begin with \"-\"\n  line 3: -Dsecret.token=****\n"
         "  1 option from it\n"},
        {"a line cut into pieces, its rest ignored", cutOption + "\n-Xss1m\n",
         "The init file alder.init\n  problem: line 1 is longer than 511 bytes: the start takes its first 511 as "
         "the option " +
             cutOption.substr(0, 511) +
             ", and the rest as lines of their own\n  line 2: -Xss1m\n  2 options from it\n"},
        {"a line whose rest makes an option", "-Da=" + std::string(507, 'y') + "-Dsneaky=1\n",
         "The init file alder.init\n  problem: line 1 is longer than 511 bytes: the start takes its first 511 as "
         "the option -Da=" +
             std::string(507, 'y') +
             ", and the rest as lines of their own\n  problem: line 1: its bytes from 512 on make an option of "
             "their own: -Dsneaky=1\n  2 options from it\n"},
        // 511 bytes and the line end: nothing is cut.
        {"an option of exactly 511 bytes", "-Dv=" + std::string(507, 'z') + "\r\n",
         "The init file alder.init\n  line 1: -Dv=" + std::string(507, 'z') + "\n  1 option from it\n"},
        {"options past the 50th", fiftyFive,
         [] {
             std::string block = "The init file alder.init\n";
             for (int i = 1; i <= 50; ++i)
                 block += "  line " + std::to_string(i) + ": -Do" + std::to_string(i) + "=1\n";
             for (int i = 51; i <= 55; ++i)
                 block += "  problem: line " + std::to_string(i) +
                          " is ignored: the start takes only the first 50 options of the init file: -Do" +
                          std::to_string(i) + "=1\n";
             return block + "  50 options from it\n";
         }()},
        {"more ignored lines than the report lists",
         [] {
             std::string file;
             for (int i = 0; i < 260; ++i) file += "x\n";
             return file;
         }(),
         [] {
             std::string block = "The init file alder.init\n";
             for (int i = 1; i <= 200; ++i)
                 block += "  notice: line " + std::to_string(i) + " is ignored: it does not begin with \"-\"\n";
             return block + "  notice: 60 more lines are not listed\n  0 options from it\n";
         }()},
        {"a NUL inside a line", std::string("-Dcut=before\0after\n-Xss1m\n", 26),
         "The init file alder.init\n  line 1: -Dcut=before\n  line 2: -Xss1m\n  2 options from it\n"},
    };
    for (const Case& c : cases) {
        installation_.writeInitFile("alder.init", c.file);
        EXPECT_EQ(Block("The init file"), c.block) << c.name;
    }
}

TEST_F(Check, ProblemsAreCountedAndNamedOnTheLastLine) {
    installation_.writeInitFile("alder.init", "\xEF\xBB\xBF-Xmx1g\n");
    std::filesystem::remove_all(installation_.jarDirectory());
    int exitCode = -1;
    EXPECT_EQ(Block("The jars", &exitCode),
              "The jars in ..\\lib\\util\n  notice: there is no such directory: the boot class path holds no jar\n");
    // The stand-in here is no PE image: no start gets as far as the VM.
    EXPECT_EQ(Block("3 problems"),
              "3 problems: server\\jvm.dll is no Windows library; init file line 1 hides an option behind a "
              "byte-order mark; no jar or folder holds the kernel class\n");
    EXPECT_EQ(exitCode, 1);
}

TEST_F(Check, AFolderTheCodePageCannotNameReadsNothingBelowIt) {
    ScriptedModulePath::SetUnfaithful("C:\\??????\\AlderSvc.exe",
                                      "C:\\\u0421\u0435\u0440\u0432\u0438\u0441\\AlderSvc.exe");
    int exitCode = -1;
    EXPECT_EQ(Block("The program", &exitCode),
              "The program\n  C:\\??????\\AlderSvc.exe, 64-bit (x64)\n  problem: its path has characters that the "
              "system's code page cannot hold, so no server\\jvm.dll can be loaded below it: install the program to a "
              "folder whose name uses only characters of the system's code page\n");
    EXPECT_EQ(Block("The VM library"),
              "The VM library\n  problem: the program's own directory is unknown, so no server\\jvm.dll is looked for "
              "below it\n");
    EXPECT_EQ(Block("2 problems"),
              "2 problems: the program's folder has a name outside the system's code page; no server\\jvm.dll is "
              "looked for\n");
    EXPECT_EQ(exitCode, 1);
}

TEST_F(Check, JudgesTheServiceAndItsEventSourceWithoutChangingThem) {
    const std::string elsewhere = "C:\\Old Halvern\\bin\\AlderSvc.exe";
    struct Case {
        const char* name;
        std::vector<RegisteredService> services;
        std::string messageFile;  // empty: no source
        std::string serviceBlock;
        std::string sourceBlock;
    };
    const std::string here = programPath_;
    const Case cases[] = {
        {"nothing registered",
         {},
         "",
         "The service AlderSvc\n  notice: not installed: the command install registers this program as the service\n",
         "The event source AlderSvc\n  notice: not registered: Event Viewer shows the service's events without "
         "their text; install registers it\n"},
        {"registered here",
         {{"AlderSvc", "Halvern Alder Service", here, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false}},
         here,
         "The service AlderSvc\n  installed: demand start, account LocalSystem\n  its command line names this "
         "program\n",
         "The event source AlderSvc\n  registered for this program\n"},
        {"registered from another folder, disabled, under another account",
         {{"AlderSvc", "Halvern Alder Service", "\"" + elsewhere + "\"", SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
           false, ".\\halvern"}},
         elsewhere,
         "The service AlderSvc\n  problem: installed: disabled, account .\\halvern: the service manager will not "
         "start it\n  problem: its command line names another copy of the program, which the service manager "
         "starts: " +
             elsewhere + "; to start this one, run uninstall, then install from here\n",
         "The event source AlderSvc\n  notice: registered for another copy of this program, whose texts Event "
         "Viewer shows: " +
             elsewhere + "; install from here moves it here\n"},
        {"registered here, automatic, with arguments after the quoted path",
         {{"AlderSvc", "Halvern Alder Service", "\"" + here + "\" -x", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
           false}},
         "C:\\Gone\\Other.dll",
         "The service AlderSvc\n  installed: automatic start, account LocalSystem\n  its command line names this "
         "program\n",
         "The event source AlderSvc\n  notice: registered for a file that is not there, so Event Viewer cannot show "
         "the texts of the service's events: C:\\Gone\\Other.dll; install from here takes it over\n"},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        for (const RegisteredService& service : c.services) FakeServiceManager::AddService(service);
        if (!c.messageFile.empty())
            FakeRegistry::AddKey(kSourceKey, {{"EventMessageFile", FakeRegistry::Text(REG_EXPAND_SZ, c.messageFile)}});
        EXPECT_EQ(Block("The service"), c.serviceBlock) << c.name;
        EXPECT_EQ(Block("The event source"), c.sourceBlock) << c.name;
        // Read only, and every handle closed again.
        for (DWORD rights : FakeServiceManager::QueryConfigCalls()) EXPECT_EQ(rights, DWORD{SERVICE_QUERY_CONFIG});
        for (const auto& call : FakeServiceManager::OpenManagerCalls())
            EXPECT_EQ(call.desiredAccess, DWORD{SC_MANAGER_CONNECT}) << c.name;
        EXPECT_EQ(FakeServiceManager::Services().size(), c.services.size()) << c.name;
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << c.name;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << c.name;
        EXPECT_EQ(FakeRegistry::HasKey(kSourceKey), !c.messageFile.empty()) << c.name;
        EXPECT_EQ(FakeRegistry::OpenKeys(), 0) << c.name;
    }
}

TEST_F(Check, AnUnquotedPathWithABlankIsAProblem) {
    Installation blank("Program Files/Halvern/bin");
    std::string path = blank.windowsPathOf("AlderSvc.exe");
    ScriptedModulePath::Set(path);
    FakeServiceManager::AddService(
        {"AlderSvc", "Halvern Alder Service", path, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false});
    EXPECT_EQ(Block("The service"),
              "The service AlderSvc\n  installed: demand start, account LocalSystem\n  problem: its command line "
              "names this program without quotes, though its path has a blank: the service manager may start another "
              "program first; run uninstall, then install\n");
}

// Laid out below the installation's root: a file's bytes by its path ("lib/util/a.jar", "classes/...").
using Files = std::vector<std::pair<std::string, std::string>>;

std::string Jar(const std::vector<std::string>& entries) { return BuildZip({entries, ""}); }

TEST_F(Check, SaysWhichJarOrFolderHoldsTheKernelClass) {
    const std::string kernelJar = Jar({"META-INF/MANIFEST.MF", kKernelEntry});
    const std::string otherJar = Jar({"META-INF/MANIFEST.MF", "com/halvern/alder/Other.class"});
    const std::string heading = "The kernel class com/halvern/alder/service/ServerKernel\n";
    const std::string fails =
        "  problem: no jar or folder on the class paths holds it, so a start fails with: Cannot locate the Kernel "
        "class\n";
    struct Case {
        const char* name;
        Files files;
        std::string initFile;
        std::string block;  // after the heading
    };
    const Case cases[] = {
        {"the first of two jars that hold it",
         {{"lib/util/a.jar", otherJar}, {"lib/util/b.jar", kernelJar}, {"lib/util/C.jar", kernelJar}},
         "",
         "  ..\\lib\\util\\b.jar (the boot class path) holds it: a start loads it from there\n"
         "  notice: ..\\lib\\util\\C.jar (the boot class path) holds it too: a start loads it from the first, "
         "..\\lib\\util\\b.jar\n"},
        {"no jar", {}, "", fails},
        {"jars without it", {{"lib/util/a.jar", otherJar}, {"lib/util/b.jar", Jar({})}}, "", fails},
        {"a jar cut short, and one that is no zip",
         {{"lib/util/kernel.jar", kernelJar.substr(0, kernelJar.size() / 2)}, {"lib/util/x.jar", "PK"}},
         "",
         "  problem: ..\\lib\\util\\kernel.jar (the boot class path) is not a readable zip: it has no zip directory: "
         "it is no zip, or it is cut short\n  problem: ..\\lib\\util\\x.jar (the boot class path) is not a readable "
         "zip: it has no zip directory: it is no zip, or it is cut short\n" +
             fails},
        {"a folder on the class path",
         {{"classes/com/halvern/alder/service/ServerKernel.class", "class"}},
         "-Djava.class.path=..\\missing;;..\\classes\n",
         "  notice: ..\\missing (the class path) is not there\n"
         "  ..\\classes (the class path) holds it: a start loads it from there\n"},
        {"the last class path option, which wins",
         {{"classes/com/halvern/alder/service/ServerKernel.class", "class"}},
         "-Djava.class.path=..\\classes\n-Djava.class.path=..\\other\n",
         "  notice: ..\\other (the class path) is not there\n" + fails},
        {"the java launcher's options",
         {{"lib/k.jar", kernelJar}},
         "-cp ..\\lib\\k.jar\n--class-path=..\\lib\\k.jar\n-cpx\n",
         "  notice: -cp ..\\lib\\k.jar: not searched: an option of the java launcher, which a VM created here does not "
         "take (its own is -Djava.class.path=)\n  notice: --class-path=..\\lib\\k.jar: not searched: an option of the "
         "java launcher, which a VM created here does not take (its own is -Djava.class.path=)\n" +
             fails},
        // A classic VM puts each -Xbootclasspath/p: before the ones before it,
        // and the start's own comes last: the jar directory's jars come first.
        {"the boot class path options of the init file, after the jar directory's jars",
         {{"lib/util/kernel.jar", kernelJar}, {"lib/first.jar", kernelJar}, {"lib/last.jar", kernelJar}},
         "-Xbootclasspath/a:..\\lib\\last.jar\n-Xbootclasspath/p:..\\lib\\first.jar\n",
         "  ..\\lib\\util\\kernel.jar (the boot class path) holds it: a start loads it from there\n"
         "  notice: ..\\lib\\first.jar (the boot class path) holds it too: a start loads it from the first, "
         "..\\lib\\util\\kernel.jar\n  notice: ..\\lib\\last.jar (the boot class path) holds it too: a start loads it "
         "from the first, ..\\lib\\util\\kernel.jar\n"},
        {"a zip64 jar, which check cannot read",
         {{"lib/util/a.jar", otherJar}, {"lib/big.jar", BuildZip({{kKernelEntry}, "", true})}},
         "-Djava.class.path=..\\lib\\big.jar\n",
         "  notice: ..\\lib\\big.jar (the class path) could not be read: it is a zip64 archive, which check does not "
         "read\n  notice: no jar or folder that check could read holds it; unless one that it could not read does, a "
         "start fails with: Cannot locate the Kernel class\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(installation_.jarDirectory());
        std::filesystem::create_directories(installation_.jarDirectory());
        for (const auto& file : c.files) {
            std::filesystem::create_directories((installation_.root() / file.first).parent_path());
            Installation::WriteFile(installation_.root() / file.first, file.second);
        }
        installation_.writeInitFile("alder.init", c.initFile);
        EXPECT_EQ(Block("The kernel class"), heading + c.block) << c.name;
        for (const auto& file : c.files) std::filesystem::remove(installation_.root() / file.first);
    }
}

// Each kind of problem, on an installation that has no other but its
// stand-in VM, which is no PE image here: every problem line counts toward
// the last line and the exit code.
TEST_F(Check, EveryProblemLineCountsTowardTheLastLineAndTheExitCode) {
    const std::string notPe = "server\\jvm.dll is no Windows library";
    const std::vector<std::string> jniExports = {"JNI_GetDefaultJavaVMInitArgs", "JNI_CreateJavaVM"};
    auto library = [&](const SyntheticImage& image) {
        return [this, image] { Installation::WriteFile(installation_.server() / "jvm.dll", BuildPeImage(image)); };
    };
    auto initFile = [this](const std::string& text) {
        return [this, text] { installation_.writeInitFile("alder.init", text); };
    };
    auto options = [](int count) {
        std::string text;
        for (int i = 1; i <= count; ++i) text += "-Do" + std::to_string(i) + "=1\n";
        return text;
    };
    auto service = [this](const std::string& imagePath, DWORD startType) {
        return [imagePath, startType] {
            FakeServiceManager::AddService(
                {"AlderSvc", "Halvern Alder Service", imagePath, SERVICE_WIN32_OWN_PROCESS, startType, false});
        };
    };
    const std::string tooMany = [&] {
        std::string line = "35 problems: " + notPe;
        for (int i = 51; i <= 81; ++i) line += "; init file line " + std::to_string(i) + " is past the 50th option";
        return line + "; and 3 more";
    }();
    struct Case {
        const char* name;
        std::function<void()> breakage;
        std::string lastLine;
    };
    const Case cases[] = {
        {"nothing more", [] {}, "1 problem: " + notPe},
        {"a jvm.dll of the other bitness", library({0x014c, false, {"KERNEL32.dll"}, jniExports}),
         "1 problem: server\\jvm.dll is not 64-bit"},
        {"no jvm.dll", [this] { std::filesystem::remove(installation_.server() / "jvm.dll"); },
         "1 problem: server\\jvm.dll is missing"},
        {"a jvm.dll without the JNI exports", library({0x8664, true, {}, {"Other"}}),
         "2 problems: server\\jvm.dll has no export JNI_GetDefaultJavaVMInitArgs; server\\jvm.dll has no export "
         "JNI_CreateJavaVM"},
        {"a jvm.dll that needs two missing libraries",
         library({0x8664, true, {"MSVCR100.dll", "halvern-absent.dll"}, jniExports}),
         "2 problems: server\\jvm.dll needs MSVCR100.dll, which is missing; server\\jvm.dll needs halvern-absent.dll, "
         "which is missing"},
        {"a jvm.dll that does not load", library({0x8664, true, {}, jniExports}),
         "1 problem: server\\jvm.dll does not load"},
        {"a byte-order mark hiding an option", initFile("\xEF\xBB\xBF-Xmx1g\n"),
         "2 problems: " + notPe + "; init file line 1 hides an option behind a byte-order mark"},
        {"an option past the 50th", initFile(options(51)),
         "2 problems: " + notPe + "; init file line 51 is past the 50th option"},
        {"a line cut after 511 bytes", initFile("-Da=" + std::string(507, 'y') + "-Dsneaky=1\n"),
         "3 problems: " + notPe +
             "; init file line 1 is cut after 511 bytes; init file line 1 makes an option of its bytes past the 511th"},
        {"more problems than the last line names", initFile(options(84)), tooMany},
        {"no jar", [this] { std::filesystem::remove(installation_.jarDirectory() / "kernel.jar"); },
         "2 problems: " + notPe + "; no jar or folder holds the kernel class"},
        {"a jar that is no zip", [this] { installation_.addJar("kernel.jar"); },
         "3 problems: " + notPe +
             "; ..\\lib\\util\\kernel.jar is not a readable zip; no jar or folder holds the kernel "
             "class"},
        {"a disabled service", service(programPath_, SERVICE_DISABLED),
         "2 problems: the service is disabled; " + notPe},
        {"a service that starts another copy", service("\"C:\\Old\\AlderSvc.exe\"", SERVICE_DEMAND_START),
         "2 problems: the service starts another copy of the program; " + notPe},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        installation_.installStandinVm();
        installation_.addJar("kernel.jar", {kKernelEntry});
        std::filesystem::remove(installation_.bin() / "alder.init");
        c.breakage();
        int exitCode = -1;
        std::string report = Report(&exitCode);
        size_t problemLines = 0;
        for (size_t at = report.find("\n  problem: "); at != std::string::npos;
             at = report.find("\n  problem: ", at + 1))
            ++problemLines;
        std::string lastLine = report.substr(report.rfind('\n', report.size() - 2) + 1);
        EXPECT_EQ(lastLine, c.lastLine + "\n") << c.name;
        EXPECT_EQ(std::to_string(problemLines), c.lastLine.substr(0, c.lastLine.find(' '))) << c.name;
        EXPECT_EQ(exitCode, 1) << c.name;
    }
}

}  // namespace
