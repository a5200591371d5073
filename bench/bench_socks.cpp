// Bytes per second received by a TWSocket from a plain blocking writer on loopback:
//   plain:      a direct connection
//   socks5:     the same through a SOCKS 5 tunnel of a real microsocks (started here)
//   line mode:  a direct connection in line mode, 80-byte lines, one OnDataAvailable per line
// Each line prints the rate and its ratio to plain (target: at least 0.8).
// Arguments: MiB per transfer (default 256).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/WSocket.h"
#include "sys/Application.h"

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int Listener(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// Accepts one connection and writes total bytes of 80-byte lines, then closes.
std::thread Writer(int listener, std::size_t total) {
    return std::thread([listener, total] {
        int fd = ::accept(listener, nullptr, nullptr);
        std::string block;
        while (block.size() < 64 * 1024)
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

pid_t StartMicrosocks(std::uint16_t port) {
    const std::string portText = std::to_string(port);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execl("/usr/bin/microsocks", "microsocks", "-i", "127.0.0.1", "-p", portText.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // It says nothing when it listens: try until it accepts, a few milliseconds apart.
    for (int tries = 0; tries < 200; ++tries) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(port);
        bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (up)
            return pid;
        ::poll(nullptr, 0, 10);
    }
    std::fprintf(stderr, "microsocks did not start\n");
    std::exit(1);
}

std::uint16_t FreePort() {
    std::uint16_t port;
    ::close(Listener(port));
    return port;
}

// Receives everything the writer sends; bytes per second.
double Receive(std::size_t total, const std::string& socksPort, bool lineMode) {
    std::uint16_t port;
    int listener = Listener(port);
    std::thread writer = Writer(listener, total);
    TWSocket s;
    std::size_t got = 0;
    bool closed = false;
    static char buffer[256 * 1024];
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        int n = s.Receive(buffer, sizeof buffer);
        if (n > 0)
            got += static_cast<std::size_t>(n);
    };
    s.OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
    s.SetLineMode(lineMode);
    if (!socksPort.empty()) {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(socksPort);
    }
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    const auto start = Clock::now();
    s.Connect();
    auto& app = sys::Application::Instance();
    while (!closed)
        app.HandleMessage();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    ::close(listener);
    if (got != total)
        std::fprintf(stderr, "received %zu of %zu bytes\n", got, total);
    return static_cast<double>(got) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::size_t total = mib * 1024 * 1024;
    const std::uint16_t socksPort = FreePort();
    const pid_t socks = StartMicrosocks(socksPort);
    Receive(total / 8, "", false);  // warm-up
    const double plain = Receive(total, "", false);
    const double tunnel = Receive(total, std::to_string(socksPort), false);
    const double lines = Receive(total, "", true);
    std::printf("plain       %8.1f MiB/s\n", plain / 1048576);
    std::printf("socks5      %8.1f MiB/s  ratio %.2f\n", tunnel / 1048576, tunnel / plain);
    std::printf("line mode   %8.1f MiB/s  ratio %.2f\n", lines / 1048576, lines / plain);
    ::kill(socks, SIGKILL);
    ::waitpid(socks, nullptr, 0);
    return 0;
}
