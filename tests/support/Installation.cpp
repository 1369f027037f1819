#include "Installation.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "BuiltPaths.h"

namespace fs = std::filesystem;

Installation::Installation(const std::string& programDirectory) {
    char pattern[] = "/tmp/halvern-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) ADD_FAILURE() << "no temporary directory";
    root_ = made != nullptr ? made : "/tmp/halvern-test-unmade";
    bin_ = root_ / programDirectory;
    fs::create_directories(server());
}

Installation::~Installation() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void Installation::addJar(const std::string& name) const {
    fs::create_directories(jarDirectory());
    WriteFile(jarDirectory() / name, "PK");
}

void Installation::writeInitFile(const std::string& name, const std::string& bytes) const {
    WriteFile(bin_ / name, bytes);
}

void Installation::installLibrary(const fs::path& library) const {
    fs::copy_file(library, server() / "jvm.dll", fs::copy_options::overwrite_existing);
}

void Installation::installStandinVm(const std::string& conf) const {
    installLibrary(kStandinJvm);
    if (!conf.empty()) WriteFile(server() / "standin.conf", conf + "\n");
}

std::string Installation::addProgram(const std::string& builtProgram, const std::string& name) const {
    fs::path program = bin_ / name;
    CopyExecutable(builtProgram, program);
    return program.string();
}

std::vector<std::string> Installation::standinLog() const { return Lines(ReadFile(server() / "standin.log")); }

std::string Installation::WindowsForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void Installation::WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string Installation::ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Installation::Utf16(const std::string& bytes) {
    std::string utf16;
    for (char byte : bytes) utf16 += std::string{byte, '\0'};
    return utf16;
}

std::vector<std::string> Installation::Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void Installation::CopyExecutable(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all);
}

std::vector<StandinEntry> EntriesOf(const std::vector<std::string>& log, const std::string& call) {
    std::vector<StandinEntry> entries;
    for (const std::string& line : log) {
        StandinEntry fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (!fields.empty() && fields[0] == call) entries.push_back(fields);
    }
    return entries;
}

std::vector<StandinEntry> KernelCallsOf(const std::vector<std::string>& log) {
    std::vector<StandinEntry> calls;
    for (const StandinEntry& call : EntriesOf(log, "CallVoidMethod"))
        if (call.size() > 1 && (call[1] == "start" || call[1] == "stop")) calls.push_back(call);
    return calls;
}

std::string FieldOf(const StandinEntry& entry, const std::string& key) {
    for (const std::string& field : entry) {
        if (field.compare(0, key.size() + 1, key + "=") == 0) return field.substr(key.size() + 1);
    }
    return "";
}

std::string WorkingDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

WorkingDirectoryGuard::~WorkingDirectoryGuard() { EXPECT_EQ(chdir(saved_.c_str()), 0) << saved_; }
