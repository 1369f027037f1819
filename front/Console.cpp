// Console commands: install, uninstall, a run of the kernel between two
// presses of ENTER, a check of the installation, and the usage text for
// anything else. run and check stay out of the usage text.
#include "Console.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "Check.h"
#include "Kernel.h"
#include "LaunchLayout.h"
#include "ProductProfile.h"
#include "Registration.h"
#include "ReportError.h"
#include "SystemText.h"
#include "VmEnding.h"
#include "VmOutput.h"

static const DWORD kModulePathCapacity = 1024;

// Puts the program's path on the console, cut to fit the run's buffer, in
// the console's code page.
static void PrintModulePath() {
    char modulePath[kModulePathCapacity];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, kModulePathCapacity);
    // Older Windows leaves a name that did not fit unterminated, and a failed
    // call leaves the buffer as it was: terminate it ourselves in every case.
    modulePath[length < kModulePathCapacity ? length : kModulePathCapacity - 1] = '\0';
    PrintAnsi(stdout, modulePath);
}

// The prompt has to be on the screen before we block on the keyboard, also
// when standard output is a pipe and therefore fully buffered.
static void Prompt(const char* text) {
    printf("%s", text);
    fflush(stdout);
}

// One character ends the wait; end of input ends it at once.
static void WaitForEnter() { getchar(); }

// Exit codes of a console run whose kernel did not start, and of one whose
// kernel's stop threw.
static const int kKernelDidNotStart = 1;
static const int kKernelStopThrew = 2;

// Whether the service's registered command line starts this very program.
static bool ServiceStartsThisProgram(SC_HANDLE service) {
    DWORD needed = 0;
    if (QueryServiceConfigA(service, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(malloc(needed));
    char* modulePath = GetModulePath();
    bool names = config != nullptr && modulePath != nullptr && QueryServiceConfigA(service, config, needed, &needed) &&
                 config->lpBinaryPathName != nullptr && CommandLineNamesProgram(config->lpBinaryPathName, modulePath);
    free(modulePath);
    free(config);
    return names;
}

// Whether the service of this program's name is up (anything but stopped)
// and runs this copy. A manager that cannot be asked, no such service, or
// a service of another copy: no.
static bool RunsAsServiceHere() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceA(manager, Profile.serviceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    bool runs = false;
    if (service != nullptr) {
        SERVICE_STATUS status;
        runs = QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               ServiceStartsThisProgram(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return runs;
}

// A second kernel beside the service's would work on the same data and
// ports, as another account: the run refuses, before anything is shown.
static int RefuseBesideService() {
    fprintf(stderr, "%s is running as a service: stop it first (sc stop %s)\n", Profile.serviceName,
            Profile.serviceName);
    fflush(stderr);
    return ERROR_SERVICE_ALREADY_RUNNING;
}

static int RunKernelInConsole() {
    if (RunsAsServiceHere()) return RefuseBesideService();
    PrintModulePath();
    Prompt("Press <ENTER> to start\n");
    WaitForEnter();
    // A failed start shows its reason here, and the VM its own words; the
    // run still waits for its second ENTER, but there is no kernel to stop.
    ShowErrorsOnConsole();
    EchoVmOutputOnConsole();
    bool started = StartKernel();
    Prompt("Running. Press <ENTER> to stop\n");
    WaitForEnter();
    if (!started) return kKernelDidNotStart;
    bool stopped = StopKernel();
    ClaimKernelEnd();  // the VM ending the process from now on is no news
    return stopped ? 0 : kKernelStopThrew;
}

void PrintUsage(const char* programName) {
    if (programName == nullptr) programName = "";  // a start with an empty argument vector
    printf("\n");
    printf("%s", Profile.bannerLine);
    printf("Usage:\n");
    printf("\t%s [install|uninstall]\n", programName);
}

int RunConsole(int argc, char** argv) {
    if (argc == 2 && lstrcmpA(argv[1], "install") == 0) return static_cast<int>(InstallService());
    if (argc == 2 && lstrcmpA(argv[1], "uninstall") == 0) return static_cast<int>(UninstallService());
    if (argc == 2 && lstrcmpA(argv[1], "run") == 0) return RunKernelInConsole();
    if (argc == 2 && lstrcmpA(argv[1], "check") == 0) return RunCheck();
    PrintUsage(argv[0]);
    return 0;
}
