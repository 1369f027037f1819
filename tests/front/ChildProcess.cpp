#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const int kSafetyLimitMilliseconds = 60 * 1000;

void CloseIfOpen(int& descriptor) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
    // A child that exits while we still write must not kill the test.
    signal(SIGPIPE, SIG_IGN);
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        pid_ = -1;
    }
}

ChildProcess::~ChildProcess() {
    CloseIfOpen(input_);
    CloseIfOpen(output_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::ReadByte(char& byte) {
    while (output_ >= 0) {
        pollfd ready{output_, POLLIN, 0};
        int polled = poll(&ready, 1, kSafetyLimitMilliseconds);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) {
            ADD_FAILURE() << "the program printed nothing more for a minute";
            CloseIfOpen(output_);
            return false;
        }
        if (read(output_, &byte, 1) == 1) return true;
        CloseIfOpen(output_);  // end of output
    }
    return false;
}

static bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ChildProcess::ReadUntil(const std::string& text) {
    std::string got;
    char byte;
    while (!EndsWith(got, text) && ReadByte(byte)) got += byte;
    EXPECT_TRUE(EndsWith(got, text)) << "the output ended before \"" << text << "\"";
    return got;
}

void ChildProcess::Write(const std::string& text) {
    if (input_ < 0) return;
    size_t written = 0;
    while (written < text.size()) {
        ssize_t now = write(input_, text.data() + written, text.size() - written);
        if (now <= 0) return;
        written += static_cast<size_t>(now);
    }
}

void ChildProcess::CloseInput() { CloseIfOpen(input_); }

std::string ChildProcess::ReadToEnd() {
    std::string rest;
    char byte;
    while (ReadByte(byte)) rest += byte;
    return rest;
}

std::string ChildProcess::Finish() {
    CloseInput();
    std::string rest = ReadToEnd();
    if (pid_ > 0) {
        int status = 0;
        waitpid(pid_, &status, 0);
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    return rest;
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments, const std::string& input) {
    ChildProcess child(program, arguments);
    child.Write(input);
    std::string output = child.Finish();
    return {child.ExitCode(), output};
}
