// The console run's first line, for program paths that do not fit its
// buffer, on Windows versions that do and do not terminate a cut name.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>

#include "Console.h"
#include "FakeEventLog.h"
#include "ScriptedModulePath.h"

namespace {

const std::string kPrompts = "Press <ENTER> to start\nRunning. Press <ENTER> to stop\n";

class ConsoleRunBuffer : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeEventLog::Reset();
        ASSERT_NE(freopen("/dev/null", "r", stdin), nullptr);  // both waits end at once
    }
    void TearDown() override { ScriptedModulePath::Reset(); }

    static std::string Run() {
        char program[] = "AlderSvc";
        char command[] = "run";
        char* argv[] = {program, command, nullptr};
        ::testing::internal::CaptureStdout();
        RunConsole(2, argv);
        return ::testing::internal::GetCapturedStdout();
    }
};

std::string PathOfLength(size_t length) {
    std::string path = "C:\\Halvern\\";
    while (path.size() < length) path += std::string(std::min<size_t>(length - path.size(), 60), 'd') + "\\";
    path.resize(length - 4);
    return path + ".exe";
}

TEST_F(ConsoleRunBuffer, PrintsAsMuchOfTheProgramPathAsFitsAndNeverMore) {
    using ScriptedModulePath::CutName;
    for (CutName cut : {CutName::Terminated, CutName::Unterminated}) {
        for (size_t length : {1023u, 1024u, 1500u}) {
            const std::string path = PathOfLength(length);
            ScriptedModulePath::Set(path, cut);
            FakeEventLog::Reset();
            EXPECT_EQ(Run(), path.substr(0, 1023) + kPrompts)
                << length << (cut == CutName::Unterminated ? " unterminated" : "");
            // The run went on: the start was tried, and failed for lack of a VM.
            ASSERT_EQ(FakeEventLog::Events().size(), 1u);
            EXPECT_EQ(FakeEventLog::Events()[0].strings[0], "Failed to load JVM DLL.");
        }
    }
}

TEST_F(ConsoleRunBuffer, UnreadableProgramPathPrintsNothingBeforeThePrompt) {
    ScriptedModulePath::Fail();
    EXPECT_EQ(Run(), kPrompts);
}

}  // namespace
