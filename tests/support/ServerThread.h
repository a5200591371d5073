// What the loopback test servers share: a listening socket on a loopback port, the thread that
// serves it, an eventfd that tells that thread to stop, and waits that end at whichever comes
// first of readiness, the stop and a deadline. The destructor stops and joins the thread, then
// closes both descriptors; an owner declares its ServerThread last, so that the thread is gone
// before the members it uses.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>

#include "UniqueFd.h"

namespace testsupport {

// A non-blocking TCP socket bound to address (127.0.0.1, another 127.x.y.z or ::1; never anything
// else) and port (0: an ephemeral one, which port receives), not yet listening. Throws
// std::runtime_error when the address is no loopback address or the port cannot be had.
int BindLoopback(const std::string& address, std::uint16_t& port);

class ServerThread {
  public:
    using Clock = std::chrono::steady_clock;
    enum class TWait { Ready, TimedOut, Stopped };

    // Listens at once, so that clients may connect before the thread runs; throws as
    // BindLoopback does.
    explicit ServerThread(const std::string& address = "127.0.0.1", std::uint16_t port = 0);
    ~ServerThread();
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    // Runs run on the server's thread; once only.
    void Start(std::function<void()> run);
    // Tells the thread to stop; every wait of it ends with TWait::Stopped from now on.
    void RequestStop();
    // RequestStop, then waits for the thread to end.
    void Stop();

    std::uint16_t Port() const { return port_; }
    int ListenFd() const { return listen_.Get(); }
    // A connection taken from the listening socket (with SOCK_CLOEXEC and flags), or -1.
    int Accept(int flags = 0) const;
    // The next connection, waited for until until; -1 when the stop or until comes first.
    int AcceptNext(Clock::time_point until, int flags = 0) const;
    bool StopRequested() const;

    // Waits until one of fds is ready (their revents filled in), the stop or until.
    TWait Wait(std::span<pollfd> fds, Clock::time_point until) const;
    TWait WaitFor(int fd, short events, Clock::time_point until) const;
    // A pause until until: TimedOut when it ran its course, Stopped when cut short.
    TWait Sleep(Clock::time_point until) const { return Wait({}, until); }

  private:
    TFd listen_;
    TFd stop_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace testsupport
