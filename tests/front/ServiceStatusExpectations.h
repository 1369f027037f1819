#ifndef TESTS_FRONT_SERVICE_STATUS_EXPECTATIONS_H
#define TESTS_FRONT_SERVICE_STATUS_EXPECTATIONS_H

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "FakeServiceManager.h"

// One status report: the record always says a Win32 service that accepts
// stop only, with no check point or wait hint; state and exit codes vary.
inline void ExpectReport(const FakeServiceManager::StatusReport& report, DWORD state, std::thread::id thread,
                         DWORD win32ExitCode = NO_ERROR, DWORD serviceSpecificExitCode = 0) {
    EXPECT_TRUE(report.validHandle);
    EXPECT_EQ(report.status.dwServiceType, 0x30u);
    EXPECT_EQ(report.status.dwCurrentState, state);
    EXPECT_EQ(report.status.dwControlsAccepted, 1u);
    EXPECT_EQ(report.status.dwWin32ExitCode, win32ExitCode);
    EXPECT_EQ(report.status.dwServiceSpecificExitCode, serviceSpecificExitCode);
    EXPECT_EQ(report.status.dwCheckPoint, 0u);
    EXPECT_EQ(report.status.dwWaitHint, 0u);
    EXPECT_EQ(report.thread, thread);
}

#endif
