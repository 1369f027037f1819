// A service run against the stand-in VM: the kernel starts on the
// dispatcher's thread and is stopped from the handler on the main thread,
// with the stop pending report before the kernel's stop and the stopped
// report after it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "FakeEventLog.h"
#include "FakeServiceManager.h"
#include "Installation.h"
#include "ScriptedModulePath.h"
#include "ServiceExpectations.h"

namespace {

class ServiceWithVm : public ServiceTest {
  protected:
    // Runs the program as a service; each report notes how many times the
    // kernel's stop had been called by then.
    void RunAsServiceCountingStops() {
        FakeServiceManager::OnStatusReport([this](const SERVICE_STATUS&) {
            size_t stops = 0;
            for (const auto& call : KernelCallsOf(install.standinLog())) stops += call[1] == "stop";
            return std::to_string(stops);
        });
        std::string output;
        EXPECT_EQ(CallProgram({"Program.exe"}, &output), 0);
        EXPECT_EQ(output, "");
    }

    static std::vector<std::string> StopsSeenAtEachReport() {
        std::vector<std::string> stopsSeen;
        for (const auto& report : FakeServiceManager::StatusReports()) stopsSeen.push_back(report.observation);
        return stopsSeen;
    }

    // The thread that started the kernel leaves the VM before it ends.
    void ExpectServiceThreadDetached(const std::string& startThread) {
        auto detaches = EntriesOf(install.standinLog(), "DetachCurrentThread");
        ASSERT_EQ(detaches.size(), 1u);
        EXPECT_EQ(FieldOf(detaches[0], "thread"), startThread);
    }

    WorkingDirectoryGuard workingDirectory;
};

TEST_F(ServiceWithVm, RunsUntilStoppedAndAnswersOnlyTheControlsItAccepts) {
    install.installStandinVm();
    FakeServiceManager::QueueControls(
        {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_STOP});
    RunAsServiceCountingStops();
    const std::thread::id serviceThread = FakeServiceManager::ServiceThread();
    const std::thread::id mainThread = std::this_thread::get_id();

    auto reports = FakeServiceManager::StatusReports();
    ASSERT_EQ(reports.size(), 5u);
    ExpectReport(reports[0], SERVICE_START_PENDING, serviceThread, NO_ERROR, 0, kAcceptedWhileStarting);
    ExpectReport(reports[1], SERVICE_RUNNING, serviceThread);
    ExpectReport(reports[2], SERVICE_RUNNING, mainThread);  // interrogate
    ExpectReport(reports[3], SERVICE_STOP_PENDING, mainThread);
    ExpectReport(reports[4], SERVICE_STOPPED, mainThread);
    EXPECT_EQ(StopsSeenAtEachReport(), (std::vector<std::string>{"0", "0", "0", "0", "1"}));

    auto deliveries = FakeServiceManager::ControlDeliveries();
    ASSERT_EQ(deliveries.size(), 4u);
    EXPECT_TRUE(deliveries[0].delivered);
    EXPECT_FALSE(deliveries[1].delivered) << "pause is not accepted";
    EXPECT_FALSE(deliveries[2].delivered) << "shutdown is not accepted";
    EXPECT_TRUE(deliveries[3].delivered);

    auto calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0][1], "start");
    EXPECT_EQ(calls[1][1], "stop");
    EXPECT_NE(FieldOf(calls[0], "thread"), FieldOf(calls[1], "thread")) << "started and stopped on different threads";
    EXPECT_EQ(FieldOf(calls[1], "ref"), "valid");
    EXPECT_TRUE(FakeEventLog::Events().empty());
    EXPECT_TRUE(EntriesOf(install.standinLog(), "WrongThreadEnv").empty());
    ExpectServiceThreadDetached(FieldOf(calls[0], "thread"));
}

// Before Windows shuts down, the service manager sends preshutdown and waits
// for stopped: the kernel's stop runs then, as on a stop. (One start per
// process and installation, so one test per control.)
class ServiceControlStops : public ServiceWithVm, public ::testing::WithParamInterface<DWORD> {};

TEST_P(ServiceControlStops, TheKernelBeforeReportingStopped) {
    install.installStandinVm();
    FakeServiceManager::QueueControls({GetParam()});
    RunAsServiceCountingStops();

    auto reports = FakeServiceManager::StatusReports();
    ASSERT_EQ(reports.size(), 4u);
    ExpectReport(reports[2], SERVICE_STOP_PENDING, std::this_thread::get_id());
    ExpectReport(reports[3], SERVICE_STOPPED, std::this_thread::get_id());
    EXPECT_EQ(StopsSeenAtEachReport(), (std::vector<std::string>{"0", "0", "0", "1"}));
    auto deliveries = FakeServiceManager::ControlDeliveries();
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_TRUE(deliveries[0].delivered);
    EXPECT_EQ(deliveries[0].handlerResult, static_cast<DWORD>(NO_ERROR));
}

INSTANTIATE_TEST_SUITE_P(Controls, ServiceControlStops,
                         ::testing::Values(static_cast<DWORD>(SERVICE_CONTROL_STOP),
                                           static_cast<DWORD>(SERVICE_CONTROL_PRESHUTDOWN)),
                         [](const ::testing::TestParamInfo<DWORD>& info) {
                             return info.param == SERVICE_CONTROL_STOP ? std::string("Stop")
                                                                       : std::string("Preshutdown");
                         });

TEST_F(ServiceWithVm, KernelThatThrowsOnStartIsReportedAsAFailureAndNeverStopped) {
    install.installStandinVm("fail=start");
    FakeServiceManager::QueueControls({SERVICE_CONTROL_STOP});
    RunAsServiceCountingStops();

    auto reports = FakeServiceManager::StatusReports();
    ASSERT_EQ(reports.size(), 2u);
    ExpectReport(reports[0], SERVICE_START_PENDING, FakeServiceManager::ServiceThread(), NO_ERROR, 0,
                 kAcceptedWhileStarting);
    ExpectReport(reports[1], SERVICE_STOPPED, FakeServiceManager::ServiceThread(), ERROR_SERVICE_SPECIFIC_ERROR, 1,
                 kAcceptedWhileStarting);
    EXPECT_EQ(StopsSeenAtEachReport(), (std::vector<std::string>{"0", "0"}));

    auto events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].strings.size(), 2u);
    EXPECT_EQ(events[0].strings[0], "Exception occurs starting up the Kernel");
    EXPECT_EQ(events[0].strings[1].rfind("java.lang.RuntimeException: stand-in failure\n", 0), 0u)
        << events[0].strings[1];
    auto calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][1], "start");
    ExpectServiceThreadDetached(FieldOf(calls[0], "thread"));
}

}  // namespace
