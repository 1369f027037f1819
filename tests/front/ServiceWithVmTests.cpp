// A service run against the stand-in VM: the kernel starts on the
// dispatcher's thread and is stopped on a thread of the host's own, with the
// stop pending report before the kernel's stop and the stopped report after
// it, from the handler when the stop is quick and from the stop thread when
// it is not; pending states show progress every 5 s.
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
            return "stops=" + std::to_string(stops);
        });
        std::string output;
        EXPECT_EQ(CallProgram({"Program.exe"}, &output), 0);
        EXPECT_EQ(output, "");
    }

    // Each thread that used the VM leaves it before it ends: the one that
    // started the kernel, and the one that stopped it.
    void ExpectThreadsDetached(const std::vector<std::string>& threads) {
        std::vector<std::string> detached;
        for (const auto& entry : EntriesOf(install.standinLog(), "DetachCurrentThread"))
            detached.push_back(FieldOf(entry, "thread"));
        EXPECT_EQ(detached, threads);
    }

    WorkingDirectoryGuard workingDirectory;
};

TEST_F(ServiceWithVm, RunsUntilStoppedAndAnswersOnlyTheControlsItAccepts) {
    install.installStandinVm();
    FakeServiceManager::QueueControls(
        {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_STOP});
    RunAsServiceCountingStops();

    EXPECT_EQ(DescribeReports(), (std::vector<std::string>{
                                     "START_PENDING 1 30000 0x0 0/0 service stops=0",
                                     "RUNNING 0 0 0x101 0/0 service stops=0",
                                     "RUNNING 0 0 0x101 0/0 handler stops=0",  // interrogate
                                     "STOP_PENDING 1 30000 0x0 0/0 handler stops=0",
                                     "STOPPED 0 0 0x0 0/0 handler stops=1",
                                 }));
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
    ExpectThreadsDetached({FieldOf(calls[0], "thread"), FieldOf(calls[1], "thread")});
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

// The whole report sequence of a service run whose kernel takes its time
// (the stand-in sleeps in start or stop), one process each: progress every
// 5 s from a thread of the host's own; a stop that outlasts the handler's
// 3 s is reported stopped by the stop thread. Stop and preshutdown alike.
struct SequenceCase {
    const char* name;
    const char* conf;
    std::vector<DWORD> controls;
    bool unaccepted;  // the controls reach the handler whatever the service accepts
    std::vector<std::string> reports;
    std::vector<DWORD> handlerResults;
};

void PrintTo(const SequenceCase& c, std::ostream* out) { *out << c.name; }

class ReportSequence : public ServiceWithVm, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(ReportSequence, OfAServiceRun) {
    install.installStandinVm(GetParam().conf);
    FakeServiceManager::QueueControls(GetParam().controls);
    if (GetParam().unaccepted) FakeServiceManager::DeliverUnacceptedControls();
    RunAsServiceCountingStops();

    EXPECT_EQ(DescribeReports(), GetParam().reports);
    std::vector<DWORD> handlerResults;
    for (const auto& delivery : FakeServiceManager::ControlDeliveries()) {
        EXPECT_TRUE(delivery.delivered);
        handlerResults.push_back(delivery.handlerResult);
    }
    EXPECT_EQ(handlerResults, GetParam().handlerResults);
    std::vector<std::string> calls;
    for (const auto& call : KernelCallsOf(install.standinLog())) calls.push_back(call[1]);
    EXPECT_EQ(calls, (std::vector<std::string>{"start", "stop"}));
    EXPECT_TRUE(FakeEventLog::Events().empty());
}

const char kReportedStarting[] = "START_PENDING 1 30000 0x0 0/0 service stops=0";
const char kReportedRunning[] = "RUNNING 0 0 0x101 0/0 service stops=0";
const char kReportedStopAsked[] = "STOP_PENDING 1 30000 0x0 0/0 handler stops=0";

INSTANTIATE_TEST_SUITE_P(
    SlowKernels, ReportSequence,
    ::testing::Values(
        SequenceCase{"QuickPreshutdown",
                     "",
                     {SERVICE_CONTROL_PRESHUTDOWN},
                     false,
                     {kReportedStarting, kReportedRunning, kReportedStopAsked, "STOPPED 0 0 0x0 0/0 handler stops=1"},
                     {NO_ERROR}},
        SequenceCase{"SlowStart",
                     "sleep-in-start=5500",
                     {SERVICE_CONTROL_STOP},
                     false,
                     {kReportedStarting, "START_PENDING 2 30000 0x0 0/0 host stops=0", kReportedRunning,
                      kReportedStopAsked, "STOPPED 0 0 0x0 0/0 handler stops=1"},
                     {NO_ERROR}},
        SequenceCase{"SlowStop",
                     "sleep-in-stop=5500",
                     {SERVICE_CONTROL_STOP},
                     false,
                     {kReportedStarting, kReportedRunning, kReportedStopAsked,
                      "STOP_PENDING 2 30000 0x0 0/0 host stops=1", "STOPPED 0 0 0x0 0/0 host stops=1"},
                     {NO_ERROR}},
        SequenceCase{"SlowPreshutdown",
                     "sleep-in-stop=3500",
                     {SERVICE_CONTROL_PRESHUTDOWN},
                     false,
                     {kReportedStarting, kReportedRunning, kReportedStopAsked, "STOPPED 0 0 0x0 0/0 host stops=1"},
                     {NO_ERROR}},
        // The second is refused and changes nothing; the kernel is stopped once.
        SequenceCase{"SecondStopWhileTheFirstRuns",
                     "sleep-in-stop=3500",
                     {SERVICE_CONTROL_STOP, SERVICE_CONTROL_STOP},
                     true,
                     {kReportedStarting, kReportedRunning, kReportedStopAsked, "STOPPED 0 0 0x0 0/0 host stops=1"},
                     {NO_ERROR, ERROR_SERVICE_CANNOT_ACCEPT_CTRL}}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return std::string(info.param.name); });

TEST_F(ServiceWithVm, KernelThatThrowsOnStartIsReportedAsAFailureAndNeverStopped) {
    install.installStandinVm("fail=start");
    FakeServiceManager::QueueControls({SERVICE_CONTROL_STOP});
    RunAsServiceCountingStops();

    EXPECT_EQ(DescribeReports(), (std::vector<std::string>{"START_PENDING 1 30000 0x0 0/0 service stops=0",
                                                           "STOPPED 0 0 0x0 1066/1 service stops=0"}));

    auto events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].strings.size(), 2u);
    EXPECT_EQ(events[0].strings[0], "Exception occurs starting up the Kernel");
    EXPECT_EQ(events[0].strings[1].rfind("java.lang.RuntimeException: stand-in failure\n", 0), 0u)
        << events[0].strings[1];
    auto calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][1], "start");
    ExpectThreadsDetached({FieldOf(calls[0], "thread")});
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
            fprintf(stderr, "status %u %u %u 0x%x %u %u\n", static_cast<unsigned>(status.dwCurrentState),
                    static_cast<unsigned>(status.dwWin32ExitCode),
                    static_cast<unsigned>(status.dwServiceSpecificExitCode),
                    static_cast<unsigned>(status.dwControlsAccepted), static_cast<unsigned>(status.dwCheckPoint),
                    static_cast<unsigned>(status.dwWaitHint));
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

const char kStartPending[] = "status 2 0 0 0x0 1 30000\n";
const char kRunning[] = "status 4 0 0 0x101 0 0\n";
const char kStopPending[] = "status 3 0 0 0x0 1 30000\n";
const char kStartFailed[] = "status 1 1066 1 0x0 0 0\n";
const char kStopped[] = "status 1 0 0 0x0 0 0\n";
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
                                       "What it printed last:\nstand-in: exiting with code 0\n" +
                                       kStopped},
                      VmEndingCase{"ExitSevenWhileRunning",
                                   "exit-after-start=7",
                                   {},
                                   7,
                                   std::string(kStartPending) + kRunning +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 7 while the kernel was running.\n"
                                       "What it printed last:\nstand-in: exiting with code 7\n"
                                       "status 1 1066 7 0x0 0 0\n"},
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
                                   std::string(kStartPending) + kRunning + kStopPending + kStopped},
                      VmEndingCase{"ExitFiveInStop",
                                   "exit-in-stop=5",
                                   {SERVICE_CONTROL_PRESHUTDOWN},
                                   5,
                                   std::string(kStartPending) + kRunning + kStopPending +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 5 while the kernel's stop ran.\n" +
                                       kStopped},
                      // The VM ends the process while a start or stop takes its time:
                      // progress until then, and the hook's one report last.
                      VmEndingCase{"ExitInSlowStart",
                                   "sleep-in-start=5500\nexit-in-start=3",
                                   {},
                                   3,
                                   std::string(kStartPending) + "status 2 0 0 0x0 2 30000\n" +
                                       "event 1 2 Exception occurs starting up the Kernel\n"
                                       "The Java VM ended the process during the kernel's start, with exit code 3.\n" +
                                       kStartFailed},
                      VmEndingCase{"ExitInSlowStop",
                                   "sleep-in-stop=3500\nexit-in-stop=5",
                                   {SERVICE_CONTROL_STOP},
                                   5,
                                   std::string(kStartPending) + kRunning + kStopPending +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 5 while the kernel's stop ran.\n" +
                                       kStopped},
                      // The end, once claimed, is claimed: a VM that ends the process after
                      // the stop returned, or aborts on its way out, adds nothing.
                      VmEndingCase{"ExitAfterStop",
                                   "exit-after-stop=6",
                                   {SERVICE_CONTROL_STOP},
                                   6,
                                   std::string(kStartPending) + kRunning + kStopPending + kStopped},
                      VmEndingCase{"AbortAfterExit",
                                   "exit-after-start=7\nabort-after-exit",
                                   {},
                                   1,
                                   std::string(kStartPending) + kRunning +
                                       "event 1 4 The Java VM ended the process\n"
                                       "The Java VM ended the process with exit code 7 while the kernel was running.\n"
                                       "What it printed last:\nstand-in: exiting with code 7\n"
                                       "status 1 1066 7 0x0 0 0\n"}),
    [](const ::testing::TestParamInfo<VmEndingCase>& info) { return std::string(info.param.name); });

}  // namespace
