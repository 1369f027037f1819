#ifndef TESTS_SHELL_RUN_H
#define TESTS_SHELL_RUN_H

#include <stdio.h>
#include <sys/wait.h>

#include <string>

// Runs a shell command line; returns its standard output and stores its exit
// code (-1 when it could not be run or did not exit normally).
inline std::string RunShell(const std::string& commandLine, int* exitCode) {
    std::string text;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        *exitCode = -1;
        return text;
    }
    char buffer[4096];
    size_t length;
    while ((length = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, length);
    int status = pclose(pipe);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return text;
}

#endif
