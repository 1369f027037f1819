// Console commands: install, uninstall, a run of the kernel between two
// presses of ENTER, and the usage text for anything else.
#include "Console.h"

#include <windows.h>

#include <stdio.h>

#include "Kernel.h"
#include "ProductProfile.h"
#include "Registration.h"

static const DWORD kModulePathCapacity = 1024;

// Puts the program's path on the console, cut to fit the run's buffer.
static void PrintModulePath() {
    char modulePath[kModulePathCapacity];
    DWORD length = GetModuleFileNameA(nullptr, modulePath, kModulePathCapacity);
    // Older Windows leaves a name that did not fit unterminated, and a failed
    // call leaves the buffer as it was: terminate it ourselves in every case.
    modulePath[length < kModulePathCapacity ? length : kModulePathCapacity - 1] = '\0';
    printf("%s", modulePath);
}

// The prompt has to be on the screen before we block on the keyboard, also
// when standard output is a pipe and therefore fully buffered.
static void Prompt(const char* text) {
    printf("%s", text);
    fflush(stdout);
}

// One character ends the wait; end of input ends it at once.
static void WaitForEnter() { getchar(); }

static void RunKernelInConsole() {
    PrintModulePath();
    Prompt("Press <ENTER> to start\n");
    WaitForEnter();
    // A failed start has already been reported; the run still waits for its
    // second ENTER, but there is no kernel to stop.
    bool started = StartKernel();
    Prompt("Running. Press <ENTER> to stop\n");
    WaitForEnter();
    if (started) StopKernel();
}

void PrintUsage(const char* programName) {
    if (programName == nullptr) programName = "";  // a start with an empty argument vector
    printf("\n");
    printf("%s", Profile.bannerLine);
    printf("Usage:\n");
    printf("\t%s [install|uninstall]\n", programName);
}

void RunConsole(int argc, char** argv) {
    if (argc != 2) {
        PrintUsage(argv[0]);
    } else if (lstrcmpA(argv[1], "install") == 0) {
        InstallService();
    } else if (lstrcmpA(argv[1], "uninstall") == 0) {
        UninstallService();
    } else if (lstrcmpA(argv[1], "run") == 0) {
        RunKernelInConsole();
    } else {
        PrintUsage(argv[0]);
    }
}
