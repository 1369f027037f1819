// The text of a pending Java exception, taken in-process from the stand-in
// VM (loaded from a throw-away installation, so that it reads the
// standin.conf each case writes there). Each exception is thrown by the
// stand-in's kernel start, as the host meets it.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <jni.h>

#include <memory>
#include <string>
#include <vector>

#include "Detail.h"
#include "Installation.h"
#include "ThrowableText.h"

namespace {

typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM** vm, void** env, void* args);
typedef jint(JNICALL* LiveLocalRefsFunction)(JNIEnv* env);

const char kDefaultText[] = "java.lang.RuntimeException: stand-in failure";
const char kToStringThrew[] = "(toString threw java.lang.UnsupportedOperationException: stand-in toString failure)";

struct Outcome {
    bool returned = false;
    std::string detail;
    bool cut = false;
    std::vector<std::string> log;  // the stand-in's record of the call alone
    int leakedRefs = 0;
    bool stillPending = false;
};

class ThrowableTextTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        install_ = new Installation;
        install_->installStandinVm();
        // Never closed: the stand-in's objects live as long as the process.
        void* library = dlopen((install_->server() / "jvm.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto createVm = reinterpret_cast<CreateJavaVMFunction>(dlsym(library, "JNI_CreateJavaVM"));
        liveLocalRefs_ = reinterpret_cast<LiveLocalRefsFunction>(dlsym(library, "StandinLiveLocalRefs"));
        ASSERT_NE(createVm, nullptr);
        ASSERT_NE(liveLocalRefs_, nullptr);
        JavaVMInitArgs args = {};
        args.version = JNI_VERSION_1_8;
        JavaVM* vm = nullptr;
        ASSERT_EQ(createVm(&vm, reinterpret_cast<void**>(&env_), &args), JNI_OK);
    }

    static void TearDownTestSuite() {
        delete install_;
        install_ = nullptr;
    }

    static void Configure(const std::string& conf) {
        Installation::WriteFile(install_->server() / "standin.conf", conf + "\n");
    }

    // Leaves pending what the stand-in's kernel start throws with `conf`.
    static void ThrowFromStart(const std::string& conf) {
        Configure("fail=start\n" + conf);
        jclass type = env_->FindClass("com/halvern/alder/service/ServerKernel");
        jobject kernel = env_->NewObject(type, env_->GetMethodID(type, "<init>", "()V"));
        ASSERT_FALSE(env_->ExceptionCheck());
        env_->CallVoidMethod(kernel, env_->GetMethodID(type, "start", "()V"));
        env_->DeleteLocalRef(kernel);
        env_->DeleteLocalRef(type);
    }

    static Outcome Describe(bool withStackTrace, const char* before = "") {
        Outcome outcome;
        std::unique_ptr<Detail> detail(new Detail);
        ClearDetail(detail.get());
        AppendText(detail.get(), before);
        int refsBefore = liveLocalRefs_(env_);
        Installation::WriteFile(install_->server() / "standin.log", "");
        outcome.returned = AppendPendingThrowable(env_, detail.get(), withStackTrace);
        outcome.log = install_->standinLog();
        outcome.leakedRefs = liveLocalRefs_(env_) - refsBefore;
        outcome.stillPending = env_->ExceptionCheck() == JNI_TRUE;
        env_->ExceptionClear();
        outcome.detail.assign(detail->text, detail->length);
        outcome.cut = detail->cut;
        return outcome;
    }

    // Lines that start with `prefix` and hold `part`.
    static int Count(const std::vector<std::string>& log, const std::string& prefix, const std::string& part = "") {
        int count = 0;
        for (const std::string& line : log)
            count += line.rfind(prefix, 0) == 0 && line.find(part) != std::string::npos ? 1 : 0;
        return count;
    }

    // What JNI forbids, and what the stand-in notes of it.
    static void ExpectCleanJni(const Outcome& outcome) {
        EXPECT_FALSE(outcome.stillPending);
        EXPECT_EQ(outcome.leakedRefs, 0);
        for (const char* fault : {"CallWithExceptionPending", "CallWithoutExceptionCheck", "WrongThreadEnv",
                                  "LocalRefsOverCapacity", "PopLocalFrameWithoutPush"})
            EXPECT_EQ(Count(outcome.log, fault), 0) << fault;
        for (const std::string& line : outcome.log) EXPECT_EQ(line.find("=invalid"), std::string::npos) << line;
        EXPECT_EQ(Count(outcome.log, "PopLocalFrame\t"), Count(outcome.log, "PushLocalFrame\t", "\tresult=0"))
            << "each frame pushed is popped";
    }

    static Installation* install_;
    static JNIEnv* env_;
    static LiveLocalRefsFunction liveLocalRefs_;
};

Installation* ThrowableTextTest::install_ = nullptr;
JNIEnv* ThrowableTextTest::env_ = nullptr;
LiveLocalRefsFunction ThrowableTextTest::liveLocalRefs_ = nullptr;

// ------------------------------------------------------------ the texts

struct TextCase {
    std::string name;
    std::string conf;  // beside fail=start
    bool withStackTrace;
    std::string detail;
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

std::string Causes(int count) {
    std::string conf;
    for (int i = 1; i <= count; ++i) conf += "\ncause=java.io.IOException: cause " + std::to_string(i);
    return conf;
}

std::string CausedByLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "\nCaused by: java.io.IOException: cause " + std::to_string(i);
    return text;
}

const char kTwoLevels[] =
    "throwable=java.lang.IllegalStateException: bind failed\ncause=java.net.BindException: in use";
const char kTwoLevelsText[] = "java.lang.IllegalStateException: bind failed\nCaused by: java.net.BindException: in use";
const char kTwoLevelsTrace[] =
    "java.lang.IllegalStateException: bind failed\n"
    "\tat com.halvern.standin.Kernel.start(Kernel.java:42)\n"
    "Caused by: java.net.BindException: in use\n"
    "\tat com.halvern.standin.Kernel.step1(Kernel.java:1)\n"
    "\t... 1 more\n";

std::vector<TextCase> TextCases() {
    return {
        {"DefaultThrowable", "", false, kDefaultText},
        {"PlainMessage", "throwable=java.lang.IllegalStateException: port in use", false,
         "java.lang.IllegalStateException: port in use"},
        {"NonAsciiKeptAsUtf8", "throwable=java.net.BindException: Adresse déjà utilisée 端口 𝄞", false,
         "java.net.BindException: Adresse déjà utilisée 端口 𝄞"},
        {"LoneSurrogateReplaced", "throwable=bad \xED\xA0\x80 unit", false, "bad \xEF\xBF\xBD unit"},
        {"NulKeptWithTheRest", "throwable=be\\u0000fore\\u0000\ncause=x\\u0000y\\u00e9\\uzz", true,
         "be\\0fore\\0\nCaused by: x\\0y\xc3\xa9\\uzz\n\nbe\\0fore\\0\n"
         "\tat com.halvern.standin.Kernel.start(Kernel.java:42)\n"
         "Caused by: x\\0y\xc3\xa9\\uzz\n\tat com.halvern.standin.Kernel.step1(Kernel.java:1)\n\t... 1 more\n"},
        {"CauseChain", kTwoLevels, false, kTwoLevelsText},
        {"TenCausesAtMost", "throwable=top" + Causes(14), false, "top" + CausedByLines(10)},
        {"CircularCausesStop", "throwable=top" + Causes(3) + "\ncycle=1", false, "top" + CausedByLines(3)},
        {"ToStringThrows", kTwoLevels + std::string("\nfail=tostring"), false,
         kToStringThrew + std::string("\nCaused by: ") + kToStringThrew},
        {"ToStringReturnsNull", "fail=tostring-null", false, "null"},
        {"ToStringNotFound", "fail=method-toString", false, ""},
        {"StackTraceAfterABlankLine", kTwoLevels, true, kTwoLevelsText + std::string("\n\n") + kTwoLevelsTrace},
        {"StackTraceThatThrowsLeftOut", kTwoLevels + std::string("\nfail=tostring"), true,
         kToStringThrew + std::string("\nCaused by: ") + kToStringThrew},
        {"NoFrameNoText", kTwoLevels + std::string("\nfail=frame"), true, ""},
        {"NoStringWriterNoTrace", kTwoLevels + std::string("\nfail=new-java/io/StringWriter"), true, kTwoLevelsText},
        {"NoPrintWriterNoTrace", kTwoLevels + std::string("\nfail=new-java/io/PrintWriter"), true, kTwoLevelsText},
    };
}

class ThrowableTextCaseTest : public ThrowableTextTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(ThrowableTextCaseTest, TextAndNothingLeftBehind) {
    ThrowFromStart(GetParam().conf);
    Outcome outcome = Describe(GetParam().withStackTrace);
    EXPECT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.detail, GetParam().detail);
    EXPECT_FALSE(outcome.cut);
    ExpectCleanJni(outcome);
    ASSERT_GE(outcome.log.size(), 2u);
    EXPECT_EQ(outcome.log[0], "ExceptionOccurred\tresult=1");
    EXPECT_EQ(outcome.log[1], "ExceptionClear") << "cleared before anything else";
}

INSTANTIATE_TEST_SUITE_P(Texts, ThrowableTextCaseTest, ::testing::ValuesIn(TextCases()),
                         [](const ::testing::TestParamInfo<TextCase>& info) { return info.param.name; });

// ------------------------------------------------------------ beyond the table

TEST_F(ThrowableTextTest, NothingPendingAppendsNothing) {
    Configure("");
    Outcome outcome = Describe(true, "kept");
    EXPECT_FALSE(outcome.returned);
    EXPECT_EQ(outcome.detail, "kept");
    EXPECT_EQ(outcome.log, std::vector<std::string>{"ExceptionOccurred\tresult=0"});
    ExpectCleanJni(outcome);
}

// A text far longer than a detail: read only until the detail is full, and
// never a pair of surrogates split (one sits across every even offset).
TEST_F(ThrowableTextTest, LongTextIsCutOnWholeCharacters) {
    std::string pairs;
    for (int i = 0; i < 20000; ++i) pairs += "😀";
    ThrowFromStart("throwable=x" + pairs);
    Outcome outcome = Describe(true);
    EXPECT_TRUE(outcome.returned);
    EXPECT_TRUE(outcome.cut);
    EXPECT_LE(outcome.detail.size(), static_cast<size_t>(kDetailCapacity));
    std::string kept = outcome.detail.substr(0, outcome.detail.find('\n'));
    EXPECT_GT(kept.size(), static_cast<size_t>(kDetailCapacity) / 2);
    EXPECT_EQ(("x" + pairs).compare(0, kept.size(), kept), 0) << "only whole characters, none replaced";
    EXPECT_EQ(Count(outcome.log, "CallVoidMethod\tprintStackTrace"), 0) << "no trace once the detail is full";
    EXPECT_LT(Count(outcome.log, "GetStringRegion"), 40) << "the rest of the text is not read";
    ExpectCleanJni(outcome);
}

// A trace printed with CR LF line ends reads as one printed with LF,
// wherever its line ends fall. Each shift of the first line moves them all
// by one; the longest line of the trace bounds the shifts needed.
TEST_F(ThrowableTextTest, CrLfBecomesLfWhereverItFalls) {
    for (size_t shift = 1; shift <= 60; ++shift) {
        std::string conf = "throwable=" + std::string(shift, 'm') + Causes(12);
        ThrowFromStart(conf);
        std::string lf = Describe(true).detail;
        ThrowFromStart(conf + "\nnewline=crlf");
        std::string crlf = Describe(true).detail;
        ASSERT_EQ(crlf, lf) << "first line of " << shift;
        ASSERT_GT(lf.size(), 1000u);
    }
}

}  // namespace
