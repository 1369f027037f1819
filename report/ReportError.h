#ifndef REPORT_REPORT_ERROR_H
#define REPORT_REPORT_ERROR_H

// Writes one kernel start failure to the event log under the service name,
// as two insertion strings: the fixed message, then the detail (UTF-8; may
// be empty) that says why. The profile's echo prints both on standard
// output first; in a console run the other programs print them on standard
// error.
void ReportError(const char* message, const char* detail);

// From now on ReportError also shows each failure on the console: called by
// the console run, whose user is watching.
void ShowErrorsOnConsole();

// One line on standard error for a console command whose platform call
// failed: the call, the error code and the system's text for it.
void PrintFailedCall(const char* call, unsigned long error);

#endif
