// The entry point and the service side against the recording service
// manager: which mode the program takes, and what it reports when its
// kernel cannot start. No VM is installed next to the program here.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "FakeEventLog.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "ProgramTexts.h"
#include "ScriptedModulePath.h"
#include "ServiceExpectations.h"

namespace {

// Each SetDllDirectoryA: its folder, and how many dispatcher calls came before it.
std::vector<std::pair<std::string, size_t>> dllDirectories;

}  // namespace

extern "C" BOOL WINAPI __wrap_SetDllDirectoryA(LPCSTR folder) {
    dllDirectories.emplace_back(folder != nullptr ? folder : "(null)", FakeServiceManager::DispatchTables().size());
    return TRUE;
}

namespace {

using FakeServiceManager::Call;

class ServiceProgram : public ServiceTest {};

TEST_F(ServiceProgram, OffersItselfToTheDispatcherFirstAndFallsBackToTheConsoleOnlyFor1063) {
    struct Case {
        DWORD dispatcherError;
        const char* command;
        int exitCode;
        std::string output;
    };
    const Case cases[] = {
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "install", 0, "Service registration successful\n"},
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "RUN", 0, UsageText(ProgramUnderTest(), "Program.exe")},
        {ERROR_ACCESS_DENIED, "install", 1, ""},
        {ERROR_INVALID_PARAMETER, "install", 1, ""},
        {ERROR_SERVICE_DOES_NOT_EXIST, "uninstall", 1, ""},
    };
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeServiceManager::Refuse(Call::Dispatcher, c.dispatcherError);
        dllDirectories.clear();
        std::string output;
        EXPECT_EQ(CallProgram({"Program.exe", c.command}, &output), c.exitCode) << c.dispatcherError;
        EXPECT_EQ(output, c.output) << c.dispatcherError;
        // Before anything else, the current folder leaves the library search.
        EXPECT_EQ(dllDirectories, (std::vector<std::pair<std::string, size_t>>{{"", 0}})) << c.dispatcherError;

        auto tables = FakeServiceManager::DispatchTables();
        ASSERT_EQ(tables.size(), 1u);
        EXPECT_EQ(tables[0].serviceNames, std::vector<std::string>{ProgramUnderTest().serviceName});
        EXPECT_TRUE(tables[0].terminated);
        if (c.exitCode != 0) {
            EXPECT_TRUE(FakeServiceManager::OpenManagerCalls().empty()) << "no command is run";
        }
    }
}

TEST_F(ServiceProgram, FailedStartIsReportedAsAServiceSpecificFailure) {
    FakeServiceManager::QueueControls({SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_STOP});
    std::string output;
    EXPECT_EQ(CallProgram({"Program.exe"}, &output), 0);
    EXPECT_EQ(output, "") << "a service has no console";

    auto registrations = FakeServiceManager::HandlerRegistrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].serviceName, ProgramUnderTest().serviceName);
    EXPECT_EQ(registrations[0].thread, FakeServiceManager::ServiceThread());

    EXPECT_EQ(DescribeReports(),
              (std::vector<std::string>{"START_PENDING 1 30000 0x0 0/0 service", "STOPPED 0 0 0x0 1066/1 service"}));

    // A stopped service gets no controls, so the kernel is never stopped.
    for (const auto& delivery : FakeServiceManager::ControlDeliveries()) EXPECT_FALSE(delivery.delivered);

    auto events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, ProgramUnderTest().serviceName);
    ASSERT_EQ(events[0].strings.size(), 2u);
    EXPECT_EQ(events[0].strings[0], "Failed to load JVM DLL.");
    EXPECT_EQ(events[0].strings[1],
              "Tried " + install.moduleDirectory() +
                  "\\server\\jvm.dll\nWindows error 126: The specified module could not be found.");
}

TEST_F(ServiceProgram, WithoutAControlHandlerNothingIsReportedOrStarted) {
    FakeServiceManager::Refuse(Call::RegisterHandler, ERROR_SERVICE_DOES_NOT_EXIST);
    std::string output;
    EXPECT_EQ(CallProgram({"Program.exe"}, &output), 0);
    EXPECT_EQ(output, "");
    EXPECT_EQ(FakeServiceManager::HandlerRegistrations().size(), 1u);
    EXPECT_TRUE(FakeServiceManager::StatusReports().empty());
    EXPECT_TRUE(FakeEventLog::Events().empty()) << "the kernel start was not even tried";
}

}  // namespace
