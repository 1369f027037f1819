// GetModulePath / GetModuleDirectory against a scripted GetModuleFileNameA,
// so that every length and failure can be staged.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>
#include <string.h>

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

// Without a known program directory the kernel start must not go looking
// for server\jvm.dll relative to wherever the process happens to stand.
TEST_F(LaunchLayoutTest, KernelStartLoadsNoLibraryWithoutAProgramDirectory) {
    for (bool failure : {true, false}) {
        FakeEventLog::Reset();
        libraryLoads.clear();
        if (failure) {
            ScriptedModulePath::Fail();
        } else {
            ScriptedModulePath::Set("AlderSvc.exe");
        }
        EXPECT_FALSE(StartKernel());
        EXPECT_TRUE(libraryLoads.empty());
        std::vector<RecordedEvent> events = FakeEventLog::Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].strings,
                  (std::vector<std::string>{"Failed to load JVM DLL.",
                                            "The program's own directory is unknown, so no server\\jvm.dll was "
                                            "looked for below it."}));
    }
}

}  // namespace
