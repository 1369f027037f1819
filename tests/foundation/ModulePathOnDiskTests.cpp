// The launch layout functions on the real platform, for a program placed in
// directories whose full paths have the lengths that matter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "BuiltPaths.h"
#include "Installation.h"
#include "Process.h"

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
    Installation tree;
    const std::string base = tree.root().string();
    for (size_t length : {255u, 256u, 600u}) {
        const std::string program = ProgramPathOfLength(base, length);
        ASSERT_EQ(program.size(), length);
        std::filesystem::create_directories(program.substr(0, program.rfind('/')));
        Installation::CopyExecutable(kModulePathProbe, program);
        ProcessResult run = RunProcess(program, {program});
        EXPECT_EQ(run.exitCode, 0);
        const std::string windowsPath = Installation::WindowsForm(program);
        const std::string windowsDirectory = windowsPath.substr(0, windowsPath.rfind('\\') + 1);
        EXPECT_EQ(run.output, windowsPath + "\n" + windowsDirectory + "\n") << length;
    }
}

TEST(ModulePathOnDisk, ProgramInTheRootDirectory) {
    const std::string program = "/halvern-probe-" + std::to_string(getpid());
    if (access("/", W_OK) != 0) GTEST_SKIP() << "the root directory is not writable here";
    Installation::CopyExecutable(kModulePathProbe, program);
    ProcessResult run = RunProcess(program, {program});
    unlink(program.c_str());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, Installation::WindowsForm(program) + "\n\\\n");
}

}  // namespace
