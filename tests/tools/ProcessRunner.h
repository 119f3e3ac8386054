#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Runs a program as a child process for the command-line tests (POSIX).
namespace korvane::test {

struct ProcessResult {
    int exitCode = -1; // 128 + signal number when the child was killed
    std::string out;
    std::string err;
    std::string terminal; // what the child wrote to its terminal, when it had one
};

struct ProcessOptions {
    // Added to (or replacing in) the test's own environment; KORVANE_GOST_KEY is never inherited.
    std::map<std::string, std::string> environment;
    // Without a terminal the child runs in a session of its own with no controlling terminal.
    bool onTerminal = false;
    // On a terminal: whether standard error is the terminal too (standard output never is).
    bool stderrOnTerminal = false;
    // On a terminal: typed (followed by a newline) once `prompt` has appeared on it.
    std::string prompt;
    std::string typed;
};

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

} // namespace korvane::test
