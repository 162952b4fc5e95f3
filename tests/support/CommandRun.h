#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Runs the built brevan command as a user would from a shell, and what it said.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// One shell word, whatever the argument holds.
inline std::string Quote(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// The arguments follow the program name; standard error goes through a file in the folder.
inline RunResult RunBrevan(const std::vector<std::string>& arguments,
                           const std::filesystem::path& scratchFolder) {
    std::string command = std::string(BREVAN_BINARY_DIR) + "/bin/brevan";
    for (const std::string& argument : arguments) {
        command += " " + Quote(argument);
    }
    const std::filesystem::path errors = scratchFolder / "stderr.txt";
    command += " 2>" + Quote(errors.string());
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadAll(errors);
    return result;
}
