#include "ServerThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

// The socket address of a loopback address text and port; throws for any other address.
sockaddr_storage LoopbackSocketAddress(const std::string& address, std::uint16_t port) {
    sockaddr_storage addr{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(addr);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(addr);
    if (::inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1 &&
        IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr)) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
    } else if (::inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1 &&
               (ntohl(v4.sin_addr.s_addr) >> 24) == 127) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
    } else {
        throw std::runtime_error("not a loopback address: " + address);
    }
    return addr;
}

}  // namespace

int BindLoopback(const std::string& address, std::uint16_t& port) {
    sockaddr_storage addr = LoopbackSocketAddress(address, port);
    const bool v6 = addr.ss_family == AF_INET6;
    // Non-blocking, so that an accept after a wait never blocks on a client that went away.
    TFd fd(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0)
        throw std::runtime_error("socket failed for " + address);
    const int on = 1;
    // A fixed port that a test used a moment ago may still linger in TIME_WAIT.
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6)
        ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind on " + address + " port " + std::to_string(port));
    port = ntohs(v6 ? reinterpret_cast<sockaddr_in6&>(addr).sin6_port
                    : reinterpret_cast<sockaddr_in&>(addr).sin_port);
    return fd.Release();
}

ServerThread::ServerThread(const std::string& address, std::uint16_t port) {
    listen_.Reset(BindLoopback(address, port));
    if (::listen(listen_.Get(), 64) != 0)
        throw std::runtime_error("cannot listen on " + address);
    port_ = port;
    stop_.Reset(::eventfd(0, EFD_CLOEXEC));
    if (stop_.Get() < 0)
        throw std::runtime_error("eventfd failed");
}

ServerThread::~ServerThread() {
    Stop();
}

void ServerThread::Start(std::function<void()> run) {
    thread_ = std::thread(std::move(run));
}

void ServerThread::RequestStop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stop_.Get(), &one, sizeof one);
}

void ServerThread::Stop() {
    RequestStop();
    if (thread_.joinable())
        thread_.join();
}

int ServerThread::Accept(int flags) const {
    return ::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC | flags);
}

int ServerThread::AcceptNext(Clock::time_point until, int flags) const {
    while (WaitFor(listen_.Get(), POLLIN, until) == TWait::Ready) {
        const int fd = Accept(flags);
        if (fd >= 0 || (errno != EAGAIN && errno != ECONNABORTED))
            return fd;
        // The client went between the wait and the accept: wait for the next one.
    }
    return -1;
}

bool ServerThread::StopRequested() const {
    pollfd stop{stop_.Get(), POLLIN, 0};
    return ::poll(&stop, 1, 0) > 0;
}

ServerThread::TWait ServerThread::Wait(std::span<pollfd> fds, Clock::time_point until) const {
    std::vector<pollfd> all{{stop_.Get(), POLLIN, 0}};
    all.insert(all.end(), fds.begin(), fds.end());
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return TWait::TimedOut;
        const int n = ::poll(all.data(), all.size(), static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || all[0].revents)
            return TWait::Stopped;
        if (n > 0) {
            for (std::size_t i = 0; i < fds.size(); ++i)
                fds[i].revents = all[i + 1].revents;
            return TWait::Ready;
        }
    }
}

ServerThread::TWait ServerThread::WaitFor(int fd, short events, Clock::time_point until) const {
    pollfd one{fd, events, 0};
    return Wait({&one, 1}, until);
}

}  // namespace testsupport
