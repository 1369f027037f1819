// The five built programs, run from a console as a user would: the usage
// text, the registration commands without a service manager, and the run of
// the kernel between two presses of ENTER, typed through a pipe.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Installation.h"
#include "Process.h"
#include "ProgramTexts.h"

namespace {

// Both streams redirected, or one of them a console: each text goes to its
// own stream all the same (on a console it is written to the console).
struct Streams {
    const char* what;
    bool outputOnTerminal;
    bool errorsOnTerminal;
};
const Streams kStreams[] = {
    {"", false, false}, {" with output on a console", true, false}, {" with errors on a console", false, true}};

ProcessOptions On(const Streams& streams) {
    ProcessOptions options;
    options.outputOnTerminal = streams.outputOnTerminal;
    options.errorsOnTerminal = streams.errorsOnTerminal;
    return options;
}

std::vector<std::string> Arguments(const std::string& programName, std::vector<std::string> words) {
    words.insert(words.begin(), programName);
    return words;
}

TEST(ConsoleProgram, PrintsTheUsageTextForAnythingButOneExactCommandWord) {
    const std::vector<std::vector<std::string>> commandLines = {
        {},           {"Install"},  {"UNINSTALL"}, {"RUN"}, {"install", "now"}, {"run", "run"},
        {"uninstal"}, {"install "}, {"/install"},  {""},    {"help"},
    };
    for (const ProgramRow& program : kPrograms) {
        for (const std::string& programName : {std::string(program.builtPath), std::string("svc%s%d.exe")}) {
            for (const auto& words : commandLines) {
                ProcessResult run = RunProcess(program.builtPath, Arguments(programName, words));
                std::string shown = words.empty() ? "(none)" : words[0] + (words.size() > 1 ? " ..." : "");
                EXPECT_EQ(run.output, UsageText(program, programName)) << program.name << " " << shown;
                EXPECT_EQ(run.exitCode, 0) << program.name << " " << shown;
            }
        }
    }
}

TEST(ConsoleProgram, RegistrationCommandsWithoutAServiceManagerSaySo) {
    for (const ProgramRow& program : kPrograms) {
        for (const Streams& streams : kStreams) {
            for (const char* command : {"install", "uninstall"}) {
                ProcessResult run = RunProcess(program.builtPath, {program.name, command}, "", On(streams));
                const std::string what = std::string(program.name) + " " + command + streams.what;
                EXPECT_EQ(run.output, "Error opening service control manager\n") << what;
                EXPECT_EQ(run.errors, "OpenSCManagerA failed with error 5: Access is denied.\n") << what;
                EXPECT_EQ(run.exitCode, 5) << what;
            }
        }
    }
}

// Without server/jvm.dll the start fails; the run still shows its stop
// prompt and waits, and only the echoing program prints the reason.
// Every program shows the failure and its detail before the stop prompt:
// the echoing one on standard output as ever, the others on standard error,
// so that their standard output stays as it was. The run then exits 1.
TEST(ConsoleRun, FailedStartShowsWhyStillPromptsAndExitsWithOne) {
    for (const ProgramRow& program : kPrograms) {
        for (const Streams& streams : kStreams) {
            for (const char* input : {"\n\n", ""}) {
                Installation install;
                std::string installed = install.addProgram(program.builtPath, program.name);
                ProcessResult run = RunProcess(installed, {program.name, "run"}, input, On(streams));
                const std::string failure =
                    "Failed to load JVM DLL.\nTried " + install.moduleDirectory() +
                    "\\server\\jvm.dll\nWindows error 126: The specified module could not be found.\n";
                const std::string shown = program.echoErrors ? failure : "";
                const std::string what =
                    std::string(program.name) + (*input == 0 ? " at end of input" : "") + streams.what;
                EXPECT_EQ(run.output, install.windowsPathOf(program.name) + kStartPrompt + shown + kStopPrompt) << what;
                EXPECT_EQ(run.errors, program.echoErrors ? "" : failure) << what;
                EXPECT_EQ(run.exitCode, 1) << what;
            }
        }
    }
}

}  // namespace
