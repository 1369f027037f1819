// A console run while the service is up: refused, before anything is shown
// or started, when the service runs this very program; any other service,
// or none, leaves the run as it always was.
#include <gtest/gtest.h>

#include <stdio.h>

#include <optional>
#include <string>

#include "Console.h"
#include "FakeEventLog.h"
#include "FakeServiceManager.h"
#include "ScriptedModulePath.h"

namespace {

using FakeServiceManager::Call;
using FakeServiceManager::RegisteredService;

const char kProgram[] = "C:\\Halvern\\Alder\\bin\\AlderSvc.exe";
const std::string kRefusal = "AlderSvc is running as a service: stop it first (sc stop AlderSvc)\n";
const std::string kRunAsEver = std::string(kProgram) + "Press <ENTER> to start\nRunning. Press <ENTER> to stop\n";

struct Outcome {
    int code;
    std::string out;
    std::string err;
    size_t events;  // a start that was tried leaves one: no VM is installed
};

Outcome RunCommand() {
    char program[] = "AlderSvc";
    char command[] = "run";
    char* argv[] = {program, command, nullptr};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int code = RunConsole(2, argv);
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string out = ::testing::internal::GetCapturedStdout();
    return {code, out, err, FakeEventLog::Events().size()};
}

RegisteredService Service(const char* commandLine, DWORD state) {
    RegisteredService service{
        "AlderSvc", "Halvern Alder Service", commandLine, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, false};
    service.currentState = state;
    return service;
}

TEST(ConsoleRunBesideService, RefusedOnlyWhileTheServiceRunsThisProgram) {
    struct Case {
        const char* name;
        bool installed;
        RegisteredService service;
        std::optional<Call> refused;  // a call the manager refuses
        bool refusesRun;
    };
    const Case cases[] = {
        {"running this program", true, Service(kProgram, SERVICE_RUNNING), std::nullopt, true},
        {"running it, quoted and in another case", true,
         Service("\"c:\\halvern\\alder\\BIN\\aldersvc.exe\"", SERVICE_RUNNING), std::nullopt, true},
        {"starting", true, Service(kProgram, SERVICE_START_PENDING), std::nullopt, true},
        {"stopping", true, Service(kProgram, SERVICE_STOP_PENDING), std::nullopt, true},
        {"stopped", true, Service(kProgram, SERVICE_STOPPED), std::nullopt, false},
        {"running another copy", true, Service("C:\\Halvern\\Old\\bin\\AlderSvc.exe", SERVICE_RUNNING), std::nullopt,
         false},
        {"running, with this path as a prefix only", true,
         Service("C:\\Halvern\\Alder\\bin\\AlderSvc.exe.old", SERVICE_RUNNING), std::nullopt, false},
        {"not installed", false, {}, std::nullopt, false},
        {"the manager cannot be asked", true, Service(kProgram, SERVICE_RUNNING), Call::OpenManager, false},
        {"its status cannot be read", true, Service(kProgram, SERVICE_RUNNING), Call::QueryStatus, false},
        {"its configuration cannot be read", true, Service(kProgram, SERVICE_RUNNING), Call::QueryConfig, false},
    };
    ASSERT_NE(freopen("/dev/null", "r", stdin), nullptr);  // both waits end at once
    ScriptedModulePath::Set(kProgram);
    for (const Case& c : cases) {
        FakeServiceManager::Reset();
        FakeEventLog::Reset();
        if (c.installed) FakeServiceManager::AddService(c.service);
        if (c.refused) FakeServiceManager::Refuse(*c.refused, ERROR_ACCESS_DENIED);
        Outcome outcome = RunCommand();
        if (c.refusesRun) {
            EXPECT_EQ(outcome.code, ERROR_SERVICE_ALREADY_RUNNING) << c.name;
            EXPECT_EQ(outcome.out, "") << c.name;
            EXPECT_EQ(outcome.err, kRefusal) << c.name;
            EXPECT_EQ(outcome.events, 0u) << c.name << ": no start was tried";
        } else {
            EXPECT_EQ(outcome.code, 1) << c.name << ": the start was tried, and failed for lack of a VM";
            EXPECT_EQ(outcome.out, kRunAsEver) << c.name;
            EXPECT_EQ(outcome.events, 1u) << c.name;
        }
        EXPECT_EQ(FakeServiceManager::OpenServiceHandles(), 0) << c.name;
        EXPECT_EQ(FakeServiceManager::OpenManagerHandles(), 0) << c.name;
    }
    ScriptedModulePath::Reset();
}

}  // namespace
