// ReportError writes one event-log entry per message under the program's
// service name, and echoes the message first where the profile asks for it.
// Built for an echoing (CedarSvc) and a non-echoing (AlderSvc) profile.
#include <gtest/gtest.h>

#include <string>

#include "FakeEventLog.h"
#include "ProductProfile.h"
#include "ProgramTexts.h"
#include "ReportError.h"

namespace {

class ReportErrorTest : public ::testing::Test {
  protected:
    void SetUp() override { FakeEventLog::Reset(); }

    std::string ReportCapturingStdout(const char* message) {
        ::testing::internal::CaptureStdout();
        ReportError(message);
        return ::testing::internal::GetCapturedStdout();
    }

    static std::string ExpectedEcho(const std::string& message) {
        return ProgramUnderTest().echoErrors ? message + "\n" : "";
    }
};

TEST_F(ReportErrorTest, WritesOneErrorEntryUnderTheServiceName) {
    const char* messages[] = {
        "Failed to load JVM DLL.",
        "Error getting JVM default arguments.",
        "Error creating JVM",
        "Cannot locate the Kernel class",
        "One or more methods in Kernel class could not be found",
        "Exception occurs starting up the Kernel",
    };
    for (const char* message : messages) {
        FakeEventLog::Reset();
        EXPECT_EQ(ReportCapturingStdout(message), ExpectedEcho(message));
        std::vector<RecordedEvent> events = FakeEventLog::Events();
        ASSERT_EQ(events.size(), 1u) << message;
        EXPECT_EQ(events[0].source, ProgramUnderTest().serviceName);
        EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(events[0].category, 1);
        EXPECT_EQ(events[0].eventId, 2u);
        EXPECT_FALSE(events[0].hadUserSid);
        EXPECT_EQ(events[0].strings, std::vector<std::string>{message});
        EXPECT_EQ(events[0].rawDataSize, 0u);
        EXPECT_EQ(FakeEventLog::OpenSources(), 0) << "the event source is released after each report";
    }
}

TEST_F(ReportErrorTest, PrintsPercentSignsLiterally) {
    const char* message = "100% of %s and %d %n";
    EXPECT_EQ(ReportCapturingStdout(message), ExpectedEcho(message));
    ASSERT_EQ(FakeEventLog::Events().size(), 1u);
    EXPECT_EQ(FakeEventLog::Events()[0].strings[0], message);
}

TEST_F(ReportErrorTest, StillEchoesAndAttemptsTheEntryWhenTheSourceIsRefused) {
    FakeEventLog::RefuseRegistration();
    EXPECT_EQ(ReportCapturingStdout("Error creating JVM"), ExpectedEcho("Error creating JVM"));
    std::vector<RecordedEvent> events = FakeEventLog::Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, "") << "the entry is attempted on the null handle";
}

}  // namespace
