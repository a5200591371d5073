#include "ProgramRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string_view>

extern char** environ;

namespace testsupport {

namespace {

// The test's environment with the run's variables replaced.
std::vector<std::string> Environment(const TProgramRun& run) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : run.env)
            replaced = replaced || text.starts_with(name + "=");
        if (!replaced)
            environment.emplace_back(text);
    }
    for (const auto& [name, value] : run.env)
        environment.push_back(name + "=" + value);
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// The length of text's first lines lines, line ends included; 0 while it has fewer.
std::size_t EndOfLine(const std::string& text, std::size_t lines) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return 0;
        at = end + 1;
    }
    return at;
}

// Reads both pipes to their end within the bound; a program still running then is killed.
// True when it closed outFd itself, for a reader that stops early.
bool Drain(pid_t pid, int outFd, int errFd, const TProgramRun& run, std::string& out,
           std::string& err) {
    const std::chrono::seconds bound = run.bound;
    bool closedOutput = false;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = left.count() > 0 ? ::poll(fds, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "the program did not end within " << bound.count() << " s";
            return closedOutput;
        }
        for (pollfd& p : fds) {
            if (p.fd < 0 || !p.revents)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(p.fd, buffer, sizeof buffer);
            if (got <= 0) {
                p.fd = -1;
                --open;
            } else {
                (p.fd == outFd ? out : err).append(buffer, static_cast<std::size_t>(got));
            }
            if (p.fd == outFd && run.outputLines && EndOfLine(out, *run.outputLines)) {
                out.resize(EndOfLine(out, *run.outputLines));
                ::close(outFd);  // the program's next write finds no reader
                p.fd = -1;
                --open;
                closedOutput = true;
            }
        }
    }
    return closedOutput;
}

// A pipe, or a pseudo-terminal (fds[0] its reading end, fds[1] the program's terminal).
bool OutputChannel(bool terminal, int fds[2]) {
    if (!terminal)
        return ::pipe2(fds, O_CLOEXEC) == 0;
    if (::openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr) != 0)
        return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
}

// Writes the program's whole input and closes the pipe; the inputs of tests fit the pipe's
// buffer, so this never waits for the program. The reading end stays open meanwhile, so that a
// program that ended without reading costs no SIGPIPE.
void Feed(int in[2], const std::string& input) {
    const int fd = in[1];
    for (std::size_t at = 0; at < input.size();) {
        const ssize_t put = ::write(fd, input.data() + at, input.size() - at);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            ADD_FAILURE() << "the program's input could not be written";
            break;
        }
        at += static_cast<std::size_t>(put);
    }
    ::close(in[1]);
    ::close(in[0]);
}

}  // namespace

TProgramOutcome RunProgram(const TProgramRun& run) {
    // Everything the child needs is made before the fork: only exec follows it there.
    std::vector<std::string> environment = Environment(run);
    std::vector<char*> envp = Pointers(environment);
    std::vector<std::string> arguments = {run.program};
    arguments.insert(arguments.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv = Pointers(arguments);

    TProgramOutcome outcome;
    int out[2], err[2], in[2] = {-1, -1};
    if (!OutputChannel(run.outputToTerminal, out) || !OutputChannel(run.errorsToTerminal, err) ||
        (run.input && ::pipe2(in, O_CLOEXEC) != 0)) {
        ADD_FAILURE() << "no pipes for the program";
        return outcome;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // A test process that dies does not leave the program running.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (in[0] >= 0)
            ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(run.program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (run.input)
        Feed(in, *run.input);
    if (run.started)
        run.started(child);
    std::string stdoutText;
    if (!Drain(child, out[0], err[0], run, stdoutText, outcome.errors))
        ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.lines = SplitLines(stdoutText);
    return outcome;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size())
        lines.push_back(text.substr(at));
    return lines;
}

}  // namespace testsupport
