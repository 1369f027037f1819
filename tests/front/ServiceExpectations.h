#ifndef TESTS_FRONT_SERVICE_EXPECTATIONS_H
#define TESTS_FRONT_SERVICE_EXPECTATIONS_H

#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>
#include <thread>
#include <vector>

#include "FakeEventLog.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "Program.h"
#include "ScriptedModulePath.h"

// Each status report in a line: state, check point, wait hint, accepted
// controls, Win32 and service-specific exit codes, and who made it: the
// service thread ("service"), the handler on the dispatcher's thread
// ("handler"), or a thread of the host's own ("host"), then what the
// OnStatusReport observer noted, if anything. Every report is of a Win32
// service, on the handle the service was given.
inline std::vector<std::string> DescribeReports(std::thread::id handlerThread = std::this_thread::get_id()) {
    static const char* const kStates[] = {"?", "STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING"};
    std::vector<std::string> lines;
    for (const auto& report : FakeServiceManager::StatusReports()) {
        const SERVICE_STATUS& status = report.status;
        EXPECT_TRUE(report.validHandle);
        EXPECT_EQ(status.dwServiceType, 0x30u);
        std::string who = report.thread == FakeServiceManager::ServiceThread() ? "service"
                          : report.thread == handlerThread                     ? "handler"
                                                                               : "host";
        char line[160];
        snprintf(line, sizeof line, "%s %u %u 0x%x %u/%u %s",
                 kStates[status.dwCurrentState <= 4 ? status.dwCurrentState : 0],
                 static_cast<unsigned>(status.dwCheckPoint), static_cast<unsigned>(status.dwWaitHint),
                 static_cast<unsigned>(status.dwControlsAccepted), static_cast<unsigned>(status.dwWin32ExitCode),
                 static_cast<unsigned>(status.dwServiceSpecificExitCode), who.c_str());
        lines.push_back(report.observation.empty() ? std::string(line) : line + (" " + report.observation));
    }
    return lines;
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
