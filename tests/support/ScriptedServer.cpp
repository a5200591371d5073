#include "ScriptedServer.h"

#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

int ListenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("ScriptedServer: socket failed");
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("ScriptedServer: cannot listen on 127.0.0.1");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// The Content-Length of a request header, 0 when it names none.
std::size_t ContentLength(std::string_view header) {
    std::string lower(header);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = lower.find("\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::strtoul(lower.c_str() + at + 16, nullptr, 10);
}

// End of the request header (past its empty line), or npos.
std::size_t HeaderEnd(std::string_view data) {
    const auto crlf = data.find("\r\n\r\n");
    const auto lf = data.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

}  // namespace

TScript& TScript::ReadRequest() {
    steps_.push_back({TStep::TKind::ReadRequest, {}});
    return *this;
}

TScript& TScript::Send(std::string bytes, std::size_t pieceSize, std::chrono::milliseconds pause) {
    steps_.push_back({TStep::TKind::Send, std::move(bytes), pieceSize, pause});
    return *this;
}

TScript& TScript::Delay(std::chrono::milliseconds pause) {
    steps_.push_back({TStep::TKind::Delay, {}, 0, pause});
    return *this;
}

TScript& TScript::Close() {
    steps_.push_back({TStep::TKind::Close, {}});
    return *this;
}

TScript& TScript::Reset() {
    steps_.push_back({TStep::TKind::Reset, {}});
    return *this;
}

TScript& TScript::Call(std::function<void()> action) {
    steps_.push_back({TStep::TKind::Call, {}, 0, std::chrono::milliseconds(0), std::move(action)});
    return *this;
}

TScript& TScript::Hang() {
    steps_.push_back({TStep::TKind::Hang, {}});
    return *this;
}

TScript TScript::Answer(std::string bytes) {
    TScript script;
    script.ReadRequest().Send(std::move(bytes)).Close();
    return script;
}

ScriptedServer::ScriptedServer(TScript script, std::chrono::milliseconds lifetime)
    : ScriptedServer(std::vector<TScript>{std::move(script)}, lifetime) {}

ScriptedServer::ScriptedServer(std::vector<TScript> scripts, std::chrono::milliseconds lifetime)
    : scripts_(std::move(scripts)), deadline_(Clock::now() + lifetime) {
    if (scripts_.empty())
        scripts_.emplace_back();
    listenFd_ = ListenOnLoopback(port_);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(stopFd_);
}

std::string ScriptedServer::HostPort() const {
    return "127.0.0.1:" + PortText();
}

std::string ScriptedServer::Url(std::string_view path) const {
    return "http://" + HostPort() + std::string(path);
}

bool ScriptedServer::WaitFinished(int count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(mutex_);
    return finishedChanged_.wait_for(lock, bound, [&] { return finished_.load() >= count; });
}

std::vector<std::string> ScriptedServer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

RefusingPort::RefusingPort() {
    // Bound but never listening: the kernel answers connects with a reset, and the port
    // cannot be handed to anybody else while the socket exists.
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("RefusingPort: cannot bind on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

ScriptedServer::TWait ScriptedServer::WaitFor(int fd, short events) const {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        if (left.count() <= 0)
            return TWait::Stopped;
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd, events, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[0].revents)
            return TWait::Stopped;
        if (n > 0)
            return TWait::Ready;
    }
}

ScriptedServer::TWait ScriptedServer::Pause(std::chrono::milliseconds pause) const {
    if (pause.count() <= 0)
        return TWait::Ready;
    const auto end = Clock::now() + pause;
    if (end >= deadline_)
        return TWait::Stopped;
    pollfd stop{stopFd_, POLLIN, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return TWait::Ready;
        const int n = ::poll(&stop, 1, static_cast<int>(left));
        if (n > 0 || (n < 0 && errno != EINTR))
            return TWait::Stopped;
    }
}

void ScriptedServer::Run() {
    for (std::size_t index = 0;; ++index) {
        if (WaitFor(listenFd_, POLLIN) != TWait::Ready)
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        {
            std::lock_guard lock(mutex_);
            received_.emplace_back();
        }
        ++connections_;
        Serve(fd, scripts_[std::min(index, scripts_.size() - 1)], index);
        {
            std::lock_guard lock(mutex_);
            ++finished_;
        }
        finishedChanged_.notify_all();
    }
}

void ScriptedServer::Serve(int fd, const TScript& script, std::size_t index) {
    using K = TScript::TStep::TKind;
    for (const TScript::TStep& step : script.Steps()) {
        bool goOn = true;
        switch (step.Kind) {
            case K::ReadRequest:
                goOn = ReadRequest(fd, index);
                break;
            case K::Send: {
                const std::size_t piece = step.PieceSize ? step.PieceSize : step.Bytes.size();
                for (std::size_t at = 0; goOn && at < step.Bytes.size(); at += piece) {
                    if (at > 0)
                        goOn = Pause(step.Pause) == TWait::Ready;
                    goOn = goOn && SendAll(fd, std::string_view(step.Bytes).substr(at, piece));
                }
                break;
            }
            case K::Delay:
                goOn = Pause(step.Pause) == TWait::Ready;
                break;
            case K::Close:
                goOn = false;
                break;
            case K::Reset: {
                const linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                goOn = false;
                break;
            }
            case K::Hang:
                Hang(fd, index);
                goOn = false;
                break;
            case K::Call:
                step.Action();
                break;
        }
        if (!goOn)
            break;
    }
    ::close(fd);
}

void ScriptedServer::Record(std::size_t index, const char* data, std::size_t len) {
    std::lock_guard lock(mutex_);
    received_[index].append(data, len);
}

bool ScriptedServer::ReadRequest(int fd, std::size_t index) {
    std::string data;
    std::size_t want = std::string::npos;
    while (want == std::string::npos || data.size() < want) {
        if (WaitFor(fd, POLLIN) != TWait::Ready)
            return false;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        data.append(buf, static_cast<std::size_t>(n));
        Record(index, buf, static_cast<std::size_t>(n));
        if (want == std::string::npos) {
            const std::size_t end = HeaderEnd(data);
            if (end != std::string::npos)
                want = end + ContentLength(std::string_view(data).substr(0, end));
        }
    }
    return true;
}

bool ScriptedServer::SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        if (WaitFor(fd, POLLOUT) != TWait::Ready)
            return false;
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void ScriptedServer::Hang(int fd, std::size_t index) {
    for (;;) {
        if (WaitFor(fd, POLLIN) != TWait::Ready)
            return;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        Record(index, buf, static_cast<std::size_t>(n));
    }
}

}  // namespace testsupport
