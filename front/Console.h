#ifndef FRONT_CONSOLE_H
#define FRONT_CONSOLE_H

// Carries out the console command in argv[1], or prints the usage text.
// Returns the process exit code: 0, the Windows error of a failed install
// or uninstall, 1 after a run whose kernel did not start, 2 after one whose
// kernel's stop threw, 1056 (ERROR_SERVICE_ALREADY_RUNNING) for a run
// refused because the service runs this very program; for check, 0 when a
// start would reach the creation of the VM, 1 otherwise.
int RunConsole(int argc, char** argv);

// The banner and the usage lines, naming the program as programName.
void PrintUsage(const char* programName);

#endif
