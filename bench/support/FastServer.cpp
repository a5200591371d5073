#include "FastServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace benchsupport {

namespace {

bool ReadRequest(int fd) {
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

}  // namespace

TFastServer::TFastServer(std::string answer) : answer_(std::move(answer)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener_, 512) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TFastServer::~TFastServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);  // ends the blocking accept
    thread_.join();
    ::close(listener_);
}

void TFastServer::Serve() {
    while (!stopping_) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (ReadRequest(fd)) {
            [[maybe_unused]] auto sent = ::send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
            ++served_;
        }
        ::close(fd);
    }
}

}  // namespace benchsupport
