#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

// How a program under test is started, beyond its arguments.
struct ProcessOptions {
    std::string workingDirectory;          // empty: the test's own
    std::vector<std::string> environment;  // "NAME=value", added to (or replacing in) the test's own
    int timeLimitSeconds = 120;            // a program still running then is killed and the test fails
    // Standard output or error on a terminal, a console to the program,
    // instead of a pipe; what it shows there is read all the same, as is.
    bool outputOnTerminal = false;
    bool errorsOnTerminal = false;
};

struct ProcessResult {
    int exitCode = -1;   // the program's; 128 + signal; -1 if it could not be started
    std::string output;  // standard output
    std::string errors;  // standard error
};

// A program started with its standard input, output and error on pipes, so
// that a test can type at it and read what it prints, prompt by prompt.
class ChildProcess {
  public:
    // arguments[0] is the argv[0] the program sees; it need not be its path.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads standard output until what it read ends with `text`, or the
    // output ends, and returns it. A program that stops writing without
    // ending fails the test at the time limit instead of hanging it.
    std::string ReadUntil(const std::string& text);
    // Reads until the program closes its output, normally by ending; the
    // input stays open, so a program that waits for more input fails this.
    std::string ReadToEnd();
    void Write(const std::string& text);
    void CloseInput();
    // Closes the input, reads the rest of both outputs and waits for the
    // exit. `output` holds what was not read before.
    ProcessResult Finish();

  private:
    bool ReadOutputByte(char& byte);
    bool PumpOnce();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    std::string pendingOutput_;
    std::string errorText_;
    long long deadline_ = 0;  // monotonic milliseconds
    bool timedOut_ = false;
};

// Runs the program to its end with `input` as its whole standard input.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = "", const ProcessOptions& options = {});

#endif
