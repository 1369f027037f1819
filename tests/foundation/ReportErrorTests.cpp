// ReportError writes one event-log entry per failure under the program's
// service name, with the message and the detail as its two strings, and
// shows both on the console: on standard output where the profile echoes,
// on standard error in a console run of the others. Built for an echoing
// (CedarSvc) and a non-echoing (AlderSvc) profile.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "EndReports.h"
#include "FakeEventLog.h"
#include "ProductProfile.h"
#include "ProgramTexts.h"
#include "ReportError.h"
#include "StartFailures.h"
#include "SystemText.h"

namespace {

struct Shown {
    std::string output;
    std::string errors;
};

class ReportErrorTest : public ::testing::Test {
  protected:
    void SetUp() override { FakeEventLog::Reset(); }

    static Shown Report(const char* message, const char* detail) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        ReportError(message, detail);
        Shown shown;
        shown.errors = ::testing::internal::GetCapturedStderr();
        shown.output = ::testing::internal::GetCapturedStdout();
        return shown;
    }

    static std::string Lines(const std::string& message, const std::string& detail) {
        return message + "\n" + (detail.empty() ? "" : detail + "\n");
    }
};

// Two- and three-byte characters, past every piece the console is written in.
std::string LongDetail() {
    std::string text = "x";
    for (int i = 0; i < 300; ++i) text += "d\xc3\xa9j\xc3\xa0 \xe7\xab\xaf ";
    return text;
}

// Before the console run says so, only the echoing program shows anything;
// afterwards the others show the failure on standard error.
TEST_F(ReportErrorTest, WritesOneEntryWithMessageAndDetailAndShowsThemWhereTheyBelong) {
    struct Case {
        const char* message;
        std::string detail;
    };
    const Case cases[] = {
        {"Failed to load JVM DLL.", "Tried C:\\Halvern\\bin\\\\server\\jvm.dll\nWindows error 126: not found"},
        {"Error creating JVM", ""},
        // Text no single code page holds reaches the event log whole.
        {"Exception occurs starting up the Kernel",
         "java.net.BindException: Adresse d\xc3\xa9j\xc3\xa0 utilis\xc3\xa9"
         "e \xe7\xab\xaf\xe5\x8f\xa3 \xf0\x9f\x94\x8c"},
        // No % in either string is read as a format.
        {"Cannot locate the Kernel class", "100% of %s and %d %n"},
        // Longer than a report converts without memory: whole, no character split.
        {"Exception occurs stopping the Kernel", LongDetail()},
    };
    for (bool console : {false, true}) {
        if (console) ShowErrorsOnConsole();
        for (const Case& c : cases) {
            FakeEventLog::Reset();
            Shown shown = Report(c.message, c.detail.c_str());
            const std::string lines = Lines(c.message, c.detail);
            const bool echoes = ProgramUnderTest().echoErrors;
            EXPECT_EQ(shown.output, echoes ? lines : "") << c.message;
            EXPECT_EQ(shown.errors, !echoes && console ? lines : "") << c.message;

            std::vector<RecordedEvent> events = FakeEventLog::Events();
            ASSERT_EQ(events.size(), 1u) << c.message;
            EXPECT_EQ(events[0].source, ProgramUnderTest().serviceName);
            EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
            EXPECT_EQ(events[0].category, 1);
            EXPECT_EQ(events[0].eventId, 2u);
            EXPECT_FALSE(events[0].hadUserSid);
            EXPECT_TRUE(events[0].wide);
            EXPECT_EQ(events[0].strings, (std::vector<std::string>{c.message, c.detail}));
            EXPECT_EQ(events[0].rawDataSize, 0u);
            EXPECT_EQ(FakeEventLog::OpenSources(), 0) << "the event source is released after each report";
        }
    }
}

TEST_F(ReportErrorTest, StillShowsAndAttemptsTheEntryWhenTheSourceIsRefused) {
    FakeEventLog::RefuseRegistration();
    Shown shown = Report("Error creating JVM", "why");
    EXPECT_EQ(shown.output, ProgramUnderTest().echoErrors ? "Error creating JVM\nwhy\n" : "");
    std::vector<RecordedEvent> events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "") << "the entry is attempted on the null handle";
}

// Reports made on several threads at once each keep their own text: the VM
// may end the process on one of its threads while a start failure is
// reported on another.
TEST_F(ReportErrorTest, ReportsMadeAtOnceOnThreadsKeepTheirOwnText) {
    const std::string classes[2] = {"com/halvern/" + std::string(3000, 'a'), "com/halvern/" + std::string(3000, 'b')};
    const int kReports = 40;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (const std::string& name : classes)
        threads.emplace_back([&name] {
            for (int i = 0; i < kReports; ++i) ReportMissingMethods(name.c_str(), nullptr, nullptr, nullptr);
        });
    threads.emplace_back([] {
        for (int i = 0; i < kReports; ++i) ReportVmEnded(false, false, 7, nullptr);
    });
    for (std::thread& thread : threads) thread.join();
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();  // the console shows the same, and is not looked at here

    const std::vector<std::string> expected[3] = {
        {"One or more methods in Kernel class could not be found",
         "Missing from " + classes[0] + ": <init>()V start()V stop()V"},
        {"One or more methods in Kernel class could not be found",
         "Missing from " + classes[1] + ": <init>()V start()V stop()V"},
        {"The Java VM ended the process",
         "The Java VM ended the process with exit code 7 while the kernel was running."},
    };
    int seen[3] = {0, 0, 0};
    for (const RecordedEvent& event : FakeEventLog::Events()) {
        int kind = 0;
        while (kind < 3 && event.strings != expected[kind]) ++kind;
        ASSERT_LT(kind, 3) << "a garbled report: " << event.strings[1].substr(0, 200);
        ++seen[kind];
    }
    EXPECT_EQ(std::vector<int>(seen, seen + 3), std::vector<int>(3, kReports));
}

// The system's texts come with their inserts filled: %1 with what the
// caller names, never shown as "%1"; a text that does not fit is cut.
TEST(SystemText, FillsTheInsertsAndDropsTheLineEnd) {
    const std::string longPath = "C:\\" + std::string(600, 'd') + "\\server\\jvm.dll";
    struct Case {
        unsigned long error;
        const char* insert;
        size_t capacity;
        std::string text;
    };
    const Case cases[] = {
        {193, "C:\\Halvern\\bin\\\\server\\jvm.dll", 512,
         "C:\\Halvern\\bin\\\\server\\jvm.dll is not a valid Win32 application."},
        {193, "100% %1 %s", 512, "100% %1 %s is not a valid Win32 application."},
        {193, nullptr, 512, " is not a valid Win32 application."},
        {193, longPath.c_str(), 1024, longPath + " is not a valid Win32 application."},
        // Too long for the buffer: filled here, and cut, also in the middle
        // of a word.
        {193, longPath.c_str(), 100, longPath.substr(0, 99)},
        {193, "jvm.dll", 20, "jvm.dll is not a va"},
        {2, "ignored", 512, "The system cannot find the file specified."},
        {123456, "x", 512, ""},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.capacity, 'x');
        unsigned long length = SystemText(c.error, c.insert, text.data(), c.capacity);
        EXPECT_EQ(std::string(text.data()), c.text) << c.error << " " << c.capacity;
        EXPECT_EQ(length, c.text.size()) << c.error << " " << c.capacity;
    }
}

}  // namespace
