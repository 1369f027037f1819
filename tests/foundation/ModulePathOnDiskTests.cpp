// The launch layout functions on the real platform, for a program placed in
// directories whose full paths have the lengths that matter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "ShellRun.h"
#include "TestFiles.h"

namespace {

// A directory chain under base whose program path has exactly `length`
// characters.
std::string ProgramPathOfLength(const std::string& base, size_t length) {
    const std::string name = "/AlderSvc";
    std::string directory = base;
    while (directory.size() + name.size() < length) {
        size_t room = length - name.size() - directory.size();
        size_t segment = std::min<size_t>(room - 1, 100);
        if (room - 1 - segment == 1) --segment;  // never leave a gap of one: "/" alone is no segment
        directory += "/" + std::string(segment, 'd');
    }
    return directory + name;
}

TEST(ModulePathOnDisk, ReportsTheProgramsOwnPathInWindowsForm) {
    const std::string base = MakeTempDirectory();
    for (size_t length : {255u, 256u, 600u}) {
        const std::string program = ProgramPathOfLength(base, length);
        ASSERT_EQ(program.size(), length);
        MakeDirectories(program.substr(0, program.rfind('/')));
        CopyExecutable(PROBE_PATH, program);
        int exitCode = -1;
        std::string output = RunShell("'" + program + "'", &exitCode);
        EXPECT_EQ(exitCode, 0);
        const std::string windowsPath = BackslashForm(program);
        const std::string windowsDirectory = windowsPath.substr(0, windowsPath.rfind('\\') + 1);
        EXPECT_EQ(output, windowsPath + "\n" + windowsDirectory + "\n") << length;
    }
    RemoveTree(base);
}

TEST(ModulePathOnDisk, ProgramInTheRootDirectory) {
    const std::string program = "/halvern-probe-" + std::to_string(getpid());
    if (access("/", W_OK) != 0) GTEST_SKIP() << "the root directory is not writable here";
    CopyExecutable(PROBE_PATH, program);
    int exitCode = -1;
    std::string output = RunShell(program, &exitCode);
    unlink(program.c_str());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(output, BackslashForm(program) + "\n\\\n");
}

}  // namespace
