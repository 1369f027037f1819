#include "InstallTree.h"

#include <sstream>

std::string InstallTree::AddProgram(const std::string& builtProgram, const std::string& name) {
    std::string program = (bin() / name).string();
    CopyExecutable(builtProgram, program);
    return program;
}

void InstallTree::AddStandinVm(const std::string& conf) {
    CopyExecutable(STANDIN_JVM_PATH, server() / "jvm.dll");
    if (!conf.empty()) WriteFile(server() / "standin.conf", conf + "\n");
}

std::string InstallTree::WindowsPathOf(const std::string& name) const { return WindowsForm((bin() / name).string()); }

std::vector<std::vector<std::string>> InstallTree::StandinLog() const {
    std::vector<std::vector<std::string>> entries;
    for (const std::string& line : Lines(ReadFile(server() / "standin.log"))) {
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
