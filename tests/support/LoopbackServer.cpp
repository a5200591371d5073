#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    BoundBlockingCalls(listenFd_);
    thread_ = std::thread([this, script = std::move(script)] {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            BoundBlockingCalls(fd);
            connFd_ = fd;
            script(fd);
            connFd_ = -1;
            ::close(fd);
        }
        done_ = true;
        finished_.set_value();
    });
}

LoopbackServer::~LoopbackServer() {
    // Wakes an accept or a transfer that is still blocked, then waits for the script.
    ::shutdown(listenFd_, SHUT_RDWR);
    int fd = connFd_.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
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
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
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
