#ifndef REPORT_REPORT_ERROR_H
#define REPORT_REPORT_ERROR_H

// The events the programs write to the Application log under the service
// name, each with two insertion strings: the fixed message, then the detail
// (UTF-8; may be empty) that says why.
enum EventKind {
    KernelStartFailed,  // error, event 2
    KernelStopFailed,   // error, event 3
    VmEndedProcess,     // error, event 4: the VM ended the process or aborted
    VmExitedCleanly,    // information, event 4: the VM ended the process with exit code 0
    OthersCanChange,    // warning, event 5: others can change what the service runs
    InitFileMisread,    // warning, event 6: the start reads the init file otherwise than it is written
};

// Writes one event. The profile's echo prints both strings on standard
// output first; in a console run the other programs print them on standard
// error.
void WriteEvent(EventKind kind, const char* message, const char* detail);

// One kernel start failure: WriteEvent(KernelStartFailed, ...).
void ReportError(const char* message, const char* detail);

// From now on ReportError also shows each failure on the console: called by
// the console run, whose user is watching.
void ShowErrorsOnConsole();

// One line on standard error for a console command whose platform call
// failed: the call, the error code and the system's text for it.
void PrintFailedCall(const char* call, unsigned long error);

#endif
