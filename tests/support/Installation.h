#ifndef TESTS_HOST_INSTALLATION_H
#define TESTS_HOST_INSTALLATION_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ShellRun.h"

// A throw-away installation tree below a fresh temporary root: the program
// directory (the module directory, holding server/ and the init file; "bin"
// unless told otherwise) and lib/util beside it (the jar directory).
class Installation {
  public:
    explicit Installation(const std::string& programDirectory = "bin") {
        char pattern[] = "/tmp/halvern-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        root_ = made != nullptr ? made : "/tmp";
        bin_ = root_ / programDirectory;
        std::filesystem::create_directories(server());
    }
    ~Installation() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    std::filesystem::path root() const { return root_; }
    std::filesystem::path bin() const { return bin_; }
    std::filesystem::path server() const { return bin() / "server"; }
    std::filesystem::path jarDirectory() const { return bin().parent_path() / "lib" / "util"; }

    // The module directory as the host sees it: Windows form, ending in a backslash.
    std::string moduleDirectory() const { return WindowsForm(bin().string()) + "\\"; }

    void addJar(const std::string& name) const {
        std::filesystem::create_directories(jarDirectory());
        WriteFile(jarDirectory() / name, "PK");
    }

    static std::string WindowsForm(std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }

    static void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }

    static std::string ReadFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::stringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Copies a built program, keeping it executable.
    static void CopyExecutable(const std::filesystem::path& from, const std::filesystem::path& to) {
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(to, std::filesystem::perms::owner_all);
    }

  private:
    std::filesystem::path root_;
    std::filesystem::path bin_;
};

// The process's working directory, POSIX form.
inline std::string WorkingDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
}

#endif
