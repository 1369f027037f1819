#ifndef TESTS_SUPPORT_INSTALLATION_H
#define TESTS_SUPPORT_INSTALLATION_H

#include <filesystem>
#include <string>
#include <vector>

// A throw-away installation below a fresh temporary root, laid out as a
// product ships: the program directory (the module directory; "bin" unless
// told otherwise) with server/jvm.dll and the init file, and lib/util beside
// it for the jars. Removed with everything in it when the test ends.
class Installation {
  public:
    // programDirectory is relative to the temporary root, e.g. "bin" or
    // "Program Files/Halvern/bin".
    explicit Installation(const std::string& programDirectory = "bin");
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    std::filesystem::path root() const { return root_; }
    std::filesystem::path bin() const { return bin_; }
    std::filesystem::path server() const { return bin_ / "server"; }
    std::filesystem::path jarDirectory() const { return bin_.parent_path() / "lib" / "util"; }

    // The module directory as the host sees it: Windows form, ending in a backslash.
    std::string moduleDirectory() const { return WindowsForm(bin_.string()) + "\\"; }

    void addJar(const std::string& name) const;
    void writeInitFile(const std::string& name, const std::string& bytes) const;
    // Copies `library` in as server/jvm.dll.
    void installLibrary(const std::filesystem::path& library) const;
    // Installs the stand-in VM, with standin.conf holding `conf` when given.
    void installStandinVm(const std::string& conf = "") const;
    // Copies a built program into the program directory; returns its POSIX path.
    std::string addProgram(const std::string& builtProgram, const std::string& name) const;
    // The path a program placed here reports as its own, in Windows form.
    std::string windowsPathOf(const std::string& name) const { return WindowsForm((bin_ / name).string()); }
    // The stand-in VM's record, one line per call (see tests/standin_vm/README.md).
    std::vector<std::string> standinLog() const;

    static std::string WindowsForm(std::string path);
    static void WriteFile(const std::filesystem::path& path, const std::string& bytes);
    static std::string ReadFile(const std::filesystem::path& path);
    static std::vector<std::string> Lines(const std::string& text);
    // Text of single bytes as UTF-16, little-endian without a byte-order
    // mark (prepend "\xFF\xFE" for one): what Notepad's "Unicode" saves.
    static std::string Utf16(const std::string& bytes);
    // Copies a built program, keeping it executable.
    static void CopyExecutable(const std::filesystem::path& from, const std::filesystem::path& to);

  private:
    std::filesystem::path root_;
    std::filesystem::path bin_;
};

// A line of the stand-in's record split at its TABs: the call first, then
// its fields ("start", "thread=1", ...).
using StandinEntry = std::vector<std::string>;

// The record's entries of one call, e.g. "CallVoidMethod".
std::vector<StandinEntry> EntriesOf(const std::vector<std::string>& log, const std::string& call);
// The record's calls of the kernel's start and stop, in order (the host's
// other CallVoidMethod calls, printing a stack trace, left out).
std::vector<StandinEntry> KernelCallsOf(const std::vector<std::string>& log);
// The value of a "key=value" field of an entry, or "" when it has none.
std::string FieldOf(const StandinEntry& entry, const std::string& key);

// The process's working directory, POSIX form.
std::string WorkingDirectory();

// Puts the working directory back as it was when the guard was made: a
// kernel start moves it into an installation that goes away with the test.
class WorkingDirectoryGuard {
  public:
    WorkingDirectoryGuard() : saved_(WorkingDirectory()) {}
    ~WorkingDirectoryGuard();
    WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
    WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

  private:
    std::string saved_;
};

#endif
