#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace testsupport {

namespace {

constexpr int kBoundSeconds = 20;

void BoundBlockingCalls(int fd) {
    timeval tv{kBoundSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

LoopbackServer::LoopbackServer(Script script) {
    server_.Start([this, script = std::move(script)] { Run(script); });
}

LoopbackServer::~LoopbackServer() {
    // Ends the wait for a connection, or wakes a transfer of the script that is still blocked;
    // a script that has its connection but has not begun sees the stop and does not begin.
    server_.RequestStop();
    if (const int fd = connFd_.load(); fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    server_.Stop();
}

void LoopbackServer::Run(const Script& script) {
    const auto bound = ServerThread::Clock::now() + std::chrono::seconds(kBoundSeconds);
    const int fd = server_.AcceptNext(bound);
    if (fd >= 0) {
        BoundBlockingCalls(fd);
        connFd_ = fd;
        if (!server_.StopRequested())
            script(fd);
        connFd_ = -1;
        ::close(fd);
    }
    done_ = true;
    finished_.set_value();
}

bool LoopbackServer::WaitDone() {
    return finished_.get_future().wait_for(std::chrono::seconds(kBoundSeconds)) ==
           std::future_status::ready;
}

std::string ReadAll(int fd) {
    std::string all;
    char buf[65536];
    for (;;) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return all;
        all.append(buf, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint16_t UnusedPort() {
    std::uint16_t port = 0;
    ::close(BindLoopback("127.0.0.1", port));
    return port;
}

int ConnectTo(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    BoundBlockingCalls(fd);
    return fd;
}

}  // namespace testsupport
