// The block on the registered service: its start type, account, command
// line and preshutdown time-out, read from the service manager and changed
// in nothing.
#include "CheckBlocks.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "CheckWriter.h"
#include "ProductProfile.h"
#include "Registration.h"

static const char* StartTypeName(DWORD startType) {
    switch (startType) {
        case SERVICE_BOOT_START:
            return "boot start";
        case SERVICE_SYSTEM_START:
            return "system start";
        case SERVICE_AUTO_START:
            return "automatic start";
        case SERVICE_DEMAND_START:
            return "demand start";
        case SERVICE_DISABLED:
            return "disabled";
        default:
            return "an unknown start type";
    }
}

static void JudgeImagePath(const char* imagePath, const char* modulePath) {
    char* expected = ServiceCommandLine(modulePath);
    bool exact = expected != nullptr && lstrcmpiA(imagePath, expected) == 0;
    free(expected);
    char program[32768];
    CommandLineProgram(imagePath, program, sizeof program);
    bool thisProgram = lstrcmpiA(program, modulePath) == 0;
    if (exact || (thisProgram && imagePath[0] == '"')) {
        BeginLine(InfoLine);
        Say("its command line names this program");
    } else if (thisProgram) {
        BeginLine(ProblemLine);
        Say("its command line names this program without quotes, though its path has a blank: the service manager "
            "may start another program first; run uninstall, then install");
        NameProblem("the service's command line lacks quotes");
    } else {
        BeginLine(ProblemLine);
        Say("its command line names another copy of the program, which the service manager starts: ");
        SayAnsi(program);
        Say("; to start this one, run uninstall, then install from here");
        NameProblem("the service starts another copy of the program");
    }
    EndLine();
}

static void SayService(const QUERY_SERVICE_CONFIGA* config, const char* modulePath) {
    BeginLine(config->dwStartType == SERVICE_DISABLED ? ProblemLine : InfoLine);
    Say("installed: ");
    Say(StartTypeName(config->dwStartType));
    Say(", account ");
    SayAnsi(config->lpServiceStartName != nullptr ? config->lpServiceStartName : "");
    if (config->dwStartType == SERVICE_DISABLED) {
        Say(": the service manager will not start it");
        NameProblem("the service is disabled");
    }
    EndLine();
    JudgeImagePath(config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "", modulePath);
}

// What install sets: before a reboot, the service manager waits this long
// for the kernel's stop, then ends the process.
static const DWORD kInstalledPreshutdownTimeout = 3 * 60 * 1000;

// A time-out in whole minutes, seconds, or else milliseconds.
static void SayDuration(DWORD milliseconds) {
    if (milliseconds % 60000 == 0 && milliseconds > 0) {
        SayNumber(static_cast<long>(milliseconds / 60000));
        Say(milliseconds == 60000 ? " minute" : " minutes");
    } else if (milliseconds % 1000 == 0) {
        SayNumber(static_cast<long>(milliseconds / 1000));
        Say(" s");
    } else {
        SayNumber(static_cast<long>(milliseconds));
        Say(" ms");
    }
}

static void SayPreshutdownTimeout(SC_HANDLE service) {
    SERVICE_PRESHUTDOWN_INFO info = {0};
    DWORD needed = 0;
    if (!QueryServiceConfig2A(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, reinterpret_cast<LPBYTE>(&info), sizeof info,
                              &needed)) {
        DWORD error = GetLastError();
        BeginLine(NoticeLine);
        Say("its preshutdown time-out could not be read: ");
        SayFailedCall("QueryServiceConfig2A", error);
        EndLine();
        return;
    }
    bool enough = info.dwPreshutdownTimeout >= kInstalledPreshutdownTimeout;
    BeginLine(enough ? InfoLine : NoticeLine);
    Say(enough ? "before a reboot, the service manager waits up to "
               : "before a reboot, the service manager waits only ");
    SayDuration(info.dwPreshutdownTimeout);
    Say(" for the kernel's stop (its preshutdown time-out)");
    if (!enough) Say(", then ends it: run uninstall, then install, which sets 3 minutes");
    EndLine();
}

// The registered configuration, in a heap block; null, with the failed
// call said, when it cannot be read.
static QUERY_SERVICE_CONFIGA* QueryConfig(SC_HANDLE service) {
    DWORD needed = 0;
    if (QueryServiceConfigA(service, nullptr, 0, &needed) || GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        auto* config = static_cast<QUERY_SERVICE_CONFIGA*>(malloc(needed > 0 ? needed : 1));
        if (config != nullptr && QueryServiceConfigA(service, config, needed, &needed)) return config;
        free(config);
        if (config == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    DWORD error = GetLastError();
    BeginLine(NoticeLine);
    Say("its configuration could not be read: ");
    SayFailedCall("QueryServiceConfigA", error);
    EndLine();
    return nullptr;
}

void CheckService(CheckContext* context) {
    const char* modulePath = context->modulePath;
    BeginBlock("The service ", Profile.serviceName);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        DWORD error = GetLastError();
        BeginLine(NoticeLine);
        Say("the service manager could not be asked: ");
        SayFailedCall("OpenSCManagerA", error);
        EndLine();
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, Profile.serviceName, SERVICE_QUERY_CONFIG);
    DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (service == nullptr && error == ERROR_SERVICE_DOES_NOT_EXIST) {
        BeginLine(NoticeLine);
        Say("not installed: the command install registers this program as the service");
        EndLine();
    } else if (service == nullptr) {
        BeginLine(NoticeLine);
        Say("the service could not be opened: ");
        SayFailedCall("OpenServiceA", error);
        EndLine();
    } else {
        QUERY_SERVICE_CONFIGA* config = QueryConfig(service);
        if (config != nullptr) {
            SayService(config, modulePath);
            SayPreshutdownTimeout(service);
        }
        free(config);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}
