// Running and timing a whole program, for the benches that compare programs with each other.
#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <string>
#include <vector>

namespace benchsupport {

struct TTimes {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds
};

double CpuSeconds(const rusage& usage);

// argv as execv takes it: pointers into the strings, ending with a null.
std::vector<char*> ExecArgs(const std::vector<std::string>& argv);

// Runs argv (looked up on PATH) with its standard output thrown away and, when home is not
// empty, HOME set to it. Throws failure unless the program exits with expectedExit.
TTimes TimeChild(const std::vector<std::string>& argv, const std::filesystem::path& home,
                 int expectedExit, const std::string& failure);

}  // namespace benchsupport
