// Bytes per second received over loopback from a plain blocking writer of 80-byte lines, by a
// TWSocket and, beside it, by a plain blocking socket doing the same work:
//   direct:     a direct connection; both read 64 KiB pieces
//   line mode:  the TWSocket in line mode with one OnDataAvailable per line, whose handler
//               copies the line out with Receive; the plain reader reads pieces as large as
//               line mode's (256 KiB), splits them with memchr and hands each line to a
//               callback (a std::function, as OnDataAvailable is) that copies it out
//   socks5:     through the SOCKS 5 tunnel of a real relay (microsocks, danted; started here);
//               the plain client does the SOCKS 5 handshake itself through the same relay
// Every byte of a tunnel passes through the relay process on both sides, so the ratio shows
// what the socket adds. Each row prints the best of some rounds of both, their ratio (target:
// at least 0.8), the TWSocket's rate against the plain direct one, for scale, and the plain
// reader's least processor time against the TWSocket's ("cpu"), and the median of the rounds'
// own ratios ("paired"), which the machine's slow and fast phases move far less than the best of
// each side.
// Arguments: MiB per transfer (default 256), rounds (default 3), and a word that picks the
// rows to run besides direct ("line", "socks5", "danted"; default all).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ChildRun.h"
#include "Loopback.h"
#include "Median.h"
#include "net/WSocket.h"
#include "sys/Application.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kLinePiece = 256 * 1024;  // what line mode reads at most at once

using benchsupport::LoopbackAddress;
using benchsupport::Median;

int Listener(std::uint16_t& port) {
    return benchsupport::ListenOnLoopback(8, port);
}

std::uint16_t FreePort() {
    std::uint16_t port;
    ::close(Listener(port));
    return port;
}

int ConnectTo(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Accepts one connection and writes total bytes of 80-byte lines, then closes.
std::thread Writer(int listener, std::size_t total) {
    return std::thread([listener, total] {
        int fd = ::accept(listener, nullptr, nullptr);
        std::string block;
        while (block.size() < kPiece)
            block += std::string(78, 'x') + "\r\n";
        for (std::size_t sent = 0; sent < total;) {
            ssize_t n =
                ::send(fd, block.data(), std::min(block.size(), total - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
}

// A relay process in a process group of its own, killed with its children at the end.
struct Relay {
    std::uint16_t port = 0;
    pid_t pid = -1;
    std::thread drain;  // reads the relay's output until it ends
    ~Relay() {
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (drain.joinable())
            drain.join();
    }
};

// Starts argv with its standard error on a pipe, which the caller reads.
pid_t Spawn(std::vector<std::string> argv, int& output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    std::vector<char*> args = benchsupport::ExecArgs(argv);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    output = pipeFds[0];
    return pid;
}

void DrainUntilEnd(Relay& relay, int output) {
    relay.drain = std::thread([output] {
        char buf[4096];
        while (::read(output, buf, sizeof buf) > 0) {
        }
        ::close(output);
    });
}

// microsocks says nothing when it listens: try until it accepts, waiting on its output between
// the tries (a few milliseconds, growing), so that its end is noticed at once.
bool StartMicrosocks(Relay& relay) {
    relay.port = FreePort();
    int output;
    relay.pid =
        Spawn({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(relay.port)}, output);
    if (relay.pid < 0)
        return false;
    bool up = false;
    for (int pause = 2, waited = 0; !up && waited < 10000;
         waited += pause, pause = std::min(pause * 2, 100)) {
        const int fd = ConnectTo(relay.port);
        up = fd >= 0;
        if (up)
            ::close(fd);
        pollfd lifeline{output, POLLIN, 0};
        char byte;
        if (!up && ::poll(&lifeline, 1, pause) > 0 && ::read(output, &byte, 1) <= 0)
            break;  // it ended
    }
    DrainUntilEnd(relay, output);
    return up;
}

// danted logs "running" to standard error once it serves.
bool StartDanted(Relay& relay, const std::filesystem::path& dir) {
    relay.port = FreePort();
    const std::string config = (dir / "danted.conf").string();
    std::ofstream(config) << "logoutput: stderr\n"
                          << "internal: 127.0.0.1 port = " << relay.port << "\n"
                          << "external: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
                          << (::geteuid() == 0 ? "user.privileged: root\n"
                                                 "user.unprivileged: nobody\n"
                                               : "")
                          << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                          << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n"
                          << "  command: connect\n}\n";
    int output;
    relay.pid = Spawn(
        {"/usr/sbin/danted", "-f", config, "-p", (dir / "danted.pid").string(), "-N", "1"}, output);
    if (relay.pid < 0)
        return false;
    std::string log;
    char buf[4096];
    ssize_t n;
    while (log.find("running") == std::string::npos && (n = ::read(output, buf, sizeof buf)) > 0)
        log.append(buf, static_cast<std::size_t>(n));
    DrainUntilEnd(relay, output);
    return log.find("running") != std::string::npos;
}

// Processor time of the calling thread, the reader: unlike the rate, hardly moved by what else
// the machine runs meanwhile.
double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What one transfer gave: bytes per second, and the reader's processor seconds.
struct Result {
    double rate = 0, cpu = 0;
};

double RateSince(Clock::time_point start, std::size_t bytes) {
    return static_cast<double>(bytes) / std::chrono::duration<double>(Clock::now() - start).count();
}

// The TWSocket receives everything the writer sends; bytes per second.
Result SocketReceive(std::size_t total, std::uint16_t socksPort, bool lineMode) {
    std::uint16_t port;
    int listener = Listener(port);
    std::thread writer = Writer(listener, total);
    TWSocket s;
    std::size_t got = 0;
    bool closed = false;
    static char buffer[kPiece];
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            got += static_cast<std::size_t>(n);
    };
    s.OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
    s.SetLineMode(lineMode);
    if (socksPort != 0) {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(std::to_string(socksPort));
    }
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    s.Connect();
    auto& app = sys::Application::Instance();
    while (!closed)
        app.HandleMessage();
    const Result result{RateSince(start, got), ThreadCpuSeconds() - cpuStart};
    writer.join();
    ::close(listener);
    if (got != total)
        std::fprintf(stderr, "TWSocket received %zu of %zu bytes\n", got, total);
    return result;
}

bool ReadExactly(int fd, unsigned char* buf, std::size_t n) {
    for (std::size_t got = 0; got < n;) {
        ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// The request the socket's SOCKS layer sends: CONNECT to the target named by its address text.
bool PlainSocks5Handshake(int fd, std::uint16_t targetPort) {
    const unsigned char greeting[] = {5, 1, 0};
    unsigned char answer[262];
    if (::send(fd, greeting, sizeof greeting, MSG_NOSIGNAL) != sizeof greeting ||
        !ReadExactly(fd, answer, 2) || answer[0] != 5 || answer[1] != 0)
        return false;
    const std::string host = "127.0.0.1";
    std::string request = {5, 1, 0, 3, static_cast<char>(host.size())};
    request += host;
    request += static_cast<char>(targetPort >> 8);
    request += static_cast<char>(targetPort & 0xff);
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size()) ||
        !ReadExactly(fd, answer, 5) || answer[1] != 0)
        return false;
    const std::size_t rest = answer[3] == 1 ? 5 : answer[3] == 3 ? 2u + answer[4] : 17;
    return ReadExactly(fd, answer + 5, rest);
}

// Reads pieces as large as line mode's into a buffer of its own and hands each complete CR LF
// line to a callback.
struct PlainLineReader {
    using Callback = std::function<void(const char* line, std::size_t size)>;
    std::vector<char> buf = std::vector<char>(2 * kLinePiece);
    std::size_t head = 0, tail = 0, scanned = 0;

    bool ReadPiece(int fd, const Callback& onLine) {
        if (buf.size() - tail < kLinePiece) {
            std::memmove(buf.data(), buf.data() + head, tail - head);
            scanned -= head;
            tail -= head;
            head = 0;
        }
        ssize_t n = ::recv(fd, buf.data() + tail, kLinePiece, 0);
        if (n <= 0) {
            if (tail > head)
                onLine(buf.data() + head, tail - head);
            return false;
        }
        tail += static_cast<std::size_t>(n);
        while (const void* hit = std::memchr(buf.data() + scanned, '\n', tail - scanned)) {
            scanned = static_cast<std::size_t>(static_cast<const char*>(hit) - buf.data()) + 1;
            if (scanned - head >= 2 && buf[scanned - 2] == '\r') {
                onLine(buf.data() + head, scanned - head);
                head = scanned;
            }
        }
        scanned = tail;
        return true;
    }
};

// The plain client reads everything, directly or through the relay; bytes per second.
Result PlainReceive(std::size_t total, std::uint16_t socksPort, bool lineMode) {
    std::uint16_t port;
    int listener = Listener(port);
    std::thread writer = Writer(listener, total);
    std::size_t got = 0;
    static char buffer[kPiece];
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    int fd = ConnectTo(socksPort != 0 ? socksPort : port);
    if (fd >= 0 && (socksPort == 0 || PlainSocks5Handshake(fd, port))) {
        if (lineMode) {
            PlainLineReader reader;
            const PlainLineReader::Callback copyOut = [&](const char* line, std::size_t n) {
                std::memcpy(buffer, line, n);
                got += n;
            };
            while (reader.ReadPiece(fd, copyOut)) {
            }
        } else {
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                got += static_cast<std::size_t>(n);
        }
    }
    const Result result{RateSince(start, got), ThreadCpuSeconds() - cpuStart};
    if (fd >= 0)
        ::close(fd);
    writer.join();
    ::close(listener);
    if (got != total)
        std::fprintf(stderr, "plain client received %zu of %zu bytes\n", got, total);
    return result;
}

struct Pair {
    double socket = 0, plain = 0;
    double socketCpu = 1e9, plainCpu = 1e9;
    double pairedMedian = 0;  // the median of the rounds' own ratios
};

// Both sides in turn, rounds times; the best of each, so that a busy moment hurts neither, and
// the median of each round's ratio: a slow phase of the machine mostly hits both of a round.
Pair Measure(std::size_t total, int rounds, std::uint16_t socksPort, bool lineMode) {
    Pair best;
    std::vector<double> ratios;
    for (int i = 0; i < rounds; ++i) {
        const Result s = SocketReceive(total, socksPort, lineMode);
        const Result p = PlainReceive(total, socksPort, lineMode);
        best.socket = std::max(best.socket, s.rate);
        best.plain = std::max(best.plain, p.rate);
        best.socketCpu = std::min(best.socketCpu, s.cpu);
        best.plainCpu = std::min(best.plainCpu, p.cpu);
        ratios.push_back(s.rate / p.rate);
    }
    best.pairedMedian = Median(ratios);
    return best;
}

// "cpu": the plain reader's processor time over the TWSocket's, as the ratio of rates;
// "paired": the median of the rounds' ratios.
void Row(const char* what, Pair p, double plainDirect) {
    std::printf("%-20s %10.1f %10.1f  %6.2f  %9.2f  %6.2f  %6.2f\n", what, p.socket / 1048576,
                p.plain / 1048576, p.socket / p.plain, p.socket / plainDirect,
                p.plainCpu / p.socketCpu, p.pairedMedian);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string only = argc > 3 ? argv[3] : "";
    auto wanted = [&](const char* row) { return std::string(row).find(only) != std::string::npos; };
    const std::size_t total = mib * 1024 * 1024;
    char dirTemplate[] = "/tmp/bench_socks.XXXXXX";
    const std::filesystem::path dir = ::mkdtemp(dirTemplate);
    Relay microsocks, danted;
    if (!StartMicrosocks(microsocks) || !StartDanted(danted, dir)) {
        std::fprintf(stderr, "a SOCKS relay did not start\n");
        return 1;
    }
    std::printf("bench_socks: %zu MiB per transfer, best of %d rounds, MiB/s\n", mib, rounds);
    std::printf("%-20s %10s %10s  %6s  %9s  %6s  %6s\n", "path", "TWSocket", "plain", "ratio",
                "/direct", "cpu", "paired");
    SocketReceive(total / 8, 0, false);  // warm-up
    const Pair direct = Measure(total, rounds, 0, false);
    Row("direct", direct, direct.plain);
    if (wanted("line mode"))
        Row("line mode", Measure(total, rounds, 0, true), direct.plain);
    if (wanted("socks5 microsocks"))
        Row("socks5 microsocks", Measure(total, rounds, microsocks.port, false), direct.plain);
    if (wanted("socks5 danted"))
        Row("socks5 danted", Measure(total, rounds, danted.port, false), direct.plain);
    std::filesystem::remove_all(dir);
    return 0;
}
