// The socket component against plain blocking sockets doing the same work in the same run:
//   send:    bytes per second through TWSocket::Send (driven by OnDataSent) to a plain reader
//   receive: bytes per second through OnDataAvailable/Receive from a plain writer
//   cycles:  connect-close cycles per second against a plain accepting server
// Each line prints both figures and their ratio (TWSocket / plain).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "Loopback.h"
#include "net/WSocket.h"
#include "sys/Application.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

using benchsupport::LoopbackAddress;

// A plain listening socket on an ephemeral loopback port.
int PlainListener(std::uint16_t& port) {
    return benchsupport::ListenOnLoopback(128, port);
}

int PlainConnect(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        std::perror("connect");
        std::exit(1);
    }
    return fd;
}

void PlainReadAll(int fd) {
    static thread_local char buf[kChunk];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

void PlainWrite(int fd, std::size_t total) {
    std::string chunk(kChunk, 'w');
    for (std::size_t done = 0; done < total; done += kChunk)
        if (::send(fd, chunk.data(), kChunk, MSG_NOSIGNAL) < 0)
            return;
}

// Runs the application loop until done() holds.
void Loop(const std::function<bool()>& done) {
    auto& app = sys::Application::Instance();
    while (!done())
        app.HandleMessage();
}

// Component sends, a plain thread reads until the end of the stream.
double ComponentSend(std::size_t total) {
    std::uint16_t port;
    int listener = PlainListener(port);
    std::thread reader([listener] {
        int fd = ::accept(listener, nullptr, nullptr);
        PlainReadAll(fd);
        ::close(fd);
    });
    TWSocket s;
    std::string chunk(kChunk, 'c');
    std::size_t queued = 0;
    bool finished = false;
    Clock::time_point start;
    s.OnSessionConnected = [&](sys::TObject*, sys::Word) { start = Clock::now(); };
    s.OnDataSent = [&](sys::TObject*, sys::Word) {
        if (queued >= total) {
            finished = true;
            return;
        }
        // Keep a few chunks queued so that the stack never runs dry between notifications.
        for (int i = 0; i < 4 && queued < total; ++i, queued += kChunk)
            s.Send(chunk.data(), static_cast<int>(kChunk));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    Loop([&] { return finished; });
    double seconds = Seconds(start);
    s.Shutdown(1);
    reader.join();
    ::close(listener);
    return total / seconds;
}

double PlainSend(std::size_t total) {
    std::uint16_t port;
    int listener = PlainListener(port);
    std::thread reader([listener] {
        int fd = ::accept(listener, nullptr, nullptr);
        PlainReadAll(fd);
        ::close(fd);
    });
    int fd = PlainConnect(port);
    auto start = Clock::now();
    PlainWrite(fd, total);
    double seconds = Seconds(start);
    ::shutdown(fd, SHUT_WR);
    reader.join();
    ::close(fd);
    ::close(listener);
    return total / seconds;
}

// A plain thread writes, the component reads in its OnDataAvailable handler.
double ComponentReceive(std::size_t total) {
    std::uint16_t port;
    int listener = PlainListener(port);
    std::atomic<bool> accepted{false};
    std::thread writer([&] {
        int fd = ::accept(listener, nullptr, nullptr);
        accepted = true;
        PlainWrite(fd, total);
        ::close(fd);
    });
    TWSocket s;
    std::string buf(kChunk, '\0');
    std::size_t got = 0;
    bool closed = false;
    Clock::time_point start;
    s.OnSessionConnected = [&](sys::TObject*, sys::Word) { start = Clock::now(); };
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        int n = s.Receive(buf.data(), static_cast<int>(buf.size()));
        if (n > 0)
            got += static_cast<std::size_t>(n);
    };
    s.OnSessionClosed = [&](sys::TObject*, sys::Word) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    Loop([&] { return closed; });
    double seconds = Seconds(start);
    writer.join();
    ::close(listener);
    if (got != total)
        std::fprintf(stderr, "receive: got %zu of %zu bytes\n", got, total);
    return total / seconds;
}

double PlainReceive(std::size_t total) {
    std::uint16_t port;
    int listener = PlainListener(port);
    std::thread writer([&] {
        int fd = ::accept(listener, nullptr, nullptr);
        PlainWrite(fd, total);
        ::close(fd);
    });
    int fd = PlainConnect(port);
    auto start = Clock::now();
    PlainReadAll(fd);
    double seconds = Seconds(start);
    writer.join();
    ::close(fd);
    ::close(listener);
    return total / seconds;
}

// A plain server that accepts and drops connections until told to stop.
struct Acceptor {
    Acceptor() {
        listener = PlainListener(port);
        thread = std::thread([this] {
            for (;;) {
                int fd = ::accept(listener, nullptr, nullptr);
                if (fd < 0)
                    return;
                ::close(fd);
            }
        });
    }
    ~Acceptor() {
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    std::uint16_t port = 0;
    int listener = -1;
    std::thread thread;
};

double ComponentCycles(int cycles) {
    Acceptor server;
    TWSocket s;
    int done = 0;
    s.OnSessionConnected = [&](sys::TObject*, sys::Word) {
        ++done;
        s.Close();
    };
    auto start = Clock::now();
    for (int i = 0; i < cycles; ++i) {
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(server.port));
        s.Connect();
        Loop([&] { return done > i; });
    }
    return cycles / Seconds(start);
}

double PlainCycles(int cycles) {
    Acceptor server;
    auto start = Clock::now();
    for (int i = 0; i < cycles; ++i) {
        int fd = PlainConnect(server.port);
        linger hard{1, 0};  // the component's default close, so no TIME_WAIT piles up either
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
    return cycles / Seconds(start);
}

void Line(const char* what, const char* unit, double component, double plain, double scale) {
    std::printf("%-14s %12.1f %12.1f  %-9s %6.2f\n", what, component / scale, plain / scale, unit,
                component / plain);
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    int cycles = argc > 2 ? std::atoi(argv[2]) : 5000;
    std::size_t total = megabytes << 20;
    std::printf("bench_socket: %zu MiB per transfer in %zu KiB calls, %d connect-close cycles\n",
                megabytes, kChunk / 1024, cycles);
    std::printf("%-14s %12s %12s  %-9s %6s\n", "path", "TWSocket", "plain", "unit", "ratio");
    // Each pair runs back to back, so both see the same machine load.
    Line("send", "MiB/s", ComponentSend(total), PlainSend(total), 1 << 20);
    Line("receive", "MiB/s", ComponentReceive(total), PlainReceive(total), 1 << 20);
    Line("connect-close", "cycles/s", ComponentCycles(cycles), PlainCycles(cycles), 1);
    return 0;
}
