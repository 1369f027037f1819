#include "TestFiles.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

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

std::string BackslashForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
