#ifndef TESTS_FRONT_INSTALL_TREE_H
#define TESTS_FRONT_INSTALL_TREE_H

#include <string>
#include <vector>

#include "Installation.h"

// An installation for whole-program runs: built programs copied into the
// program directory, optionally the stand-in VM as server/jvm.dll.
class InstallTree : public Installation {
public:
    // programDirectory is relative to the temporary root, e.g. "bin" or
    // "Program Files/Halvern/bin".
    explicit InstallTree(const std::string& programDirectory = "bin") : Installation(programDirectory) {}

    // Copies a program into the program directory; returns its POSIX path.
    std::string AddProgram(const std::string& builtProgram, const std::string& name);
    // Installs the stand-in VM, with standin.conf holding `conf` when given.
    void AddStandinVm(const std::string& conf = "");

    std::string ProgramDirectory() const { return bin().string(); }
    // The path a program placed here reports as its own, in Windows form.
    std::string WindowsPathOf(const std::string& name) const;
    // The stand-in's log, one entry per line, fields split at TABs.
    std::vector<std::vector<std::string>> StandinLog() const;
};

// The stand-in log's entries of one event, e.g. "CallVoidMethod".
std::vector<std::vector<std::string>> EntriesOf(const std::vector<std::vector<std::string>>& log,
                                                const std::string& event);
// The value of a "key=value" field of an entry, or "" when it has none.
std::string FieldOf(const std::vector<std::string>& entry, const std::string& key);

#endif
