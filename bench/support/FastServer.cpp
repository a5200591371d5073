#include "FastServer.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "Loopback.h"

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
    std::uint16_t port = 0;
    listener_ = ListenOnLoopback(512, port);
    port_ = port;
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
