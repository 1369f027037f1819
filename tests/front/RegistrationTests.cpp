// "install" and "uninstall" against the recording service manager: what is
// registered, with which rights, and the one line each outcome prints.
// Built once per profile under test.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "EventSource.h"
#include "FailingAllocator.h"
#include "FakeRegistry.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "ProgramTexts.h"
#include "Registration.h"
#include "ScriptedModulePath.h"

namespace {

using FakeServiceManager::Call;
using FakeServiceManager::RegisteredService;

const char* const kProgramPath = "C:\\Halvern\\bin\\Program.exe";

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        ScriptedModulePath::Set(kProgramPath);
    }
    void TearDown() override {
        ScriptedModulePath::Reset();
        FailingAllocator::Disarm();
    }

    struct Outcome {
        std::string output;
        std::string errors;
        DWORD exitCode;
    };

    static Outcome Run(DWORD (*command)()) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        Outcome outcome;
        outcome.exitCode = command();
        outcome.errors = ::testing::internal::GetCapturedStderr();
        outcome.output = ::testing::internal::GetCapturedStdout();
        return outcome;
    }

    static RegisteredService Existing(const char* path, bool markedForDeletion) {
        return {ProgramUnderTest().serviceName, ProgramUnderTest().displayName, path,
                SERVICE_WIN32_OWN_PROCESS,      SERVICE_DEMAND_START,           markedForDeletion};
    }
};

void ExpectText(const FakeServiceManager::TextArgument& argument, const std::string& text, const char* what) {
    EXPECT_FALSE(argument.isNull) << what;
    EXPECT_EQ(argument.text, text) << what;
}

TEST_F(Registration, RegistersTheRunningProgramAsADemandStartServiceUnderLocalSystem) {
    struct Case {
        std::string modulePath;
        std::string registeredPath;
    };
    const Case cases[] = {
        {"C:\\Halvern\\bin\\AlderSvc.exe", "C:\\Halvern\\bin\\AlderSvc.exe"},
        // Unquoted, the manager would try C:\Program.exe first.
        {"C:\\Program Files\\Halvern\\bin\\AlderSvc.exe", "\"C:\\Program Files\\Halvern\\bin\\AlderSvc.exe\""},
        {"D:\\Apps\\Halvern Server 7\\bin\\x.exe", "\"D:\\Apps\\Halvern Server 7\\bin\\x.exe\""},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        ScriptedModulePath::Set(c.modulePath);
        EXPECT_EQ(Run(InstallService).output, "Service registration successful\n") << c.modulePath;

        auto managers = FakeServiceManager::OpenManagerCalls();
        ASSERT_EQ(managers.size(), 1u);
        EXPECT_TRUE(managers[0].machineName.isNull);
        EXPECT_TRUE(managers[0].databaseName.isNull);
        EXPECT_EQ(managers[0].desiredAccess, 0xF003Fu);

        auto creates = FakeServiceManager::CreateServiceCalls();
        ASSERT_EQ(creates.size(), 1u);
        const auto& create = creates[0];
        EXPECT_TRUE(create.validManager);
        ExpectText(create.serviceName, ProgramUnderTest().serviceName, "service name");
        ExpectText(create.displayName, ProgramUnderTest().displayName, "display name");
        EXPECT_EQ(create.desiredAccess, 0xF01FFu);
        EXPECT_EQ(create.serviceType, 0x10u);
        EXPECT_EQ(create.startType, 3u);
        EXPECT_EQ(create.errorControl, 1u);
        ExpectText(create.binaryPathName, c.registeredPath, "binary path");
        EXPECT_TRUE(create.loadOrderGroup.isNull);
        EXPECT_FALSE(create.tagIdRequested);
        EXPECT_TRUE(create.dependencies.isNull);
        EXPECT_TRUE(create.serviceStartName.isNull) << "LocalSystem";
        EXPECT_TRUE(create.password.isNull);
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << "the new service's handle is closed";
    }
}

// Each outcome prints its one line on standard output; a failure also
// names the failed call on standard error and exits with its error.
TEST_F(Registration, EachOutcomePrintsItsLineAndExitsWithTheErrorOfTheFailedCall) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        DWORD (*command)();
        const char* output;
        int servicesAfter;
        DWORD exitCode;
        const char* errors;
    };
    const auto addOwn = [] { FakeServiceManager::AddService(Existing(kProgramPath, false)); };
    const Case cases[] = {
        {"install, no right to the database",
         [] { FakeServiceManager::Refuse(Call::OpenManager, ERROR_ACCESS_DENIED); }, InstallService,
         "Error opening service control manager\n", 0, 5, "OpenSCManagerA failed with error 5: Access is denied.\n"},
        {"install", [] {}, InstallService, "Service registration successful\n", 1, 0, ""},
        {"install, refused", [] { FakeServiceManager::Refuse(Call::CreateService, ERROR_ACCESS_DENIED); },
         InstallService, "Error registering service\n", 0, 5,
         "CreateServiceA failed with error 5: Access is denied.\n"},
        {"install, name taken", [] { FakeServiceManager::AddService(Existing("C:\\Old\\Svc.exe", false)); },
         InstallService, "Error registering service\n", 1, 1073,
         "CreateServiceA failed with error 1073: The specified service already exists.\n"},
        {"install, old one marked for deletion",
         [] { FakeServiceManager::AddService(Existing("C:\\Old\\Svc.exe", true)); }, InstallService,
         "Error registering service\n", 1, 1072,
         "CreateServiceA failed with error 1072: The specified service has been marked for deletion.\n"},
        {"uninstall, no right to the database",
         [addOwn] {
             addOwn();
             FakeServiceManager::Refuse(Call::OpenManager, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error opening service control manager\n", 1, 5,
         "OpenSCManagerA failed with error 5: Access is denied.\n"},
        {"uninstall", addOwn, UninstallService, "Service unregistration successful\n", 0, 0, ""},
        {"uninstall, not registered", [] {}, UninstallService, "Error opening service\n", 0, 1060,
         "OpenServiceA failed with error 1060: The specified service does not exist as an installed service.\n"},
        {"uninstall, no right to the service",
         [addOwn] {
             addOwn();
             FakeServiceManager::Refuse(Call::OpenService, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error opening service\n", 1, 5, "OpenServiceA failed with error 5: Access is denied.\n"},
        {"uninstall, refused",
         [addOwn] {
             addOwn();
             FakeServiceManager::Refuse(Call::DeleteService, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error deleting service\n", 1, 5, "DeleteService failed with error 5: Access is denied.\n"},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        c.arrange();
        Outcome outcome = Run(c.command);
        EXPECT_EQ(outcome.output, c.output) << c.what;
        EXPECT_EQ(outcome.errors, c.errors) << c.what;
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(FakeServiceManager::Services().size(), static_cast<size_t>(c.servicesAfter)) << c.what;
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << c.what;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << c.what;
    }
}

// install gives the new service 3 minutes to stop before a reboot and a SID
// of its own. Either may fail (a Windows without service SIDs, a policy)
// without touching the registration, its line or its exit code; a time-out
// left short is worth one line on standard error.
TEST_F(Registration, InstallSetsThePreshutdownTimeOutAndAServiceSidAsBestItCan) {
    const std::string shortTimeOut =
        "The service's preshutdown time-out is not set to 3 minutes, so a reboot may cut the kernel's stop short: "
        "ChangeServiceConfig2A failed with error 5: Access is denied.\n";
    struct Case {
        const char* what;
        std::vector<Call> refused;
        std::string errors;
        DWORD preshutdownTimeout;
        DWORD sidType;
    };
    const Case cases[] = {
        {"both set", {}, "", 180000, SERVICE_SID_TYPE_UNRESTRICTED},
        {"time-out refused", {Call::ChangePreshutdownInfo}, shortTimeOut, 10000, SERVICE_SID_TYPE_UNRESTRICTED},
        {"SID refused", {Call::ChangeSidInfo}, "", 180000, SERVICE_SID_TYPE_NONE},
        {"both refused",
         {Call::ChangePreshutdownInfo, Call::ChangeSidInfo},
         shortTimeOut,
         10000,
         SERVICE_SID_TYPE_NONE},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        for (Call call : c.refused) FakeServiceManager::Refuse(call, ERROR_ACCESS_DENIED);
        Outcome outcome = Run(InstallService);
        EXPECT_EQ(outcome.output, "Service registration successful\n") << c.what;
        EXPECT_EQ(outcome.errors, c.errors) << c.what;
        EXPECT_EQ(outcome.exitCode, 0u) << c.what;

        auto changes = FakeServiceManager::ConfigChanges();
        ASSERT_EQ(changes.size(), 2u) << c.what;
        for (const auto& change : changes) EXPECT_EQ(change.handleRights, 0xF01FFu) << "the new service's handle";
        EXPECT_EQ(changes[0].infoLevel, 7u);
        EXPECT_EQ(changes[0].value, 180000u);
        EXPECT_EQ(changes[1].infoLevel, 5u);
        EXPECT_EQ(changes[1].value, 1u);
        auto services = FakeServiceManager::Services();
        ASSERT_EQ(services.size(), 1u) << c.what;
        EXPECT_EQ(services[0].preshutdownTimeout, c.preshutdownTimeout) << c.what;
        EXPECT_EQ(services[0].sidType, c.sidType) << c.what;
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << c.what;
    }
}

TEST_F(Registration, SecondInstallLeavesTheFirstRegistrationAsItWas) {
    EXPECT_EQ(Run(InstallService).output, "Service registration successful\n");
    ScriptedModulePath::Set("C:\\Elsewhere\\Program.exe");
    EXPECT_EQ(Run(InstallService).output, "Error registering service\n");
    auto services = FakeServiceManager::Services();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].binaryPathName, kProgramPath);
}

TEST_F(Registration, UninstallOpensTheOwnServiceForDeletionOnly) {
    FakeServiceManager::AddService(Existing(kProgramPath, false));
    EXPECT_EQ(Run(UninstallService).output, "Service unregistration successful\n");
    auto opens = FakeServiceManager::OpenServiceCalls();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_TRUE(opens[0].validManager);
    ExpectText(opens[0].serviceName, ProgramUnderTest().serviceName, "service name");
    EXPECT_EQ(opens[0].desiredAccess, 0x10000u);
    EXPECT_EQ(FakeServiceManager::DeleteServiceCalls(), 1);
}

// A service still running after its first uninstall is marked for deletion;
// a second uninstall finds it but cannot delete it again.
TEST_F(Registration, SecondUninstallOfAServiceStillRunning) {
    FakeServiceManager::AddService(Existing(kProgramPath, true));
    Outcome outcome = Run(UninstallService);
    EXPECT_EQ(outcome.output, "Error deleting service\n");
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
}

// The program path is read into a first buffer of 256 bytes, and the
// command line needs the path's length plus quotes and a NUL.
TEST_F(Registration, NoMemoryForTheProgramPathRegistersNothing) {
    static size_t failingSize;
    for (size_t size : {size_t{256}, strlen(kProgramPath) + 3}) {
        FakeServiceManager::Reset();
        failingSize = size;
        auto installShortOfMemory = []() -> DWORD {
            FailingAllocator::FailAllocationsOf(failingSize);
            DWORD error = InstallService();
            FailingAllocator::Disarm();
            return error;
        };
        Outcome outcome = Run(installShortOfMemory);
        EXPECT_EQ(outcome.output, "Error registering service\n") << failingSize;
        EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << failingSize;
        EXPECT_TRUE(FakeServiceManager::CreateServiceCalls().empty()) << failingSize;
        EXPECT_TRUE(FakeServiceManager::Services().empty()) << failingSize;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << failingSize;
    }
}

// A folder the ANSI code page cannot name: Windows gives the program's path
// with '?' in place of the characters it lacks, a path that names no file.
// install refuses before it touches the service manager or the registry.
TEST_F(Registration, InstallFromAFolderTheCodePageCannotNameRegistersNothing) {
    struct Case {
        const char* ansiPath;
        const char* widePath;
    };
    const Case cases[] = {
        {"C:\\??????\\bin\\AlderSvc.exe", "C:\\\u0421\u0435\u0440\u0432\u0438\u0441\\bin\\AlderSvc.exe"},
        // A best fit: the character became a similar one the code page has.
        {"C:\\Halvern\\Cesky\\AlderSvc.exe", "C:\\Halvern\\\u010Cesky\\AlderSvc.exe"},
        {"C:\\Halvern\\bin\\Alder?.exe", "C:\\Halvern\\bin\\Alder\u2603.exe"},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        ScriptedModulePath::SetUnfaithful(c.ansiPath, c.widePath);
        Outcome outcome = Run(InstallService);
        EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)) << c.ansiPath;
        EXPECT_EQ(outcome.output, "Error registering service\n") << c.ansiPath;
        EXPECT_EQ(outcome.errors, std::string("Cannot register ") + c.ansiPath +
                                      ": its path has characters that the system's code page cannot hold. Install "
                                      "the program to a folder whose name uses only characters of the system's "
                                      "code page.\n")
            << c.ansiPath;
        EXPECT_TRUE(FakeServiceManager::OpenManagerCalls().empty()) << c.ansiPath;
        EXPECT_TRUE(FakeServiceManager::Services().empty()) << c.ansiPath;
        EXPECT_FALSE(FakeRegistry::HasKey(std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") +
                                          ProgramUnderTest().serviceName))
            << c.ansiPath;
    }
    // The same path in both forms is registered as ever, whatever its characters.
    FakeServiceManager::Reset();
    ScriptedModulePath::SetUnfaithful("C:\\\u0421\\AlderSvc.exe", "C:\\\u0421\\AlderSvc.exe");
    EXPECT_EQ(Run(InstallService).exitCode, 0u);
    EXPECT_EQ(FakeServiceManager::Services().size(), 1u);
}

// ------------------------------------------------------------ the event source

std::string SourceKey() {
    return std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + ProgramUnderTest().serviceName;
}

std::map<std::string, FakeRegistry::Value> SourceValues(const std::string& messageFile) {
    return {{"EventMessageFile", FakeRegistry::Text(REG_EXPAND_SZ, messageFile)},
            {"CategoryMessageFile", FakeRegistry::Text(REG_EXPAND_SZ, messageFile)},
            {"CategoryCount", FakeRegistry::Number(1)},
            {"TypesSupported", FakeRegistry::Number(7)}};
}

// Files that exist, named in Windows form: another program's message file,
// and this program as an earlier installation left it in another folder.
struct MessageFiles {
    Installation tree;
    std::string other = Made("Other/Product.exe");
    std::string earlier = Made("Old/bin/" + std::string(strrchr(kProgramPath, '\\') + 1));
    std::string gone = Installation::WindowsForm((tree.root() / "Removed" / "Product.exe").string());

    std::string Made(const std::string& relative) {
        std::filesystem::create_directories((tree.root() / relative).parent_path());
        Installation::WriteFile(tree.root() / relative, "MZ");
        return Installation::WindowsForm((tree.root() / relative).string());
    }
};

// Ours when it names this program's file name, wherever; nobody's when the
// files it names are gone; another program's when one of them is there,
// or when it cannot be told.
TEST_F(Registration, EventSourceIsJudgedByTheFilesItNames) {
    MessageFiles files;
    setenv("HALVERN_MESSAGE_DIR", files.tree.root().c_str(), 1);
    struct Case {
        const char* what;
        const char* messageFile;
        bool expandable;
        EventSourceOwner owner;
    };
    const std::string otherInVariable = "%halvern_message_dir%/Other/Product.exe";
    const std::string goneInVariable = "%HALVERN_MESSAGE_DIR%\\Removed\\Product.exe";
    const std::string goneThenEarlier = " " + files.gone + " ; " + files.earlier + ";";
    const std::string goneThenOther = files.gone + ";" + files.other;
    const Case cases[] = {
        {"this program", kProgramPath, false, EventSourceOfThisProgram},
        {"an earlier installation, still there", files.earlier.c_str(), false, EventSourceOfThisProgram},
        {"an earlier installation, moved away", "D:\\Gone\\Program.exe", false, EventSourceOfThisProgram},
        {"another program, removed", files.gone.c_str(), false, EventSourceOfNoProgram},
        {"no message file", nullptr, false, EventSourceOfNoProgram},
        {"an empty one", " ; ", false, EventSourceOfNoProgram},
        {"another program", files.other.c_str(), false, EventSourceOfAnotherProgram},
        {"another program, through a variable", otherInVariable.c_str(), true, EventSourceOfAnotherProgram},
        {"a removed one, through a variable", goneInVariable.c_str(), true, EventSourceOfNoProgram},
        {"a variable in plain text is no path", goneInVariable.c_str(), false, EventSourceOfAnotherProgram},
        {"a bare name, found along the search path", "Product.dll", false, EventSourceOfAnotherProgram},
        {"a list: gone, then this program", goneThenEarlier.c_str(), false, EventSourceOfThisProgram},
        {"a list: gone, then another program", goneThenOther.c_str(), false, EventSourceOfAnotherProgram},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeEventSource(c.messageFile, c.expandable, kProgramPath), c.owner) << c.what;
    unsetenv("HALVERN_MESSAGE_DIR");
}

// install makes the program the source of its service's events, unless
// another program's existing file is; uninstall removes any but such.
TEST_F(Registration, InstallRegistersTheEventSourceAndUninstallRemovesOnlyItsOwn) {
    MessageFiles files;
    const std::string otherFile = files.other;
    struct Case {
        const char* what;
        std::function<void()> arrange;
        DWORD (*command)();
        std::map<std::string, FakeRegistry::Value> valuesAfter;  // empty: no key
        const char* errors;
    };
    const auto addOwnService = [] { FakeServiceManager::AddService(Existing(kProgramPath, false)); };
    const auto addSource = [](const std::string& messageFile) {
        return [messageFile] { FakeRegistry::AddKey(SourceKey(), SourceValues(messageFile)); };
    };
    const auto addServiceAndSource = [addOwnService](const std::string& messageFile) {
        return [addOwnService, messageFile] {
            addOwnService();
            FakeRegistry::AddKey(SourceKey(), SourceValues(messageFile));
        };
    };
    const Case cases[] = {
        {"install", [] {}, InstallService, SourceValues(kProgramPath), ""},
        {"install over its own source, written in other case",
         [] {
             FakeRegistry::AddKey(SourceKey(),
                                  {{"EventMessageFile", FakeRegistry::Text(REG_SZ, "c:\\HALVERN\\bin\\program.EXE")}});
         },
         InstallService, SourceValues(kProgramPath), ""},
        {"install over an earlier installation's source", addSource(files.earlier), InstallService,
         SourceValues(kProgramPath), ""},
        {"install over a source whose file is gone", addSource(files.gone), InstallService, SourceValues(kProgramPath),
         ""},
        {"install beside another program's source", addSource(otherFile), InstallService, SourceValues(otherFile),
         "belongs to another program"},
        {"install beside a source whose message file is no text",
         [] {
             FakeRegistry::AddKey(SourceKey(), {{"EventMessageFile", FakeRegistry::Number(1)}});
         },
         InstallService,
         {{"EventMessageFile", FakeRegistry::Number(1)}},
         "belongs to another program"},
        {"install without the right to the registry",
         [] { FakeRegistry::Refuse(FakeRegistry::Call::CreateKey, ERROR_ACCESS_DENIED); },
         InstallService,
         {},
         "RegCreateKeyExA failed with error 5: Access is denied.\n"},
        {"uninstall of its own source", addServiceAndSource(kProgramPath), UninstallService, {}, ""},
        {"uninstall of an earlier installation's source", addServiceAndSource(files.earlier), UninstallService, {}, ""},
        {"uninstall of a source whose file is gone", addServiceAndSource(files.gone), UninstallService, {}, ""},
        {"uninstall beside another program's source", addServiceAndSource(otherFile), UninstallService,
         SourceValues(otherFile), ""},
        {"uninstall without a source", addOwnService, UninstallService, {}, ""},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        c.arrange();
        Outcome outcome = Run(c.command);
        EXPECT_EQ(outcome.exitCode, 0u) << c.what << ": the service registration stands either way";
        EXPECT_NE(outcome.errors.find(c.errors), std::string::npos) << c.what << ": " << outcome.errors;
        if (c.errors[0] == '\0') {
            EXPECT_EQ(outcome.errors, "") << c.what;
        }
        EXPECT_EQ(FakeRegistry::HasKey(SourceKey()), !c.valuesAfter.empty()) << c.what;
        EXPECT_EQ(FakeRegistry::ValuesOf(SourceKey()), c.valuesAfter) << c.what;
        EXPECT_EQ(FakeRegistry::OpenKeys(), 0) << c.what;
    }
}

// After the line and exit code of a registration as ever, one more line on
// standard error when others can change what the service reads or runs.
TEST_F(Registration, InstallNamesWhatOthersCanChangeOnStandardError) {
    Installation install;
    install.installStandinVm();
    install.writeInitFile(ProgramUnderTest().initFileName, "-Xmx64m\n");
    install.addJar("kernel.jar");
    const std::filesystem::path initFile = install.bin() / ProgramUnderTest().initFileName;
    const std::string service = ProgramUnderTest().serviceName;
    struct Case {
        const char* what;
        std::vector<std::filesystem::path> othersMayWrite;
        std::string errors;
    };
    const Case cases[] = {
        {"only the owner may write", {}, ""},
        {"others may write the init file",
         {initFile},
         "Warning: others can change " + Installation::WindowsForm(initFile.string()) +
             ", which the service reads or runs; " + service + " check says who, and what they may do\n"},
        {"others may write the init file and the jar folder",
         {install.jarDirectory(), initFile},
         "Warning: others can change 2 files and folders the service reads or runs, the first " +
             Installation::WindowsForm(initFile.string()) + "; " + service + " check names them all\n"},
    };
    ScriptedModulePath::Set(install.windowsPathOf("Program.exe"));
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        for (const auto& path : c.othersMayWrite)
            std::filesystem::permissions(path, std::filesystem::perms::others_write,
                                         std::filesystem::perm_options::add);
        Outcome outcome = Run(InstallService);
        EXPECT_EQ(outcome.output, "Service registration successful\n") << c.what;
        EXPECT_EQ(outcome.exitCode, 0u) << c.what;
        EXPECT_EQ(outcome.errors, c.errors) << c.what;
    }
}

// A service deleted by other means (sc delete) leaves its source behind:
// uninstall still removes it, unless it is another program's, and exits
// as a missing service does. Any other failure touches no source.
TEST_F(Registration, UninstallOfAServiceAlreadyGoneStillRemovesItsSource) {
    MessageFiles files;
    const char* const notInstalled =
        "OpenServiceA failed with error 1060: The specified service does not exist as an installed service.\n";
    struct Case {
        const char* what;
        std::string messageFile;
        bool serviceThere;
        DWORD openServiceRefusal;
        bool sourceAfter;
        DWORD exitCode;
        const char* errors;
    };
    const Case cases[] = {
        {"its own source", kProgramPath, false, ERROR_SUCCESS, false, 1060, notInstalled},
        {"another program's source", files.other, false, ERROR_SUCCESS, true, 1060, notInstalled},
        {"no right to the service", kProgramPath, true, ERROR_ACCESS_DENIED, true, 5,
         "OpenServiceA failed with error 5: Access is denied.\n"},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeRegistry::Reset();
        if (c.serviceThere) FakeServiceManager::AddService(Existing(kProgramPath, false));
        if (c.openServiceRefusal != ERROR_SUCCESS) FakeServiceManager::Refuse(Call::OpenService, c.openServiceRefusal);
        FakeRegistry::AddKey(SourceKey(), SourceValues(c.messageFile));
        Outcome outcome = Run(UninstallService);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(outcome.output, "Error opening service\n") << c.what;
        EXPECT_EQ(outcome.errors, c.errors) << c.what;
        EXPECT_EQ(FakeRegistry::HasKey(SourceKey()), c.sourceAfter) << c.what;
        EXPECT_EQ(FakeRegistry::OpenKeys(), 0) << c.what;
    }
}

}  // namespace
