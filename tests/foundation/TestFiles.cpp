#include "TestFiles.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

std::string MakeTempDirectory() {
    char pattern[] = "/tmp/halvern-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
    return made != nullptr ? made : "/tmp";
}

void MakeDirectories(const std::string& path) { std::filesystem::create_directories(path); }

void CopyExecutable(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_all);
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string RunCapturingOutput(const std::string& commandLine, int* exitCode) {
    std::string output;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        *exitCode = -1;
        return output;
    }
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    int status = pclose(pipe);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

std::string BackslashForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
