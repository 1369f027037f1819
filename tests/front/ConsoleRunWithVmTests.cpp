// The console run of a built program with the stand-in VM installed next to
// it, typed at through a pipe: when the kernel starts and stops, and on
// which thread.
#include <gtest/gtest.h>

#include <string>

#include "Installation.h"
#include "Process.h"
#include "ProgramTexts.h"

namespace {

// Each prompt is on the console before the program waits, and the kernel
// starts only at the first ENTER and stops only at the second.
TEST(ConsoleRunWithVm, StartsAtTheFirstEnterAndStopsAtTheSecondOnTheSameThread) {
    Installation install;
    std::string installed = install.addProgram(ProgramNamed("AlderSvc").builtPath, "AlderSvc");
    install.installStandinVm();
    ChildProcess child(installed, {"AlderSvc", "run"});

    EXPECT_EQ(child.ReadUntil(kStartPrompt), install.windowsPathOf("AlderSvc") + kStartPrompt);
    EXPECT_TRUE(install.standinLog().empty()) << "nothing is loaded before the first ENTER";

    child.Write("\n");
    EXPECT_EQ(child.ReadUntil(kStopPrompt), kStopPrompt);
    auto calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][1], "start");

    child.Write("\n");
    EXPECT_EQ(child.ReadToEnd(), "");
    EXPECT_EQ(child.Finish().exitCode, 0);
    calls = KernelCallsOf(install.standinLog());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1][1], "stop");
    EXPECT_EQ(FieldOf(calls[1], "thread"), FieldOf(calls[0], "thread"));
    EXPECT_EQ(FieldOf(calls[1], "ref"), "valid");
    EXPECT_TRUE(EntriesOf(install.standinLog(), "WrongThreadEnv").empty());
}

// What is typed at the first prompt: the first character ends the first
// wait, the rest of the line the second; at end of input both end at once.
TEST(ConsoleRunWithVm, TypedLinesAndEndOfInput) {
    struct Case {
        const char* what;
        std::string input;
        bool closeInput;
    };
    const Case cases[] = {
        {"ENTER twice", "\n\n", false},
        {"a line with text, input left open", "go on\n", false},
        {"end of input", "", true},
    };
    for (const Case& c : cases) {
        Installation install;
        std::string installed = install.addProgram(ProgramNamed("HazelSvc").builtPath, "HazelSvc");
        install.installStandinVm();
        ChildProcess child(installed, {"HazelSvc", "run"});
        child.Write(c.input);
        if (c.closeInput) child.CloseInput();
        EXPECT_EQ(child.ReadToEnd(), install.windowsPathOf("HazelSvc") + kStartPrompt + kStopPrompt) << c.what;
        EXPECT_EQ(child.Finish().exitCode, 0) << c.what;
        auto calls = KernelCallsOf(install.standinLog());
        ASSERT_EQ(calls.size(), 2u) << c.what;
        EXPECT_EQ(calls[0][1], "start") << c.what;
        EXPECT_EQ(calls[1][1], "stop") << c.what;
    }
}

// A kernel whose start throws is not stopped: the run shows why, and the
// second ENTER ends it with exit code 1.
TEST(ConsoleRunWithVm, KernelThatFailedToStartIsNotStopped) {
    Installation install;
    std::string installed = install.addProgram(ProgramNamed("CedarSvc").builtPath, "CedarSvc");
    install.installStandinVm("fail=start");
    ChildProcess child(installed, {"CedarSvc", "run"});

    EXPECT_EQ(child.ReadUntil(kStartPrompt), install.windowsPathOf("CedarSvc") + kStartPrompt);
    child.Write("\n");
    // The echo, then the throwable and its trace, then the stop prompt.
    const std::string shown = child.ReadUntil(kStopPrompt);
    const std::string echo = "Exception occurs starting up the Kernel\njava.lang.RuntimeException: stand-in failure\n";
    EXPECT_EQ(shown.substr(0, echo.size()), echo);
    EXPECT_NE(shown.find("\n\tat "), std::string::npos) << shown;
    child.Write("\n");
    EXPECT_EQ(child.ReadToEnd(), "");
    EXPECT_EQ(child.Finish().exitCode, 1);

    auto log = install.standinLog();
    auto calls = KernelCallsOf(log);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0][1], "start");
    EXPECT_TRUE(EntriesOf(log, "AttachCurrentThread").empty());
}

// An init file the start reads otherwise than it is written: the run
// shows the warning on standard error and goes on.
TEST(ConsoleRunWithVm, AnInitFileSavedAsUtf16IsShownAndTheKernelStillRuns) {
    Installation install;
    std::string installed = install.addProgram(ProgramNamed("AlderSvc").builtPath, "AlderSvc");
    install.installStandinVm();
    install.writeInitFile("alder.init", Installation::Utf16("-Xmx64m\n"));
    ChildProcess child(installed, {"AlderSvc", "run"});
    child.Write("\n\n");
    EXPECT_EQ(child.ReadToEnd(), install.windowsPathOf("AlderSvc") + kStartPrompt + kStopPrompt);
    ProcessResult result = child.Finish();
    EXPECT_EQ(result.errors, "The init file is not read as it is written\n" + install.windowsPathOf("alder.init") +
                                 "\nsaved as UTF-16: the start reads none of its 1 line; save it as ANSI\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(KernelCallsOf(install.standinLog()).size(), 2u);
}

// The VM ending the process in a console run: its words on standard error
// as they come, then what the event says (a failed start shown as always),
// and the process ends with the VM's code, wherever the run was.
TEST(ConsoleRunWithVm, VmThatEndsTheProcessIsShownAndEndsTheRun) {
    struct Case {
        const char* conf;
        std::string output;  // after the program's path
        std::string errors;
        int exitCode;
    };
    const Case cases[] = {
        {"fail=create-abort", kStartPrompt,
         "Error occurred during initialization of VM\n"
         "Could not reserve enough space for 3145728KB object heap\n"
         "Error creating JVM\n"
         "The Java VM ended the process while it was being created, by aborting.\n"
         "The VM printed:\n"
         "Error occurred during initialization of VM\n"
         "Could not reserve enough space for 3145728KB object heap\n"
         "The VM was handed these options:\n"
         "-Dapplication.home=..\n-Djava.library.path=..\\lib\n-Xbootclasspath/p:\nvfprintf\nexit\nabort\n",
         1},
        {"exit-after-start=7", std::string(kStartPrompt) + kStopPrompt,
         "stand-in: exiting with code 7\n"
         "The Java VM ended the process\n"
         "The Java VM ended the process with exit code 7 while the kernel was running.\n"
         "What it printed last:\n"
         "stand-in: exiting with code 7\n",
         7},
    };
    for (const Case& c : cases) {
        Installation install;
        std::string installed = install.addProgram(ProgramNamed("AlderSvc").builtPath, "AlderSvc");
        install.installStandinVm(c.conf);
        ChildProcess child(installed, {"AlderSvc", "run"});
        child.Write("\n");
        EXPECT_EQ(child.ReadToEnd(), install.windowsPathOf("AlderSvc") + c.output) << c.conf;
        ProcessResult result = child.Finish();
        EXPECT_EQ(result.errors, c.errors) << c.conf;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.conf;
    }
}

}  // namespace
