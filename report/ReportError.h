#ifndef REPORT_REPORT_ERROR_H
#define REPORT_REPORT_ERROR_H

// Writes one kernel start failure to the event log under the service name,
// and first to standard output when the product profile asks for an echo.
void ReportError(const char* message);

#endif
