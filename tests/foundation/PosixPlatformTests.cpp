// The POSIX stand-in for the Win32 calls keeps Windows' contracts: paths in
// Windows form, cut names terminated, wildcard listings case-insensitive.
#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Installation.h"

namespace {

// An empty directory of its own, removed with the tree around it.
struct ScratchDirectory {
    Installation tree;
    std::string path = (tree.root() / "scratch").string();
    ScratchDirectory() { std::filesystem::create_directories(path); }
};

// Each match's long name and (after a TAB, when it has one) short name.
std::vector<std::string> ListMatchingWithShortNames(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do
        names.push_back(std::string(data.cFileName) +
                        (data.cAlternateFileName[0] != '\0' ? "\t" + std::string(data.cAlternateFileName) : ""));
    while (FindNextFileA(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    return names;
}

std::vector<std::string> ListMatching(const std::string& pattern) {
    std::vector<std::string> names = ListMatchingWithShortNames(pattern);
    for (std::string& name : names) name = name.substr(0, name.find('\t'));
    return names;
}

void Touch(const std::string& path) {
    FILE* file = fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    fclose(file);
}

TEST(PosixPlatform, ModuleFileNameIsCutAndTerminatedWhenTheBufferIsShort) {
    char full[4096];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(length, 4u);
    ASSERT_LT(length, sizeof full);
    EXPECT_EQ(full[0], '\\') << "Windows form, backslashes";
    EXPECT_EQ(strchr(full, '/'), nullptr);

    for (DWORD size : {1u, 2u, static_cast<DWORD>(length)}) {
        std::vector<char> buffer(size + 1, 'x');
        EXPECT_EQ(GetModuleFileNameA(nullptr, buffer.data(), size), size);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(buffer[size - 1], '\0');
        EXPECT_EQ(std::string(buffer.data()), std::string(full, size - 1));
        EXPECT_EQ(buffer[size], 'x') << "nothing written past the buffer";
    }
    char exact[4096];
    EXPECT_EQ(GetModuleFileNameA(nullptr, exact, length + 1), length);
    EXPECT_STREQ(exact, full);
}

// Matching is case-insensitive, and the order is NTFS's: names compared in
// upper case, so "_" (after "Z") follows the letters, whatever their case.
TEST(PosixPlatform, FindFilesMatchesAndOrdersLikeWindows) {
    ScratchDirectory scratch;
    const std::string& dir = scratch.path;
    for (const char* name : {"b.jar", "a.jar", "C.JAR", "notes.txt", "x.jar.bak", "with blank.jar", "ajar", "_z.jar"})
        Touch(dir + "/" + name);
    std::filesystem::create_directories(dir + "/sub.jar");
    const std::string windowsDir = Installation::WindowsForm(dir);

    struct Case {
        std::string pattern;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {windowsDir + "\\*.jar", {"a.jar", "b.jar", "C.JAR", "sub.jar", "with blank.jar", "_z.jar"}},
        {windowsDir + "\\?.jar", {"a.jar", "b.jar", "C.JAR"}},
        {windowsDir + "\\*.TXT", {"notes.txt"}},
        {windowsDir + "\\*jar*",
         {"a.jar", "ajar", "b.jar", "C.JAR", "sub.jar", "with blank.jar", "x.jar.bak", "_z.jar"}},
        {windowsDir + "\\*.zip", {}},
        {windowsDir + "\\missing\\*.jar", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ListMatching(c.pattern), c.names) << c.pattern;
}

// A name that is no valid 8.3 name has a short one as well (BASE~N.EXT:
// six characters of the name, three of its last extension), and a pattern
// matches either: "*.jar" finds kernel.jar_old through KERNEL~2.JAR.
TEST(PosixPlatform, FindFilesMatchesShortNamesLikeWindows) {
    ScratchDirectory scratch;
    for (const char* name : {"a.jar", "kernel.jar_old", "kernel.jar_new", "x.jarx", "x.jar.bak", "with blank.jar",
                             ".jarrc", "LongBaseName.jar", "notes.ja", "a+b.jarfile"})
        Touch(scratch.path + "/" + name);
    const std::string dir = Installation::WindowsForm(scratch.path) + "\\";
    struct Case {
        std::string pattern;
        std::vector<std::string> matches;  // long name, TAB, short name
    };
    const Case cases[] = {
        {"*.jar",
         {"a+b.jarfile\tA_B~1.JAR", "a.jar", "kernel.jar_new\tKERNEL~1.JAR", "kernel.jar_old\tKERNEL~2.JAR",
          "LongBaseName.jar\tLONGBA~1.JAR", "with blank.jar\tWITHBL~1.JAR", "x.jarx\tX~1.JAR"}},
        {"KERNEL~2.*", {"kernel.jar_old\tKERNEL~2.JAR"}},
        {"*.bak", {"x.jar.bak\tXJAR~1.BAK"}},
        {"jarrc~1", {".jarrc\tJARRC~1"}},
        {"*.ja", {"notes.ja"}},
    };
    for (const Case& c : cases) EXPECT_EQ(ListMatchingWithShortNames(dir + c.pattern), c.matches) << c.pattern;
}

TEST(PosixPlatform, FindFirstFileReportsWhyNothingWasFound) {
    ScratchDirectory scratch;
    const std::string& dir = scratch.path;
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((Installation::WindowsForm(dir) + "\\*.jar").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA((Installation::WindowsForm(dir) + "\\none\\*.jar").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PosixPlatform, RelativeSearchAndDirectoryChangesTakeWindowsPaths) {
    WorkingDirectoryGuard guard;
    ScratchDirectory scratch;
    const std::string& dir = scratch.path;
    std::filesystem::create_directories(dir + "/bin");
    std::filesystem::create_directories(dir + "/lib/util");
    Touch(dir + "/lib/util/k.jar");

    ASSERT_TRUE(SetCurrentDirectoryA((Installation::WindowsForm(dir) + "\\bin\\").c_str()));
    ASSERT_TRUE(SetCurrentDirectoryA("..\\lib\\util"));
    EXPECT_EQ(ListMatching("*.jar"), std::vector<std::string>{"k.jar"});
    char current[4096];
    ASSERT_GT(GetCurrentDirectoryA(sizeof current, current), 0u);
    EXPECT_EQ(std::string(current), Installation::WindowsForm(dir) + "\\lib\\util");
    EXPECT_FALSE(SetCurrentDirectoryA("..\\nowhere"));
}

TEST(PosixPlatform, LibraryLookupsFailCleanly) {
    EXPECT_EQ(LoadLibraryA("\\nonexistent\\server\\jvm.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    ScratchDirectory scratch;
    const std::string& dir = scratch.path;
    Touch(dir + "/jvm.dll");  // an empty file is no library
    EXPECT_EQ(LoadLibraryA((Installation::WindowsForm(dir) + "\\jvm.dll").c_str()), nullptr);

    HMODULE self = LoadLibraryA(nullptr);
    EXPECT_EQ(self, nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "JNI_CreateJavaVM"), nullptr);
}

// A set variable's name, in any case, between two '%' gives its value; any
// other '%' is text, and an unset name's closing one may open the next.
TEST(PosixPlatform, ExpandEnvironmentStringsLikeWindows) {
    setenv("HALVERN_ROOT", "C:\\Windows", 1);
    struct Case {
        const char* text;
        std::string expanded;
    };
    const Case cases[] = {
        {"%HALVERN_ROOT%\\System32\\x.dll", "C:\\Windows\\System32\\x.dll"},
        {"%halvern_root%;%Halvern_Root%", "C:\\Windows;C:\\Windows"},
        {"%HALVERN_UNSET%\\x", "%HALVERN_UNSET%\\x"},
        {"100%%HALVERN_ROOT%", "100%C:\\Windows"},
        {"%HALVERN_UNSET%HALVERN_ROOT%", "%HALVERN_UNSETC:\\Windows"},
        {"%%, 50% and %", "%%, 50% and %"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char buffer[64];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(ExpandEnvironmentStringsA(c.text, buffer, sizeof buffer), c.expanded.size() + 1) << c.text;
        EXPECT_EQ(std::string(buffer), c.expanded) << c.text;
        char small[4] = "abc";
        EXPECT_EQ(ExpandEnvironmentStringsA(c.text, small, c.expanded.size()), c.expanded.size() + 1) << c.text;
        EXPECT_STREQ(small, "abc") << "nothing written to a buffer too small: " << c.text;
    }
    unsetenv("HALVERN_ROOT");
}

TEST(PosixPlatform, FileAttributesTellFilesDirectoriesAndWhatIsMissing) {
    ScratchDirectory scratch;
    Touch(scratch.path + "/file.exe");
    const std::string dir = Installation::WindowsForm(scratch.path);
    struct Case {
        std::string path;
        DWORD attributes;
        DWORD error;  // when INVALID_FILE_ATTRIBUTES
    };
    const Case cases[] = {
        {dir + "\\file.exe", FILE_ATTRIBUTE_NORMAL, 0},
        {dir, FILE_ATTRIBUTE_DIRECTORY, 0},
        {dir + "\\missing.exe", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {dir + "\\missing\\file.exe", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {dir + "\\file.exe\\file.exe", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(c.path.c_str()), c.attributes) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
}

TEST(PosixPlatform, StringComparisonIsCaseSensitive) {
    EXPECT_EQ(lstrcmpA("install", "install"), 0);
    EXPECT_NE(lstrcmpA("Install", "install"), 0);
    EXPECT_NE(lstrcmpA("inst", "install"), 0);
    EXPECT_NE(lstrcmpA("run ", "run"), 0);
}

TEST(PosixPlatform, NoServiceControllerIsReachable) {
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>("AlderSvc"), nullptr}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
}

// The loader's order: the program's directory, the current directory, then
// PATH; names in any case; a directory is no match.
TEST(PosixPlatform, SearchPathLooksWhereTheLoaderLooksInAnyCase) {
    WorkingDirectoryGuard guard;
    ScratchDirectory scratch;
    const std::string& dir = scratch.path;
    std::filesystem::create_directories(dir + "/current/both.dll");
    std::filesystem::create_directories(dir + "/onpath");
    Touch(dir + "/current/Current.DLL");
    Touch(dir + "/onpath/both.dll");
    Touch(dir + "/onpath/OnPath.dll");
    ASSERT_EQ(chdir((dir + "/current").c_str()), 0);
    std::string savedPath = getenv("PATH") != nullptr ? getenv("PATH") : "";
    setenv("PATH", (dir + "/nowhere:" + dir + "/onpath").c_str(), 1);
    const std::string windowsDir = Installation::WindowsForm(dir);
    struct Case {
        const char* name;
        std::string found;  // empty: not found
    };
    const Case cases[] = {
        {"current.dll", windowsDir + "\\current\\Current.DLL"},
        {"BOTH.DLL", windowsDir + "\\onpath\\both.dll"},
        {"onpath.dll", windowsDir + "\\onpath\\OnPath.dll"},
        {"missing.dll", ""},
    };
    for (const Case& c : cases) {
        char found[4096];
        LPSTR filePart = nullptr;
        DWORD length = SearchPathA(nullptr, c.name, nullptr, sizeof found, found, &filePart);
        EXPECT_EQ(length, c.found.size()) << c.name;
        if (c.found.empty()) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << c.name;
            continue;
        }
        EXPECT_EQ(std::string(found), c.found) << c.name;
        EXPECT_EQ(std::string(filePart), c.found.substr(c.found.rfind('\\') + 1)) << c.name;
        char small[4];
        EXPECT_EQ(SearchPathA(nullptr, c.name, nullptr, sizeof small, small, nullptr), c.found.size() + 1)
            << "a short buffer gets the size needed";
    }
    setenv("PATH", savedPath.c_str(), 1);
}

// Only a terminal is a console; a pipe and a file are what they are.
TEST(PosixPlatform, StandardHandlesTellAConsoleFromAPipeAndAFile) {
    ScratchDirectory scratch;
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    int saved = dup(2);
    struct Case {
        int descriptor;
        DWORD type;
    };
    const Case cases[] = {{pipeEnds[1], FILE_TYPE_PIPE},
                          {open((scratch.path + "/out.txt").c_str(), O_WRONLY | O_CREAT, 0600), FILE_TYPE_DISK},
                          {open("/dev/null", O_WRONLY), FILE_TYPE_CHAR}};
    for (const Case& c : cases) {
        ASSERT_GE(c.descriptor, 0);
        dup2(c.descriptor, 2);
        HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        EXPECT_EQ(GetFileType(handle), c.type) << c.type;
        EXPECT_FALSE(GetConsoleMode(handle, &mode)) << c.type;
        close(c.descriptor);
    }
    dup2(saved, 2);
    close(saved);
    close(pipeEnds[0]);
}

// A thread's handle is signalled when the thread ends, and may be closed
// while it runs; an auto-reset event lets one wait through; a wait times out
// on time; anything but a handle of these kinds fails the wait.
TEST(PosixPlatform, ThreadsAndEventsWaitLikeWindows) {
    HANDLE go = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(go, nullptr);
    auto waitForGo = [](LPVOID event) -> DWORD { return WaitForSingleObject(event, INFINITE); };
    HANDLE thread = CreateThread(nullptr, 0, waitForGo, go, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT)) << "still waiting for go";
    EXPECT_TRUE(SetEvent(go));
    EXPECT_EQ(WaitForSingleObject(thread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "an ended thread stays signalled";
    EXPECT_EQ(WaitForSingleObject(go, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the thread's wait reset the event";
    EXPECT_TRUE(CloseHandle(thread));

    // Closed at once, the thread runs on to its end.
    static volatile LONG ran;
    ran = 0;
    auto mark = [](LPVOID event) -> DWORD {
        Sleep(20);
        InterlockedExchange(&ran, 1);
        return SetEvent(event) ? 0 : 1;
    };
    EXPECT_TRUE(CloseHandle(CreateThread(nullptr, 0, mark, go, 0, nullptr)));
    EXPECT_EQ(WaitForSingleObject(go, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(CloseHandle(go));

    HANDLE open = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(open, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(open, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "a manual-reset event stays set";
    EXPECT_TRUE(CloseHandle(open));
    int notAHandle = 0;
    EXPECT_EQ(WaitForSingleObject(&notAHandle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
