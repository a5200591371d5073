#include "ConnectProxy.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "LoopbackServer.h"

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

// The port of "CONNECT host:port HTTP/1.x", 0 when the request is not of that form.
std::uint16_t ConnectPort(const std::string& request) {
    if (request.rfind("CONNECT ", 0) != 0)
        return 0;
    const auto blank = request.find(' ', 8);
    const auto colon = request.rfind(':', blank);
    if (blank == std::string::npos || colon == std::string::npos || colon < 8)
        return 0;
    return static_cast<std::uint16_t>(std::atoi(request.c_str() + colon + 1));
}

bool WriteAll(int fd, const char* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ConnectProxy::ConnectProxy(std::chrono::milliseconds lifetime)
    : deadline_(Clock::now() + lifetime) {
    server_.Start([this] { Run(); });
}

std::vector<std::string> ConnectProxy::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ConnectProxy::WaitReadable(int fd) const {
    return server_.WaitFor(fd, POLLIN, deadline_) == ServerThread::TWait::Ready;
}

void ConnectProxy::Run() {
    for (;;) {
        const int client = server_.AcceptNext(deadline_);
        if (client < 0)
            return;
        Serve(client);
        ::close(client);
    }
}

void ConnectProxy::Serve(int client) {
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
        char buffer[1024];
        if (!WaitReadable(client))
            return;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    const std::uint16_t port = ConnectPort(request);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(port);
    if (port == 0 || server < 0 ||
        ::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const std::string refusal = "HTTP/1.0 502 Bad Gateway\r\n\r\n";
        WriteAll(client, refusal.data(), refusal.size());
        if (server >= 0)
            ::close(server);
        return;
    }
    const std::string agreed = "HTTP/1.0 200 Connection established\r\n\r\n";
    if (WriteAll(client, agreed.data(), agreed.size()))
        Relay(client, server);
    ::close(server);
}

void ConnectProxy::Relay(int client, int server) {
    for (;;) {
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (server_.Wait(fds, deadline_) != ServerThread::TWait::Ready)
            return;
        for (const pollfd& from : fds) {
            if (!from.revents)
                continue;
            char buffer[16384];
            const ssize_t got = ::recv(from.fd, buffer, sizeof buffer, 0);
            const int to = from.fd == client ? server : client;
            if (got <= 0 || !WriteAll(to, buffer, static_cast<std::size_t>(got)))
                return;
        }
    }
}

}  // namespace testsupport
