#ifndef TESTS_TEST_FILES_H
#define TESTS_TEST_FILES_H

#include <string>

// Small file-system helpers for tests that work on real directories.
std::string MakeTempDirectory();
void MakeDirectories(const std::string& path);
void CopyExecutable(const std::string& from, const std::string& to);
void RemoveTree(const std::string& path);
std::string BackslashForm(std::string path);

#endif
