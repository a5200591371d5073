// HEAD requests over loopback: THttpCli::Head against a plain blocking client doing the same
// requests to the same server in the same run (interleaved rounds), printed as a ratio of
// their request rates (target: at least 0.8). Then the CPU time the process uses while Head
// waits 10 seconds for a server that is slow to answer (target: close to zero).
//
//   bench_http [requests per round, default 100] [rounds, default 21] [slow seconds, default 10]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Loopback.h"
#include "http/HttpProt.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kAnswer = "HTTP/1.0 200 OK\r\nServer: bench\r\nContent-Length: 0\r\n\r\n";

double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

using benchsupport::ListenOnLoopback;
using benchsupport::LoopbackAddress;

// Answers every request with kAnswer after a fixed delay, one connection after another.
class BenchServer {
  public:
    explicit BenchServer(int delayMs = 0) : delayMs_(delayMs) {
        listenFd_ = ListenOnLoopback(64, port_);
        stopFd_ = ::eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~BenchServer() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
        thread_.join();
        ::close(listenFd_);
        ::close(stopFd_);
    }
    std::uint16_t Port() const { return port_; }

  private:
    // False when the server is stopping.
    bool Wait(int fd, int timeoutMs) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        const int n = ::poll(fds, fd >= 0 ? 2 : 1, timeoutMs);
        return n >= 0 && !fds[0].revents;
    }
    void Run() {
        while (Wait(listenFd_, -1)) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            Serve(fd);
            ::close(fd);
        }
    }
    void Serve(int fd) {
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
            if (!Wait(fd, 5000))
                return;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            request.append(buf, static_cast<std::size_t>(n));
        }
        if (delayMs_ > 0 && !Wait(-1, delayMs_))
            return;
        [[maybe_unused]] auto n = ::send(fd, kAnswer.data(), kAnswer.size(), MSG_NOSIGNAL);
    }

    int delayMs_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// The request THttpCli sends for a plain HEAD, so that both clients move the same bytes.
std::string PlainRequest() {
    return "HEAD / HTTP/1.0\r\n"
           "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible)\r\nHost: 127.0.0.1\r\n\r\n";
}

// One blocking request: connect, send, read to the end, close. Returns the status code.
int PlainHead(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return 0;
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
        answer.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

double TimePlain(std::uint16_t port, int requests) {
    const std::string request = PlainRequest();
    const auto start = Clock::now();
    for (int i = 0; i < requests; ++i)
        if (PlainHead(port, request) != 200)
            throw std::runtime_error("plain client: unexpected answer");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double TimeHead(THttpCli& cli, int requests) {
    const auto start = Clock::now();
    for (int i = 0; i < requests; ++i) {
        cli.Head();
        if (cli.StatusCode() != 200)
            throw std::runtime_error("THttpCli: unexpected answer");
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Rounds alternate between the two clients; the median of the per-round ratios keeps a
// burst of load from other processes from deciding the result.
void CompareWithPlainClient(int requests, int rounds) {
    BenchServer server;
    THttpCli cli;
    cli.SetURL("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    TimeHead(cli, 20);  // warm-up of both paths
    TimePlain(server.Port(), 20);
    double plain = 0, head = 0;
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        const double p = TimePlain(server.Port(), requests);
        const double h = TimeHead(cli, requests);
        plain += p;
        head += h;
        ratios.push_back(p / h);
    }
    std::sort(ratios.begin(), ratios.end());
    const double total = static_cast<double>(requests) * rounds;
    std::printf("sequential HEAD over loopback, %d rounds of %d requests each\n", rounds, requests);
    std::printf("  plain blocking client : %8.0f requests/s\n", total / plain);
    std::printf("  THttpCli::Head        : %8.0f requests/s\n", total / head);
    std::printf("  ratio Head / plain    : %8.2f   median of the rounds (target >= 0.80)\n",
                ratios[ratios.size() / 2]);
}

void CpuWhileWaiting(int seconds) {
    BenchServer server(seconds * 1000);
    THttpCli cli;
    cli.SetTimeout(seconds + 20);
    cli.SetURL("http://127.0.0.1:" + std::to_string(server.Port()) + "/");
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    cli.Head();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("Head waiting for a slow server: %.1f s wall, %.4f s CPU (target: close to 0)\n",
                wall, CpuSeconds() - cpu0);
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    const int slowSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    try {
        CompareWithPlainClient(requests, rounds);
        CpuWhileWaiting(slowSeconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_http: %s\n", e.what());
        return 1;
    }
    return 0;
}
