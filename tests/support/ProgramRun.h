// Runs a program of the project as a user runs it, for the tests of whole programs: standard
// output and error collected, the exit code, and a bound after which the program is killed, so
// that a program that hangs fails its test instead of holding the suite.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct TProgramOutcome {
    int exitCode = -1;               // -1 when the program did not exit by itself
    std::vector<std::string> lines;  // standard output, line by line
    std::string errors;              // standard error
};

struct TProgramRun {
    std::string program;
    std::vector<std::string> args;
    // Variables set in the program's environment (the test's own environment otherwise).
    std::vector<std::pair<std::string, std::string>> env;
    std::chrono::seconds bound{60};
    // Standard error is a terminal (a pseudo-terminal, whose output is collected as errors),
    // for what a program shows only to a person watching.
    bool errorsToTerminal = false;
    // Standard output is a terminal in the same way (its line ends arrive as CR LF).
    bool outputToTerminal = false;
    // The reader of standard output closes its end after this many lines, as `| head` does;
    // the lines up to there are collected.
    std::optional<std::size_t> outputLines;
    // What the program reads on standard input; without it the program inherits the test's.
    std::optional<std::string> input;
    // Told the program's process id once it runs (to send it a signal, say).
    std::function<void(pid_t)> started;
};

TProgramOutcome RunProgram(const TProgramRun& run);

// The lines of a text; a last line without its line end counts too.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace testsupport
