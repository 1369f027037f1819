#ifndef TESTS_FRONT_SERVICE_EXPECTATIONS_H
#define TESTS_FRONT_SERVICE_EXPECTATIONS_H

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "FakeEventLog.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "Program.h"
#include "ScriptedModulePath.h"

// The controls a report offers: stop only until the kernel runs (a stop
// during the start ends nothing that runs), then preshutdown too.
const DWORD kAcceptedWhileStarting = 0x1;
const DWORD kAcceptedOnceRunning = 0x101;

// One status report: the record always says a Win32 service with no check
// point or wait hint; state, exit codes and accepted controls vary.
inline void ExpectReport(const FakeServiceManager::StatusReport& report, DWORD state, std::thread::id thread,
                         DWORD win32ExitCode = NO_ERROR, DWORD serviceSpecificExitCode = 0,
                         DWORD controlsAccepted = kAcceptedOnceRunning) {
    EXPECT_TRUE(report.validHandle);
    EXPECT_EQ(report.status.dwServiceType, 0x30u);
    EXPECT_EQ(report.status.dwCurrentState, state);
    EXPECT_EQ(report.status.dwControlsAccepted, controlsAccepted);
    EXPECT_EQ(report.status.dwWin32ExitCode, win32ExitCode);
    EXPECT_EQ(report.status.dwServiceSpecificExitCode, serviceSpecificExitCode);
    EXPECT_EQ(report.status.dwCheckPoint, 0u);
    EXPECT_EQ(report.status.dwWaitHint, 0u);
    EXPECT_EQ(report.thread, thread);
}

// A test of the program as a service: fresh recording fakes, and "the
// program" placed in a throw-away installation.
class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeServiceManager::Reset();
        FakeEventLog::Reset();
        ScriptedModulePath::Set(install.windowsPathOf("Program.exe"));
    }
    void TearDown() override { ScriptedModulePath::Reset(); }

    Installation install;
};

// Calls the program's entry point with these arguments (argv[0] first) and
// returns its exit code; what it printed goes to *output.
inline int CallProgram(const std::vector<std::string>& arguments, std::string* output) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    int exitCode = RunProgram(static_cast<int>(copies.size()), argv.data());
    *output = ::testing::internal::GetCapturedStdout();
    return exitCode;
}

#endif
