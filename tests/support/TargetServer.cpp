#include "TargetServer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "LoopbackServer.h"

namespace testsupport {

using Clock = std::chrono::steady_clock;

TargetServer::TargetServer(std::set<std::string> targets, std::chrono::milliseconds lifetime)
    : targets_(std::move(targets)), deadline_(Clock::now() + lifetime) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("TargetServer: cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

TargetServer::~TargetServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

std::string TargetServer::Base() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> TargetServer::Asked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
}

void TargetServer::Run() {
    std::map<int, std::string> open;  // connection -> what it sent so far
    while (Clock::now() < deadline_) {
        std::vector<pollfd> fds = {{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto& [fd, request] : open)
            fds.push_back({fd, POLLIN, 0});
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long>(0, left.count())));
        if (fds[0].revents)
            break;
        if (fds[1].revents) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                open[fd];
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            std::string& request = open[fds[i].fd];
            char buffer[4096];
            const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (got > 0)
                request.append(buffer, static_cast<std::size_t>(got));
            if (got > 0 && request.find("\r\n\r\n") == std::string::npos)
                continue;
            if (got > 0)
                Answer(fds[i].fd, request);
            ::close(fds[i].fd);
            open.erase(fds[i].fd);
        }
    }
    for (const auto& [fd, request] : open)
        ::close(fd);
}

void TargetServer::Answer(int fd, const std::string& request) {
    const std::size_t start = request.find(' ') + 1;
    const std::string target = request.substr(start, request.find(' ', start) - start);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.push_back(target);
    }
    WriteAll(fd,
             targets_.count(target) ? "HTTP/1.0 200 OK\r\n\r\n" : "HTTP/1.0 404 Not Found\r\n\r\n");
}

}  // namespace testsupport
