// The programs' entry point under another name, so that a test can call it
// with the recording service manager behind it.
#define main ProgramMain
#include "main.cpp"
#undef main

#include <gtest/gtest.h>

#include "ProgramMain.h"

int RunProgramMain(const std::vector<std::string>& arguments, std::string* output) {
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    int exitCode = ProgramMain(static_cast<int>(copies.size()), argv.data());
    *output = ::testing::internal::GetCapturedStdout();
    return exitCode;
}
