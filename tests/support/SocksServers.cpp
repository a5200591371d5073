#include "SocksServers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "LoopbackServer.h"

namespace testsupport {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The servers are up in milliseconds; the bound only turns a hang into a failure.
constexpr auto kStartBound = std::chrono::seconds(10);
constexpr const char* kLogName = "server.log";

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

SocksServerProcess::~SocksServerProcess() {
    Stop();
}

std::string SocksServerProcess::Find(const std::string& program) {
    for (const char* place : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/usr/local/sbin/"}) {
        const std::string candidate = place + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::string SocksServerProcess::Log() const {
    return ReadFileBytes(dir_.Path() / kLogName);
}

void SocksServerProcess::Start(std::vector<std::string> argv) {
    const std::string logPath = (dir_.Path() / kLogName).string();
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int alive[2];
    if (log < 0 || null < 0 || ::pipe2(alive, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot prepare " + argv[0]);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // Only async-signal-safe calls until exec: the test process may have other threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);  // its own group, so that the children it forks go with it
        ::dup2(null, STDIN_FILENO);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::fcntl(alive[1], F_SETFD, 0);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(log);
    ::close(null);
    ::close(alive[1]);
    aliveFd_ = alive[0];
    if (child < 0)
        throw std::runtime_error("cannot start " + argv[0]);
    pid_ = child;
}

bool SocksServerProcess::Ended(int timeoutMs) const {
    pollfd fd{aliveFd_, POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) > 0;
}

void SocksServerProcess::WaitForLogLine(const std::string& marker) {
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(watch, (dir_.Path() / kLogName).c_str(), IN_MODIFY);
    const auto deadline = Clock::now() + kStartBound;
    bool seen = false;
    // danted closes the descriptors it inherits, the lifeline too; its end shows in its log.
    while (!(seen = Log().find(marker) != std::string::npos) && MsLeft(deadline) > 0) {
        pollfd fd{watch, POLLIN, 0};
        if (::poll(&fd, 1, MsLeft(deadline)) < 0 && errno != EINTR)
            break;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        char drain[4096];
        while (::read(watch, drain, sizeof drain) > 0) {
        }
    }
    ::close(watch);
    if (!seen)
        throw std::runtime_error("the SOCKS server did not come up:\n" + Log());
}

// microsocks says nothing when it listens: connect until it accepts, waiting on its lifeline
// between the tries (a few milliseconds, growing), so that its end is noticed at once.
void SocksServerProcess::WaitForListener() {
    const auto deadline = Clock::now() + kStartBound;
    for (int pause = 2; MsLeft(deadline) > 0; pause = std::min(pause * 2, 100)) {
        const int fd = ConnectTo(port_);
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        if (Ended(std::min(pause, MsLeft(deadline))))
            break;
    }
    throw std::runtime_error("the SOCKS server did not come up:\n" + Log());
}

void SocksServerProcess::Stop() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (aliveFd_ >= 0)
        ::close(aliveFd_);
    aliveFd_ = -1;
}

MicrosocksServer::MicrosocksServer(const std::string& user, const std::string& password) {
    port_ = UnusedPort();
    std::vector<std::string> argv = {Program(), "-i", "127.0.0.1", "-p", PortText()};
    if (!user.empty())
        argv.insert(argv.end(), {"-u", user, "-P", password});
    Start(argv);
    WaitForListener();
}

DanteServer::DanteServer() {
    port_ = UnusedPort();
    // Run as root (as the tests do here), danted wants to know whom to become.
    const std::string users =
        ::geteuid() == 0 ? "user.privileged: root\nuser.unprivileged: nobody\n" : "";
    const fs::path config = dir_.Write("danted.conf",
                                       "logoutput: stderr\n"
                                       "internal: 127.0.0.1 port = " +
                                           PortText() +
                                           "\n"
                                           "external: 127.0.0.1\n"
                                           "socksmethod: none\n"
                                           "clientmethod: none\n" +
                                           users +
                                           "client pass {\n"
                                           "    from: 127.0.0.0/8 to: 0.0.0.0/0\n"
                                           "}\n"
                                           "socks pass {\n"
                                           "    from: 127.0.0.0/8 to: 127.0.0.0/8\n"
                                           "    command: connect\n"
                                           "}\n");
    Start(
        {Program(), "-f", config.string(), "-p", (dir_.Path() / "danted.pid").string(), "-N", "1"});
    WaitForLogLine("running");
}

}  // namespace testsupport
