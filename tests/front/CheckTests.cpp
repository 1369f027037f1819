// The check's report, in-process: what it says of init files, of the
// service as the recording service manager holds it, and of the event
// source in the fake registry; and that it changes none of them.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Check.h"
#include "FakeRegistry.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "ScriptedModulePath.h"
#include "SyntheticImage.h"

namespace {

using FakeServiceManager::RegisteredService;

const char kSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\AlderSvc";

class Check : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        installation_.installStandinVm();
        installation_.addJar("kernel.jar");
        programPath_ = installation_.windowsPathOf("AlderSvc.exe");
        ScriptedModulePath::Set(programPath_);
    }
    void TearDown() override { ScriptedModulePath::Reset(); }

    // The block of the report whose heading begins with `heading`, and the exit code.
    std::string Block(const std::string& heading, int* exitCode = nullptr) {
        ::testing::internal::CaptureStdout();
        int code = RunCheck();
        std::string report = ::testing::internal::GetCapturedStdout();
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
        {"lines of 509 to 512 bytes, each followed by another",
         [] {
             std::string file;
             for (int length : {509, 510, 511, 512})
                 file += "-D" + std::string(length - 2, 'w') + "\n-Dnext=" + std::to_string(length) + "\n";
             return file;
         }(),
         "The init file alder.init\n  line 1: -D" + std::string(507, 'w') + "\n  line 2: -Dnext=509\n  line 3: -D" +
             std::string(508, 'w') + "\n  line 4: -Dnext=510\n  line 5: -D" + std::string(509, 'w') +
             "\n  line 6: -Dnext=511\n  problem: line 7 is longer than 511 bytes: the start takes its first 511 as "
             "the option -D" +
             std::string(509, 'w') +
             ", and the rest as lines of their own\n  line 8: -Dnext=512\n  8 options from it\n"},
        {"saved as UTF-16 with its byte-order mark",
         "\xFF\xFE" + Installation::Utf16("-Xmx2g\r\n\r\nfree text\r\n-Dsecret.token=abc\r\n"),
         "The init file alder.init\n  problem: alder.init is saved as UTF-16: a start reads none of its 4 lines; save "
         "it as ANSI, e.g. `Set-Content -Encoding Default`\n  line 1 would be: -Xmx2g\n  line 3 would be: free "
         "text\n  line 4 would be: -Dsecret.token=****\n  0 options from it\n"},
        // Without a mark, its first line begins with "-" and a NUL.
        {"saved as UTF-16 without one",
         Installation::Utf16("-Dsite=Donn\xE9"
                             "es"),
         "The init file alder.init\n  problem: alder.init is saved as UTF-16: a start reads none of its 1 line; save "
         "it as ANSI, e.g. `Set-Content -Encoding Default`\n  line 1 would be: -Dsite=Donn\xC3\xA9"
         "es\n  0 options "
         "from it\n"},
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
              "The jars in ..\\lib\\util\n  problem: there is no such directory: the boot class path holds no jar\n");
    // The stand-in here is no PE image: no start gets as far as the VM.
    EXPECT_EQ(Block("3 problems"),
              "3 problems: server\\jvm.dll is no Windows library; init file line 1 hides an option behind a "
              "byte-order mark; the jar directory is missing\n");
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
    // 10 s: the default of current Windows, for a service not registered by this install.
    const char* const kShortTimeOut =
        "  notice: before a reboot, the service manager waits only 10 s for the kernel's stop (its preshutdown "
        "time-out), then ends it: run uninstall, then install, which sets 3 minutes\n";
    const Case cases[] = {
        {"nothing registered",
         {},
         "",
         "The service AlderSvc\n  notice: not installed: the command install registers this program as the service\n",
         "The event source AlderSvc\n  notice: not registered: Event Viewer shows the service's events without "
         "their text; install registers it\n"},
        {"registered here",
         {{"AlderSvc", "Halvern Alder Service", here, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false,
           "LocalSystem", 180000}},
         here,
         "The service AlderSvc\n  installed: demand start, account LocalSystem\n  its command line names this "
         "program\n  before a reboot, the service manager waits up to 3 minutes for the kernel's stop (its "
         "preshutdown time-out)\n",
         "The event source AlderSvc\n  registered for this program\n"},
        {"registered from another folder, disabled, under another account",
         {{"AlderSvc", "Halvern Alder Service", "\"" + elsewhere + "\"", SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
           false, ".\\halvern"}},
         elsewhere,
         "The service AlderSvc\n  problem: installed: disabled, account .\\halvern: the service manager will not "
         "start it\n  problem: its command line names another copy of the program, which the service manager "
         "starts: " +
             elsewhere + "; to start this one, run uninstall, then install from here\n" + kShortTimeOut,
         "The event source AlderSvc\n  notice: registered for another copy of this program, whose texts Event "
         "Viewer shows: " +
             elsewhere + "; install from here moves it here\n"},
        {"registered here, automatic, with arguments after the quoted path",
         {{"AlderSvc", "Halvern Alder Service", "\"" + here + "\" -x", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
           false}},
         "C:\\Gone\\Other.dll",
         "The service AlderSvc\n  installed: automatic start, account LocalSystem\n  its command line names this "
         "program\n" +
             std::string(kShortTimeOut),
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
              "program first; run uninstall, then install\n  notice: before a reboot, the service manager waits only "
              "10 s for the kernel's stop (its preshutdown time-out), then ends it: run uninstall, then install, which "
              "sets 3 minutes\n");
}

// A time-out the service manager will not tell is a notice.
TEST_F(Check, SaysWhenThePreshutdownTimeOutCannotBeRead) {
    FakeServiceManager::AddService(
        {"AlderSvc", "Halvern Alder Service", programPath_, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false});
    FakeServiceManager::Refuse(FakeServiceManager::Call::QueryConfig2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Block("The service"),
              "The service AlderSvc\n  installed: demand start, account LocalSystem\n  its command line names this "
              "program\n  notice: its preshutdown time-out could not be read: QueryServiceConfig2A failed: Windows "
              "error 5: Access is denied.\n");
}

// A library that only this process finds, in its current folder or on its
// PATH, is named with where it lies: the service will not find it there.
TEST_F(Check, NamesTheLibrariesTheServiceWillNotFind) {
    const std::filesystem::path user = installation_.root() / "user";
    const std::filesystem::path current = installation_.root() / "current";
    std::filesystem::create_directories(user);
    std::filesystem::create_directories(current);
    Installation::WriteFile(user / "halvern-user.dll", "");
    Installation::WriteFile(current / "halvern-here.dll", "");
    Installation::WriteFile(installation_.bin() / "halvern-beside.dll", "");
    SyntheticImage image;
    image.imports = {"halvern-beside.dll", "halvern-here.dll", "halvern-user.dll", "msvcr100.dll"};
    image.exports = {"JNI_GetDefaultJavaVMInitArgs", "JNI_CreateJavaVM"};
    Installation::WriteFile(installation_.server() / "jvm.dll", BuildPeImage(image));
    const std::string savedPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (user.string() + ":" + savedPath).c_str(), 1);
    ASSERT_EQ(chdir(current.c_str()), 0);
    int exitCode = -1;
    EXPECT_EQ(Block("The VM library", &exitCode),
              "The VM library\n  " + installation_.moduleDirectory() +
                  "\\server\\jvm.dll\n  64-bit (x64), as this program\n  exports JNI_GetDefaultJavaVMInitArgs and "
                  "JNI_CreateJavaVM\n  problem: it needs halvern-here.dll, found only in " +
                  Installation::WindowsForm(std::filesystem::canonical(current).string()) +
                  ", which is your current folder but not the service's\n  problem: it needs halvern-user.dll, found "
                  "only in " +
                  Installation::WindowsForm(user.string()) +
                  ", which is on your PATH but not the service's\n  problem: it needs msvcr100.dll, which the loader "
                  "cannot find: it comes with the Visual C++ 2010 Redistributable\n");
    EXPECT_EQ(exitCode, 1);
    setenv("PATH", savedPath.c_str(), 1);
}

// The options that hand the process to others, from the init file and from
// the service's environment (the system's, and the service's own, which
// wins), each shown masked. The stand-in here tells no VM generation, so a
// debugger on a port alone is judged for either.
TEST_F(Check, NamesTheOptionsThatHandTheProcessToOthers) {
    const char kSystemEnvironment[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\AlderSvc";
    const std::string exposed =
        ": anyone who can reach it can run code as LocalSystem; let it listen on 127.0.0.1 only, or remove it";
    const std::string jmx =
        "problem: JMX takes connections on port 9010 without authentication "
        "(com.sun.management.jmxremote.authenticate=false): anyone who can reach it can run code as LocalSystem; "
        "remove that option, or the port";
    struct Case {
        const char* name;
        std::string initFile;
        std::string systemToolOptions;                // JAVA_TOOL_OPTIONS there; "" for none
        std::vector<std::string> serviceEnvironment;  // the entries of the service's Environment list
        std::vector<std::string> findings;
    };
    const Case cases[] = {
        {"debuggers, those beyond loopback named",
         "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=*:5005\n"
         "-agentlib:jdwp=transport=dt_socket,server=y,address=127.0.0.1:5006\n"
         "-Xrunjdwp:transport=dt_socket,server=y,address=10.0.0.5:8000\n"
         "-agentlib:jdwp=transport=dt_socket,server=y,address=localhost:5007\n"
         "-agentlib:jdwp=transport=dt_socket,server=n,address=*:5008\n"
         "-agentlib:jdwp=transport=dt_shmem,server=y,address=alder\n"
         "-agentlib:jdwp=transport=dt_socket,server=y,address=5005\n",
         "",
         {},
         {"problem: -agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=*:5005 listens for a debugger on "
          "every network interface" +
              exposed,
          "problem: -Xrunjdwp:transport=dt_socket,server=y,address=10.0.0.5:8000 listens for a debugger on an "
          "address that is not loopback" +
              exposed,
          "problem: -agentlib:jdwp=transport=dt_socket,server=y,address=5005 listens for a debugger on every network "
          "interface if the VM is Java 8 or earlier (Java 9 and later take a port alone as loopback)" +
              exposed}},
        {"JMX without authentication, the last word winning",
         "-Dcom.sun.management.jmxremote.port=9010\n-Dcom.sun.management.jmxremote.authenticate=true\n"
         "-Dcom.sun.management.jmxremote.authenticate=false\n",
         "",
         {},
         {jmx}},
        {"JMX without authentication, but on no port",
         "-Dcom.sun.management.jmxremote.authenticate=false\n",
         "",
         {},
         {}},
        {"commands the VM runs",
         "-XX:OnError=notify.cmd token=abcd;x\n-XX:OnOutOfMemoryError=restart.cmd\n",
         "",
         {},
         {"notice: -XX:OnError=notify.cmd token=****;x: its commands run as LocalSystem when the VM fails",
          "notice: -XX:OnOutOfMemoryError=restart.cmd: its commands run as LocalSystem when the VM runs out of "
          "memory"}},
        {"the system environment's options, quoted parts whole",
         "-Dcom.sun.management.jmxremote.authenticate=false\n",
         "  -Dcom.sun.management.jmxremote.port=9010 -Dapi.key=k123\t'-XX:OnError=cmd /c x.cmd'  ",
         {},
         {"notice: JAVA_TOOL_OPTIONS is set in the system environment, and the VM reads its options too: "
          "-Dcom.sun.management.jmxremote.port=9010 -Dapi.key=**** -XX:OnError=cmd /c x.cmd",
          "notice: -XX:OnError=cmd /c x.cmd: its commands run as LocalSystem when the VM fails", jmx}},
        {"the service's own environment replaces the system's, and _JAVA_OPTIONS comes last",
         "-Dcom.sun.management.jmxremote.authenticate=false\n-Dcom.sun.management.jmxremote.port=9010\n",
         "-Dfrom=system",
         {"PATH=C:\\x", "java_tool_options=-Dfrom=service",
          "_JAVA_OPTIONS=-agentlib:jdwp=transport=dt_socket,server=y,address=0.0.0.0:8000 "
          "-Dcom.sun.management.jmxremote.authenticate=true"},
         {"notice: JAVA_TOOL_OPTIONS is set in the system environment, but the service's own environment sets it "
          "anew: -Dfrom=system",
          "notice: JAVA_TOOL_OPTIONS is set in the service's own environment, and the VM reads its options too: "
          "-Dfrom=service",
          "notice: _JAVA_OPTIONS is set in the service's own environment, and the VM reads its options too: "
          "-agentlib:jdwp=transport=dt_socket,server=y,address=0.0.0.0:8000 "
          "-Dcom.sun.management.jmxremote.authenticate=true",
          "problem: -agentlib:jdwp=transport=dt_socket,server=y,address=0.0.0.0:8000 listens for a debugger on every "
          "network interface" +
              exposed}},
    };
    auto findingsOf = [this] {
        std::vector<std::string> findings;
        std::istringstream block(Block("The options the start hands to the VM"));
        for (std::string line; std::getline(block, line);)
            if (line.rfind("  problem: ", 0) == 0 ||
                (line.rfind("  notice: ", 0) == 0 && line.find("the start ends") == std::string::npos))
                findings.push_back(line.substr(2));
        return findings;
    };
    for (const Case& c : cases) {
        FakeRegistry::Reset();
        if (!c.systemToolOptions.empty())
            FakeRegistry::AddKey(kSystemEnvironment,
                                 {{"JAVA_TOOL_OPTIONS", FakeRegistry::Text(REG_SZ, c.systemToolOptions)}});
        if (!c.serviceEnvironment.empty()) {
            std::string list;
            for (const std::string& entry : c.serviceEnvironment) list += entry + '\0';
            FakeRegistry::AddKey(kServiceKey, {{"Environment", {REG_MULTI_SZ, list + '\0'}}});
        }
        installation_.writeInitFile("alder.init", c.initFile);
        EXPECT_EQ(findingsOf(), c.findings) << c.name;
        EXPECT_EQ(FakeRegistry::OpenKeys(), 0) << c.name;
    }
    FakeRegistry::Reset();
    installation_.writeInitFile("alder.init",
                                "-agentlib:jdwp=transport=dt_socket,server=y,address=*:5005\n"
                                "-Dcom.sun.management.jmxremote.port=9010\n"
                                "-Dcom.sun.management.jmxremote.authenticate=false\n");
    EXPECT_EQ(Block("3 problems"),
              "3 problems: server\\jvm.dll is no Windows library; a debugger agent listens beyond this machine; JMX "
              "takes connections without authentication\n");
    // What cannot be read is not called clean.
    FakeRegistry::Reset();
    FakeRegistry::Refuse(FakeRegistry::Call::OpenKey, ERROR_ACCESS_DENIED);
    installation_.writeInitFile("alder.init", "");
    EXPECT_EQ(findingsOf(), (std::vector<std::string>{
                                "notice: the service's environment could not be read, so the options the VM may take "
                                "from it are not shown: Windows error 5: Access is denied.",
                                "notice: the system environment could not be read, so the options the VM may take "
                                "from it are not shown: Windows error 5: Access is denied."}));
}

void LetOthersWrite(const std::filesystem::path& path) {
    std::filesystem::permissions(path, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
}

// Whatever others can change is a problem of its own, named on the last line.
TEST_F(Check, NamesEachPartOthersCanChange) {
    installation_.writeInitFile("alder.init", "-Xmx64m\n");
    const std::string init = Installation::WindowsForm((installation_.bin() / "alder.init").string());
    const std::string util = Installation::WindowsForm(installation_.jarDirectory().string());
    EXPECT_EQ(Block("The permissions"),
              "The permissions of the installation\n  only SYSTEM, the administrators and the service itself can "
              "change the 10 files and folders a start reads or runs\n");

    LetOthersWrite(installation_.bin() / "alder.init");
    LetOthersWrite(installation_.jarDirectory());
    int exitCode = -1;
    EXPECT_EQ(Block("The permissions", &exitCode),
              "The permissions of the installation\n  problem: Everyone can modify " + init +
                  ": any of them can run code as LocalSystem\n  problem: Everyone can modify " + util +
                  ": any of them can run code as LocalSystem\n  others can change 2 of the 10 files and folders a "
                  "start reads or runs; only SYSTEM, the administrators and the service itself should be able to\n");
    // The stand-in here is no PE image.
    EXPECT_EQ(Block("3 problems"),
              "3 problems: others can change the init file; others can change ..\\lib\\util; server\\jvm.dll is no "
              "Windows library\n");
    EXPECT_EQ(exitCode, 1);
}

// A library others can change would run their code as whoever runs the
// check: it is read from its headers only.
TEST_F(Check, DoesNotLoadAVmLibraryOthersCanChange) {
    SyntheticImage image;
    image.exports = {"JNI_GetDefaultJavaVMInitArgs", "JNI_CreateJavaVM"};
    const std::filesystem::path library = installation_.server() / "jvm.dll";
    Installation::WriteFile(library, BuildPeImage(image));
    const std::string headerLines = "The VM library\n  " + installation_.moduleDirectory() +
                                    "\\server\\jvm.dll\n  64-bit (x64), as this program\n  exports "
                                    "JNI_GetDefaultJavaVMInitArgs and JNI_CreateJavaVM\n  the loader finds every "
                                    "library it imports\n";
    const std::string notAsked =
        "  notice: not loaded, so not asked whether it is a classic or a modular VM: others can change it or a "
        "folder on its way (see the permissions of the installation), and loading it would run their code as you\n";
    const auto beginsWith = [](const std::string& text, const std::string& start) {
        return text.compare(0, start.size(), start) == 0;
    };
    // Others may write neither: it is loaded, and, no PE loader here, fails to.
    std::string block = Block("The VM library");
    EXPECT_TRUE(beginsWith(block, headerLines + "  problem: it does not load: ")) << block;
    for (const std::filesystem::path& changeable : {library, installation_.server()}) {
        LetOthersWrite(changeable);
        EXPECT_EQ(Block("The VM library"), headerLines + notAsked) << changeable;
        block = Block("The options");
        EXPECT_TRUE(beginsWith(block,
                               "The options the start hands to the VM\n  notice: the VM library was not asked its "
                               "generation (see the VM library); shown as for a classic VM\n  -Dapplication.home"))
            << block;
        std::filesystem::permissions(changeable, std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }
}

}  // namespace
