#ifndef TESTS_FRONT_CHILD_PROCESS_H
#define TESTS_FRONT_CHILD_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

// A program started with its standard input and output on pipes, so that a
// test can type at it and read what it prints, prompt by prompt.
class ChildProcess {
public:
    // arguments[0] is the argv[0] the program sees; it need not be its path.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads until the output so far ends with `text`, or the output ends.
    // Returns everything read since the last call. A child that stops
    // writing without ending gives up after a long safety limit, so that a
    // missing flush fails the test instead of hanging it.
    std::string ReadUntil(const std::string& text);
    // Reads until the program closes its output, normally by ending; the
    // input stays open, so a program that waits for more input fails this.
    std::string ReadToEnd();
    void Write(const std::string& text);
    void CloseInput();
    // Closes the input, reads the rest of the output, waits for the exit.
    // The exit code is that of the program, or 128 + signal.
    std::string Finish();
    int ExitCode() const { return exitCode_; }

private:
    bool ReadByte(char& byte);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int exitCode_ = -1;
};

struct ChildRun {
    int exitCode;
    std::string output;
};

// Runs the program to its end with `input` as its whole standard input.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments, const std::string& input);

#endif
