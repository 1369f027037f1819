// GetModulePath / GetModuleDirectory against a scripted GetModuleFileNameA,
// so that every length and failure can be staged.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeEventLog.h"
#include "Kernel.h"
#include "LaunchLayout.h"
#include "ScriptedModulePath.h"

namespace {

std::vector<std::string> libraryLoads;

}  // namespace

extern "C" HMODULE WINAPI __wrap_LoadLibraryA(LPCSTR path) {
    libraryLoads.emplace_back(path != nullptr ? path : "(null)");
    return nullptr;
}

namespace {

std::string PathOfLength(size_t length) {
    std::string path = "C:\\Apps\\";
    while (path.size() < length - strlen("\\AlderSvc.exe")) path += path.size() % 40 == 39 ? '\\' : 'd';
    return path + "\\AlderSvc.exe";
}

struct Owned {
    char* text;
    ~Owned() { free(text); }
};

class LaunchLayoutTest : public ::testing::Test {
  protected:
    void TearDown() override { ScriptedModulePath::Reset(); }
};

TEST_F(LaunchLayoutTest, GrowsTheBufferUntilTheWholeNameFits) {
    struct Case {
        size_t length;
        std::vector<DWORD> capacities;
    };
    const Case cases[] = {
        {40, {256}},
        {255, {256}},
        {256, {256, 512}},
        {511, {256, 512}},
        {600, {256, 512, 1024}},
        {5000, {256, 512, 1024, 2048, 4096, 8192}},
    };
    for (const Case& c : cases) {
        const std::string name = PathOfLength(c.length);
        ASSERT_EQ(name.size(), c.length);
        ScriptedModulePath::Set(name);
        Owned path{GetModulePath()};
        EXPECT_EQ(path.text, name) << c.length;
        EXPECT_EQ(ScriptedModulePath::CapacitiesAsked(), c.capacities) << c.length;
    }
}

TEST_F(LaunchLayoutTest, StopsGrowingAtTheLongestWindowsPath) {
    const std::string name = PathOfLength(40000);
    ScriptedModulePath::Set(name);
    Owned path{GetModulePath()};
    EXPECT_EQ(ScriptedModulePath::CapacitiesAsked().back(), 32768u);
    EXPECT_EQ(strlen(path.text), 32767u);
    EXPECT_EQ(std::string(path.text), name.substr(0, 32767));
}

TEST_F(LaunchLayoutTest, DirectoryKeepsItsTrailingBackslash) {
    struct Case {
        const char* moduleName;
        const char* directory;
    };
    const Case cases[] = {
        {"C:\\Apps\\Svc\\bin\\AlderSvc.exe", "C:\\Apps\\Svc\\bin\\"},
        {"C:\\AlderSvc.exe", "C:\\"},
        {"\\\\server\\share\\bin\\CedarSvc.exe", "\\\\server\\share\\bin\\"},
        {"C:\\Program Files\\Halvern\\bin\\HazelSvc.exe", "C:\\Program Files\\Halvern\\bin\\"},
        // No directory part at all: no directory is known.
        {"AlderSvc.exe", ""},
    };
    for (const Case& c : cases) {
        ScriptedModulePath::Set(c.moduleName);
        Owned directory{GetModuleDirectory()};
        EXPECT_STREQ(directory.text, c.directory) << c.moduleName;
        EXPECT_EQ(ScriptedModulePath::CapacitiesAsked().size(), 1u);
    }
}

TEST_F(LaunchLayoutTest, UnreadableNameGivesAnEmptyPathAndDirectory) {
    ScriptedModulePath::Fail();
    Owned path{GetModulePath()};
    EXPECT_STREQ(path.text, "");
    Owned directory{GetModuleDirectory()};
    EXPECT_STREQ(directory.text, "");
    EXPECT_EQ(ScriptedModulePath::CapacitiesAsked().size(), 2u) << "a failed read is not retried";
}

// The A form is faithful when it reads back into the W form: a '?' or a
// best fit in it names another path, or none.
TEST_F(LaunchLayoutTest, AnAnsiPathThatIsNotTheWidePathNamesNoDirectory) {
    struct Case {
        const char* ansiPath;
        const char* widePath;
        bool faithful;
    };
    const Case cases[] = {
        {"C:\\Halvern\\bin\\AlderSvc.exe", "C:\\Halvern\\bin\\AlderSvc.exe", true},
        {"C:\\Dienste\\M\u00fcller\\AlderSvc.exe", "C:\\Dienste\\M\u00fcller\\AlderSvc.exe", true},
        {"C:\\??????\\bin\\AlderSvc.exe", "C:\\\u0421\u0435\u0440\u0432\u0438\u0441\\bin\\AlderSvc.exe", false},
        {"C:\\Cesky\\AlderSvc.exe", "C:\\\u010Cesky\\AlderSvc.exe", false},
        {"C:\\Apps\\AlderSvc.exe", "C:\\Apps\\AlderSvc.exe.", false},
        {"C:\\Apps\\AlderSvc.exe", "C:\\Apps\\AlderSvc.ex", false},
    };
    for (const Case& c : cases) {
        ScriptedModulePath::SetUnfaithful(c.ansiPath, c.widePath);
        EXPECT_EQ(ModulePathIsFaithful(), c.faithful) << c.widePath;
        Owned directory{GetModuleDirectory()};
        std::string expected =
            c.faithful ? std::string(c.ansiPath).substr(0, strrchr(c.ansiPath, '\\') - c.ansiPath + 1) : "";
        EXPECT_EQ(directory.text, expected) << c.widePath;
        Owned wide{GetModulePathUtf8()};
        EXPECT_STREQ(wide.text, c.widePath);
    }
    ScriptedModulePath::Fail();
    EXPECT_TRUE(ModulePathIsFaithful()) << "nothing to judge by";
    Owned wide{GetModulePathUtf8()};
    EXPECT_STREQ(wide.text, "");
}

// Without a known program directory the kernel start must not go looking
// for server\jvm.dll relative to wherever the process happens to stand;
// the detail says why it does not know one.
TEST_F(LaunchLayoutTest, KernelStartLoadsNoLibraryWithoutAProgramDirectory) {
    const std::string kUnknown =
        "The program's own directory is unknown, so no server\\jvm.dll was looked for below it.";
    struct Case {
        std::function<void()> script;
        std::string detail;
    };
    const Case cases[] = {
        {[] { ScriptedModulePath::Fail(); }, kUnknown},
        {[] { ScriptedModulePath::Set("AlderSvc.exe"); }, kUnknown},
        {[] {
             ScriptedModulePath::SetUnfaithful("C:\\??????\\bin\\AlderSvc.exe",
                                               "C:\\\u0421\u0435\u0440\u0432\u0438\u0441\\bin\\AlderSvc.exe");
         },
         "The program's path C:\\\u0421\u0435\u0440\u0432\u0438\u0441\\bin\\AlderSvc.exe has characters that the "
         "system's code page cannot hold, so no server\\jvm.dll can be loaded below it: install the program to a "
         "folder whose name uses only characters of the system's code page."},
    };
    for (const Case& c : cases) {
        FakeEventLog::Reset();
        libraryLoads.clear();
        c.script();
        EXPECT_FALSE(StartKernel());
        EXPECT_TRUE(libraryLoads.empty());
        std::vector<RecordedEvent> events = FakeEventLog::Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].strings, (std::vector<std::string>{"Failed to load JVM DLL.", c.detail}));
    }
}

}  // namespace
