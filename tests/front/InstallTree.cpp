#include "InstallTree.h"

#include <fstream>
#include <sstream>

#include "TestFiles.h"

InstallTree::InstallTree(const std::string& programDirectory)
    : root_(MakeTempDirectory()), programDirectory_(root_ + "/" + programDirectory) {
    MakeDirectories(programDirectory_);
}

InstallTree::~InstallTree() { RemoveTree(root_); }

std::string InstallTree::AddProgram(const std::string& builtProgram, const std::string& name) {
    std::string program = programDirectory_ + "/" + name;
    CopyExecutable(builtProgram, program);
    return program;
}

void InstallTree::AddStandinVm(const std::string& conf) {
    MakeDirectories(programDirectory_ + "/server");
    CopyExecutable(STANDIN_JVM_PATH, programDirectory_ + "/server/jvm.dll");
    if (!conf.empty()) std::ofstream(programDirectory_ + "/server/standin.conf") << conf << "\n";
}

std::string InstallTree::WindowsPathOf(const std::string& name) const {
    return BackslashForm(programDirectory_ + "/" + name);
}

std::vector<std::vector<std::string>> InstallTree::StandinLog() const {
    std::vector<std::vector<std::string>> entries;
    std::ifstream log(programDirectory_ + "/server/standin.log");
    std::string line;
    while (std::getline(log, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        std::string field;
        while (std::getline(split, field, '\t')) fields.push_back(field);
        entries.push_back(fields);
    }
    return entries;
}

std::vector<std::vector<std::string>> EntriesOf(const std::vector<std::vector<std::string>>& log,
                                                const std::string& event) {
    std::vector<std::vector<std::string>> entries;
    for (const auto& entry : log) {
        if (!entry.empty() && entry[0] == event) entries.push_back(entry);
    }
    return entries;
}

std::string FieldOf(const std::vector<std::string>& entry, const std::string& key) {
    for (const std::string& field : entry) {
        if (field.compare(0, key.size() + 1, key + "=") == 0) return field.substr(key.size() + 1);
    }
    return "";
}
