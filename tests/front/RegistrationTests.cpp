// "install" and "uninstall" against the recording service manager: what is
// registered, with which rights, and the one line each outcome prints.
// Built once per profile under test.
#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <functional>
#include <string>

#include "FailingAllocator.h"
#include "FakeServiceManager.h"
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
        ScriptedModulePath::Set(kProgramPath);
    }
    void TearDown() override {
        ScriptedModulePath::Reset();
        FailingAllocator::Disarm();
    }

    static std::string Capture(void (*command)()) {
        ::testing::internal::CaptureStdout();
        command();
        return ::testing::internal::GetCapturedStdout();
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
        EXPECT_EQ(Capture(InstallService), "Service registration successful\n") << c.modulePath;

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

TEST_F(Registration, EachOutcomePrintsItsOneLine) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        void (*command)();
        const char* output;
        int servicesAfter;
    };
    const Case cases[] = {
        {"install, no right to the database",
         [] { FakeServiceManager::Refuse(Call::OpenManager, ERROR_ACCESS_DENIED); }, InstallService,
         "Error opening service control manager\n", 0},
        {"install", [] {}, InstallService, "Service registration successful\n", 1},
        {"install, refused", [] { FakeServiceManager::Refuse(Call::CreateService, ERROR_ACCESS_DENIED); },
         InstallService, "Error registering service\n", 0},
        {"install, name taken", [] { FakeServiceManager::AddService(Existing("C:\\Old\\Svc.exe", false)); },
         InstallService, "Error registering service\n", 1},
        {"install, old one marked for deletion",
         [] { FakeServiceManager::AddService(Existing("C:\\Old\\Svc.exe", true)); }, InstallService,
         "Error registering service\n", 1},
        {"uninstall, no right to the database",
         [] {
             FakeServiceManager::AddService(Existing(kProgramPath, false));
             FakeServiceManager::Refuse(Call::OpenManager, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error opening service control manager\n", 1},
        {"uninstall", [] { FakeServiceManager::AddService(Existing(kProgramPath, false)); }, UninstallService,
         "Service unregistration successful\n", 0},
        {"uninstall, not registered", [] {}, UninstallService, "Error opening service\n", 0},
        {"uninstall, no right to the service",
         [] {
             FakeServiceManager::AddService(Existing(kProgramPath, false));
             FakeServiceManager::Refuse(Call::OpenService, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error opening service\n", 1},
        {"uninstall, refused",
         [] {
             FakeServiceManager::AddService(Existing(kProgramPath, false));
             FakeServiceManager::Refuse(Call::DeleteService, ERROR_ACCESS_DENIED);
         },
         UninstallService, "Error deleting service\n", 1},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        c.arrange();
        EXPECT_EQ(Capture(c.command), c.output) << c.what;
        EXPECT_EQ(FakeServiceManager::Services().size(), static_cast<size_t>(c.servicesAfter)) << c.what;
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << c.what;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << c.what;
    }
}

TEST_F(Registration, SecondInstallLeavesTheFirstRegistrationAsItWas) {
    EXPECT_EQ(Capture(InstallService), "Service registration successful\n");
    ScriptedModulePath::Set("C:\\Elsewhere\\Program.exe");
    EXPECT_EQ(Capture(InstallService), "Error registering service\n");
    auto services = FakeServiceManager::Services();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].binaryPathName, kProgramPath);
}

TEST_F(Registration, UninstallOpensTheOwnServiceForDeletionOnly) {
    FakeServiceManager::AddService(Existing(kProgramPath, false));
    EXPECT_EQ(Capture(UninstallService), "Service unregistration successful\n");
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
    EXPECT_EQ(Capture(UninstallService), "Error deleting service\n");
}

// The program path is read into a first buffer of 256 bytes, and the
// command line needs the path's length plus quotes and a NUL.
TEST_F(Registration, NoMemoryForTheProgramPathRegistersNothing) {
    static size_t failingSize;
    for (size_t size : {size_t{256}, strlen(kProgramPath) + 3}) {
        FakeServiceManager::Reset();
        failingSize = size;
        auto installShortOfMemory = [] {
            FailingAllocator::FailAllocationsOf(failingSize);
            InstallService();
            FailingAllocator::Disarm();
        };
        EXPECT_EQ(Capture(installShortOfMemory), "Error registering service\n") << failingSize;
        EXPECT_TRUE(FakeServiceManager::CreateServiceCalls().empty()) << failingSize;
        EXPECT_TRUE(FakeServiceManager::Services().empty()) << failingSize;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << failingSize;
    }
}

}  // namespace
