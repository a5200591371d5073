#include "CountingServer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "LoopbackServer.h"

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

struct TConnection {
    int fd;
    std::string request;
    Clock::time_point answerAt = Clock::time_point::max();
};

}  // namespace

CountingServer::CountingServer(std::string answer, std::chrono::milliseconds delay,
                               std::chrono::milliseconds lifetime)
    : answer_(std::move(answer)), delay_(delay), deadline_(Clock::now() + lifetime) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("CountingServer: cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

CountingServer::~CountingServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

std::string CountingServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void CountingServer::Run() {
    std::vector<TConnection> open;
    while (Clock::now() < deadline_) {
        auto wake = deadline_;
        for (const auto& c : open)
            wake = std::min(wake, c.answerAt);
        std::vector<pollfd> fds = {{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto& c : open)
            fds.push_back({c.fd, POLLIN, 0});
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, left.count())));
        if (fds[0].revents)
            break;
        if (fds[1].revents) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                open.push_back({fd, {}});
            mostAtOnce_ = std::max(mostAtOnce_.load(), static_cast<int>(open.size()));
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            TConnection& c = open[i - 2];
            char buffer[4096];
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                c.request.append(buffer, static_cast<std::size_t>(n));
            if (c.request.find("\r\n\r\n") != std::string::npos &&
                c.answerAt == Clock::time_point::max())
                c.answerAt = Clock::now() + delay_;
            if (n == 0)
                c.answerAt = Clock::now();  // the client gave up: close it now
        }
        const auto now = Clock::now();
        for (auto& c : open) {
            if (c.answerAt > now)
                continue;
            if (!c.request.empty()) {
                ++answered_;  // first: a client that has its answer finds it counted
                ::send(c.fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
            }
            ::close(c.fd);
            c.fd = -1;
        }
        std::erase_if(open, [](const TConnection& c) { return c.fd < 0; });
    }
    for (auto& c : open)
        ::close(c.fd);
}

}  // namespace testsupport
