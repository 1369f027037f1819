// What in the options hands the process to others: a debugger or JMX that
// anyone who reaches its port may use, and commands the VM runs. The service
// runs as LocalSystem, so whoever controls its VM controls the machine.
#include "OptionRisks.h"

#include <windows.h>

#include <string.h>

#include "CheckWriter.h"

// ------------------------------------------------------------ a debugger that listens

// Copies the value of `key` among an agent's comma-separated arguments.
static bool AgentArgument(const char* arguments, const char* key, char* value, size_t capacity) {
    size_t keyLength = strlen(key);
    for (const char* at = arguments;;) {
        const char* end = strchr(at, ',');
        size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (length > keyLength && strncmp(at, key, keyLength) == 0 && at[keyLength] == '=') {
            size_t valueLength = length - keyLength - 1 < capacity ? length - keyLength - 1 : capacity - 1;
            memcpy(value, at + keyLength + 1, valueLength);
            value[valueLength] = '\0';
            return true;
        }
        if (end == nullptr) return false;
        at = end + 1;
    }
}

static const char* JdwpArguments(const char* option) {
    static const char* const kJdwpOptions[] = {"-agentlib:jdwp=", "-Xrunjdwp:"};
    for (const char* prefix : kJdwpOptions)
        if (strncmp(option, prefix, strlen(prefix)) == 0) return option + strlen(prefix);
    return nullptr;
}

enum Listening { NotListening, OnLoopback, OnEveryInterface, OnAnotherAddress, OnPortAlone };

// Where a JDWP agent waits for a debugger: only with server=y, and over
// sockets (shared memory reaches no other machine). address=[host:]port,
// or none for a port the agent picks.
static Listening JdwpListening(const char* arguments) {
    char value[512];
    if (!AgentArgument(arguments, "server", value, sizeof value) || strcmp(value, "y") != 0) return NotListening;
    if (AgentArgument(arguments, "transport", value, sizeof value) && strcmp(value, "dt_socket") != 0)
        return NotListening;
    if (!AgentArgument(arguments, "address", value, sizeof value)) return OnPortAlone;
    char* colon = strrchr(value, ':');
    if (colon == nullptr) return OnPortAlone;
    *colon = '\0';
    static const char* const kEveryInterface[] = {"*", "0.0.0.0", "::", "[::]"};
    for (const char* host : kEveryInterface)
        if (strcmp(value, host) == 0) return OnEveryInterface;
    bool loopback = lstrcmpiA(value, "localhost") == 0 || strncmp(value, "127.", 4) == 0 || strcmp(value, "::1") == 0 ||
                    strcmp(value, "[::1]") == 0;
    return loopback ? OnLoopback : OnAnotherAddress;
}

// A port alone means every interface to Java 8 and earlier, and loopback
// to Java 9 and later; a VM that did not tell its generation gets the doubt.
static void JudgeJdwp(const char* option, const CheckContext* context) {
    const char* arguments = JdwpArguments(option);
    if (arguments == nullptr) return;
    Listening listening = JdwpListening(arguments);
    bool classic = context->libraryAnswered && context->generation == ClassicVm;
    bool modular = context->libraryAnswered && context->generation == ModularVm;
    if (listening == NotListening || listening == OnLoopback || (listening == OnPortAlone && modular)) return;
    BeginLine(ProblemLine);
    SayOption(option);
    Say(" listens for a debugger on ");
    if (listening == OnEveryInterface)
        Say("every network interface");
    else if (listening == OnAnotherAddress)
        Say("an address that is not loopback");
    else if (classic)
        Say("every network interface (a Java 8 or earlier VM takes a port alone so)");
    else
        Say("every network interface if the VM is Java 8 or earlier (Java 9 and later take a port alone as "
            "loopback)");
    Say(": anyone who can reach it can run code as LocalSystem; let it listen on 127.0.0.1 only, or remove it");
    EndLine();
    NameProblem("a debugger agent listens beyond this machine");
}

// ------------------------------------------------------------ JMX without authentication

static const char kJmxAuthenticate[] = "-Dcom.sun.management.jmxremote.authenticate=";
static const char kJmxPort[] = "-Dcom.sun.management.jmxremote.port=";

// The VM's last word on each property wins.
static void NoteJmx(const char* option, OptionJudging* judging) {
    if (strncmp(option, kJmxAuthenticate, sizeof kJmxAuthenticate - 1) == 0)
        judging->jmxAuthenticate = option + sizeof kJmxAuthenticate - 1;
    if (strncmp(option, kJmxPort, sizeof kJmxPort - 1) == 0) judging->jmxPort = option + sizeof kJmxPort - 1;
}

static void JudgeJmx(const char* authenticate, const char* port) {
    if (authenticate == nullptr || strcmp(authenticate, "false") != 0 || port == nullptr || port[0] == '\0') return;
    BeginLine(ProblemLine);
    Say("JMX takes connections on port ");
    SayAnsi(port);
    Say(" without authentication (com.sun.management.jmxremote.authenticate=false): anyone who can reach it can "
        "run code as LocalSystem; remove that option, or the port");
    EndLine();
    NameProblem("JMX takes connections without authentication");
}

// ------------------------------------------------------------ commands the VM runs

static void NoteCommands(const char* option) {
    static const struct {
        const char* prefix;
        const char* when;
    } kCommandOptions[] = {
        {"-XX:OnError=", "when the VM fails"},
        {"-XX:OnOutOfMemoryError=", "when the VM runs out of memory"},
    };
    for (const auto& command : kCommandOptions) {
        if (strncmp(option, command.prefix, strlen(command.prefix)) != 0) continue;
        BeginLine(NoticeLine);
        SayOption(option);
        Say(": its commands run as LocalSystem ");
        Say(command.when);
        EndLine();
    }
}

// ------------------------------------------------------------ the judge

void JudgeOption(const char* option, OptionJudging* judging) {
    JudgeJdwp(option, judging->context);
    NoteJmx(option, judging);
    NoteCommands(option);
}

void EndJudging(const OptionJudging& judging) { JudgeJmx(judging.jmxAuthenticate, judging.jmxPort); }
