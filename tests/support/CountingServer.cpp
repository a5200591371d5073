#include "CountingServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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
    server_.Start([this] { Run(); });
}

std::string CountingServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.Port()) + path;
}

void CountingServer::Run() {
    std::vector<TConnection> open;
    while (Clock::now() < deadline_) {
        auto wake = deadline_;
        for (const auto& c : open)
            wake = std::min(wake, c.answerAt);
        std::vector<pollfd> fds = {{server_.ListenFd(), POLLIN, 0}};
        for (const auto& c : open)
            fds.push_back({c.fd, POLLIN, 0});
        if (server_.Wait(fds, wake) == ServerThread::TWait::Stopped)
            break;
        if (fds[0].revents) {
            const int fd = server_.Accept();
            if (fd >= 0)
                open.push_back({fd, {}});
            mostAtOnce_ = std::max(mostAtOnce_.load(), static_cast<int>(open.size()));
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            TConnection& c = open[i - 1];
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
