#include "ChildRun.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace benchsupport {

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

double CpuSeconds(const rusage& usage) {
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

std::vector<char*> ExecArgs(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    return args;
}

TTimes TimeChild(const std::vector<std::string>& argv, const std::filesystem::path& home,
                 int expectedExit, const std::string& failure) {
    std::fflush(stdout);  // the child must not print our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!home.empty())
            ::setenv("HOME", home.c_str(), 1);
        if (!std::freopen("/dev/null", "w", stdout))
            ::_exit(126);
        std::vector<char*> args = ExecArgs(argv);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    TTimes times;
    times.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    times.cpu = CpuSeconds(usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedExit)
        throw std::runtime_error(failure);
    return times;
}

}  // namespace benchsupport
