// A service run against the stand-in VM: the kernel starts on the
// dispatcher's thread and is stopped from the handler on the main thread,
// with the stop pending report before the kernel's stop and the stopped
// report after it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
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

// A start from an installation that others can change warns of it in one
// event, and goes on.
TEST_F(ServiceWithVm, InstallationOthersCanChangeIsNamedInAWarningAndTheStartGoesOn) {
    install.installStandinVm();
    install.writeInitFile("alder.init", "-Xmx64m\n");
    install.addJar("kernel.jar");
    for (const auto& path : {install.bin() / "alder.init", install.jarDirectory()})
        std::filesystem::permissions(path, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
    FakeServiceManager::QueueControls({SERVICE_CONTROL_STOP});
    RunAsServiceCountingStops();

    auto events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].eventId, 5u);
    EXPECT_EQ(events[0].category, 1u);
    const std::string consequence = ": any of them can run code as LocalSystem\n";
    EXPECT_EQ(
        events[0].strings,
        (std::vector<std::string>{
            "Others can change what the service runs",
            "Everyone can modify " + Installation::WindowsForm((install.bin() / "alder.init").string()) + consequence +
                "Everyone can modify " + Installation::WindowsForm(install.jarDirectory().string()) + consequence +
                "The start goes on. Only SYSTEM, the administrators and the service itself should be able to "
                "change what the service reads or runs; AlderSvc check lists the same."}));
    auto calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0][1], "start");
    EXPECT_EQ(calls[1][1], "stop");
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

// The VM may end the process itself, on any of its threads: its hook then
// writes the one event that the kernel's stage calls for and makes the one
// final status report, and the process ends with the VM's code. Each case
// runs in a child process; what the service reported is written down there
// as it happens ("status <state> <win32> <specific> <accepted>", "event
// <type> <id> <message>" and the detail), with the process id and the
// program's directory made {pid} and {bin}. The temp folder is {bin}\temp.
struct VmEndingCase {
    const char* name;
    const char* conf;
    std::vector<DWORD> controls;
    int exitCode;
    std::string transcript;
    std::string initFile = "";
};

void PrintTo(const VmEndingCase& c, std::ostream* out) { *out << c.name; }

class VmEndsTheProcess : public ServiceWithVm, public ::testing::WithParamInterface<VmEndingCase> {
  protected:
    std::string Normalized(std::string text) const {
        const std::string bin = install.moduleDirectory().substr(0, install.moduleDirectory().size() - 1);
        const std::string pid = std::to_string(getpid());
        for (size_t at = 0; (at = text.find(bin, at)) != std::string::npos;) text.replace(at, bin.size(), "{bin}");
        for (size_t at = 0; (at = text.find("pid" + pid, at)) != std::string::npos;)
            text.replace(at + 3, pid.size(), "{pid}");
        return text;
    }

    // The service run, in the child: each report written down as it is made.
    void RunWritingDown() {
        setenv("TMP", (install.bin() / "temp").c_str(), 1);
        FakeServiceManager::OnStatusReport([](const SERVICE_STATUS& status) {
            fprintf(stderr, "status %u %u %u 0x%x\n", static_cast<unsigned>(status.dwCurrentState),
                    static_cast<unsigned>(status.dwWin32ExitCode),
                    static_cast<unsigned>(status.dwServiceSpecificExitCode),
                    static_cast<unsigned>(status.dwControlsAccepted));
            return std::string();
        });
        FakeEventLog::OnEvent([this](const RecordedEvent& event) {
            fprintf(stderr, "event %u %u %s\n%s\n", static_cast<unsigned>(event.type),
                    static_cast<unsigned>(event.eventId), event.strings[0].c_str(),
                    Normalized(event.strings[1]).c_str());
        });
        FakeServiceManager::QueueControls(GetParam().controls);
        std::string output;
        CallProgram({"Program.exe"}, &output);
        sleep(10);  // the VM ends the process before this
        _Exit(99);
    }
};

TEST_P(VmEndsTheProcess, WithOneEventAndOneFinalReport) {
    install.installStandinVm(GetParam().conf);
    if (!GetParam().initFile.empty()) install.writeInitFile("alder.init", GetParam().initFile);
    std::filesystem::create_directories(install.bin() / "temp");
    std::filesystem::create_directories(install.root() / "crashes");
    EXPECT_EXIT(RunWritingDown(), ::testing::ExitedWithCode(GetParam().exitCode), ::testing::Eq(GetParam().transcript));
}

const char kStartPending[] = "status 2 0 0 0x1\n";
const char kRunning[] = "status 4 0 0 0x101\n";
const char kStopPending[] = "status 3 0 0 0x101\n";
const char kStartFailed[] = "status 1 1066 1 0x1\n";
const char kOptionsHanded[] =
    "The VM was handed these options:\n-Dapplication.home=..\n-Djava.library.path=..\\lib\n"
    "-Xbootclasspath/p:\nvfprintf\nexit\nabort\n";
const char kAborted[] =
    "event 1 4 The Java VM aborted\n"
    "The Java VM aborted while the kernel was running.\n"
    "What it printed last:\n# A fatal error has been detected by the stand-in VM\n";
const char kLookedFor[] = "looked for {bin}\\hs_err_pid{pid}.log and {bin}\\temp\\hs_err_pid{pid}.log\n";
const char kReportInBin[] = "Its error report: {bin}\\hs_err_pid{pid}.log\n";
const char kReportInTemp[] = "Its error report: {bin}\\temp\\hs_err_pid{pid}.log\n";
const char kReportAtErrorFile[] = "Its error report: {bin}\\..\\crashes\\crash_pid{pid}.log\n";
const char kHeapNotReserved[] =
    "The VM printed:\nError occurred during initialization of VM\n"
    "Could not reserve enough space for 3145728KB object heap\n";

INSTANTIATE_TEST_SUITE_P(
    Hooks, VmEndsTheProcess,
    ::testing::Values(VmEndingCase{"AbortWhileCreated",
                                   "fail=create-abort",
                                   {},
                                   1,
                                   std::string(kStartPending) +
                                       "event 1 2 Error creating JVM\n"
                                       "The Java VM ended the process while it was being created, by aborting.\n" +
                                       kHeapNotReserved + kOptionsHanded + kStartFailed},
                      VmEndingCase{"ExitWhileCreated",
                                   "fail=create-exit\nsay=Error: Could not create the Java Virtual Machine.",
                                   {},
                                   1,
                                   std::string(kStartPending) +
                                       "event 1 2 Error creating JVM\n"
                                       "The Java VM ended the process while it was being created, with exit code 1.\n"
                                       "The VM printed:\nError: Could not create the Java Virtual Machine.\n" +
                                       kOptionsHanded + kStartFailed},
                      VmEndingCase{"ExitInStart",
                                   "exit-in-start=3",
                                   {},
                                   3,
                                   std::string(kStartPending) +
                                       "event 1 2 Exception occurs starting up the Kernel\n"
                                       "The Java VM ended the process during the kernel's start, with exit code 3.\n" +
                                       kStartFailed},
                      VmEndingCase{"ExitZeroWhileRunning",
                                   "exit-after-start=0",
                                   {},
                                   0,
                                   std::string(kStartPending) + kRunning +
                                       "event 4 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 0 while the kernel was running.\n"
                                       "What it printed last:\nstand-in: exiting with code 0\n"
                                       "status 1 0 0 0x101\n"},
                      VmEndingCase{"ExitSevenWhileRunning",
                                   "exit-after-start=7",
                                   {},
                                   7,
                                   std::string(kStartPending) + kRunning +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 7 while the kernel was running.\n"
                                       "What it printed last:\nstand-in: exiting with code 7\n"
                                       "status 1 1066 7 0x101\n"},
                      // A crash for the service manager: no final report at all.
                      VmEndingCase{"AbortWhileRunning",
                                   "abort-after-start",
                                   {},
                                   1,
                                   std::string(kStartPending) + kRunning + kAborted +
                                       "Its error report was not found; " + kLookedFor},
                      // Where the VM wrote its error report: the working folder, the temp
                      // folder where it cannot write there, or its -XX:ErrorFile.
                      VmEndingCase{"AbortWithReportInTheWorkingFolder",
                                   "abort-after-start\ncrash-report",
                                   {},
                                   1,
                                   std::string(kStartPending) + kRunning + kAborted + kReportInBin},
                      VmEndingCase{"AbortWithReportInTheTempFolder",
                                   "abort-after-start\ncrash-report=temp",
                                   {},
                                   1,
                                   std::string(kStartPending) + kRunning + kAborted + kReportInTemp},
                      VmEndingCase{"AbortWithReportAtItsErrorFile",
                                   "abort-after-start\ncrash-report",
                                   {},
                                   1,
                                   std::string(kStartPending) + kRunning + kAborted + kReportAtErrorFile,
                                   "-XX:ErrorFile=..\\crashes\\crash_pid%p.log\n"},
                      // The stop was asked for: a clean stop, whatever the code.
                      VmEndingCase{"ExitZeroInStop",
                                   "exit-in-stop=0",
                                   {SERVICE_CONTROL_STOP},
                                   0,
                                   std::string(kStartPending) + kRunning + kStopPending + "status 1 0 0 0x101\n"},
                      VmEndingCase{"ExitFiveInStop",
                                   "exit-in-stop=5",
                                   {SERVICE_CONTROL_PRESHUTDOWN},
                                   5,
                                   std::string(kStartPending) + kRunning + kStopPending +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 5 while the kernel's stop ran.\n"
                                       "status 1 0 0 0x101\n"}),
    [](const ::testing::TestParamInfo<VmEndingCase>& info) { return std::string(info.param.name); });

}  // namespace
