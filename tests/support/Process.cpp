#include "Process.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

long long NowMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void CloseIfOpen(int& descriptor) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The test's environment with `extra` laid over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    for (char** variable = environ; *variable != nullptr; ++variable) merged.emplace_back(*variable);
    for (const std::string& setting : extra) {
        std::string prefix = setting.substr(0, setting.find('=') + 1);
        auto same = std::find_if(merged.begin(), merged.end(),
                                 [&prefix](const std::string& existing) { return existing.rfind(prefix, 0) == 0; });
        if (same != merged.end()) {
            *same = setting;
        } else {
            merged.push_back(setting);
        }
    }
    return merged;
}

// A pipe, or a terminal whose text arrives untranslated: ends[0] is read
// by the test, ends[1] is the child's.
bool OpenStream(bool terminal, int ends[2]) {
    if (!terminal) return pipe2(ends, O_CLOEXEC) == 0;
    ends[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ends[0] < 0 || grantpt(ends[0]) != 0 || unlockpt(ends[0]) != 0) return false;
    ends[1] = open(ptsname(ends[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw;
    if (ends[1] < 0 || tcgetattr(ends[1], &raw) != 0) return false;
    cfmakeraw(&raw);
    return tcsetattr(ends[1], TCSANOW, &raw) == 0;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const ProcessOptions& options) {
    deadline_ = NowMilliseconds() + options.timeLimitSeconds * 1000LL;
    // A child that exits while we still write must not kill the test.
    signal(SIGPIPE, SIG_IGN);
    int toChild[2];
    int fromChild[2];
    int errorsFromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || !OpenStream(options.outputOnTerminal, fromChild) ||
        !OpenStream(options.errorsOnTerminal, errorsFromChild)) {
        ADD_FAILURE() << "pipe or terminal failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorsFromChild[1], 2);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    std::vector<std::string> argumentCopies = arguments;
    std::vector<std::string> environment = MergedEnvironment(options.environment);
    int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, PointersTo(argumentCopies).data(),
                              PointersTo(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    close(errorsFromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    errors_ = errorsFromChild[0];
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program << ": " << strerror(spawned);
        pid_ = -1;
    }
}

ChildProcess::~ChildProcess() {
    CloseIfOpen(input_);
    CloseIfOpen(output_);
    CloseIfOpen(errors_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

// Moves what is ready on either output into its buffer; false once both
// have ended or the time limit has passed.
bool ChildProcess::PumpOnce() {
    pollfd ready[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    if (output_ < 0 && errors_ < 0) return false;
    long long left = deadline_ - NowMilliseconds();
    int polled = left > 0 ? poll(ready, 2, static_cast<int>(left)) : 0;
    if (polled < 0 && errno == EINTR) return true;
    if (polled <= 0) {
        ADD_FAILURE() << "the program was still running at its time limit";
        timedOut_ = true;
        CloseIfOpen(output_);
        CloseIfOpen(errors_);
        return false;
    }
    int* descriptors[2] = {&output_, &errors_};
    std::string* buffers[2] = {&pendingOutput_, &errorText_};
    for (int i = 0; i < 2; ++i) {
        if (*descriptors[i] < 0 || ready[i].revents == 0) continue;
        char chunk[4096];
        ssize_t length = read(*descriptors[i], chunk, sizeof chunk);
        if (length > 0) {
            buffers[i]->append(chunk, static_cast<size_t>(length));
        } else {
            CloseIfOpen(*descriptors[i]);  // end of that output
        }
    }
    return true;
}

bool ChildProcess::ReadOutputByte(char& byte) {
    while (pendingOutput_.empty()) {
        if (output_ < 0 || !PumpOnce()) return false;
    }
    byte = pendingOutput_[0];
    pendingOutput_.erase(0, 1);
    return true;
}

std::string ChildProcess::ReadUntil(const std::string& text) {
    std::string got;
    char byte;
    while (!EndsWith(got, text) && ReadOutputByte(byte)) got += byte;
    EXPECT_TRUE(EndsWith(got, text)) << "the output ended before \"" << text << "\"";
    return got;
}

std::string ChildProcess::ReadToEnd() {
    std::string rest;
    char byte;
    while (ReadOutputByte(byte)) rest += byte;
    return rest;
}

void ChildProcess::Write(const std::string& text) {
    size_t written = 0;
    while (input_ >= 0 && written < text.size()) {
        ssize_t now = write(input_, text.data() + written, text.size() - written);
        if (now <= 0) return;
        written += static_cast<size_t>(now);
    }
}

void ChildProcess::CloseInput() { CloseIfOpen(input_); }

ProcessResult ChildProcess::Finish() {
    CloseInput();
    while (PumpOnce()) {
    }
    ProcessResult result;
    result.output.swap(pendingOutput_);
    result.errors.swap(errorText_);
    if (pid_ > 0) {
        if (timedOut_) kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input, const ProcessOptions& options) {
    ChildProcess child(program, arguments, options);
    child.Write(input);
    return child.Finish();
}
