// A plain blocking TCP peer on 127.0.0.1 for socket tests: it listens on an ephemeral port at
// once, runs a script on its own thread for the first connection it accepts, and stops by
// itself: every blocking call gives up after a bound, and destruction wakes and joins it.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <string>

#include "ServerThread.h"

namespace testsupport {

// 127.0.0.1 with port (host order); 0 asks for an ephemeral port.
sockaddr_in LoopbackAddress(std::uint16_t port);

class LoopbackServer {
  public:
    using Script = std::function<void(int connectedFd)>;

    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return server_.Port(); }
    std::string PortText() const { return std::to_string(Port()); }
    // True once the script has returned (the connection is closed then).
    bool Done() const { return done_; }
    // Blocks until then (the server does not need the caller's loop); false after the bound.
    bool WaitDone();

  private:
    void Run(const Script& script);

    std::atomic<int> connFd_{-1};
    std::atomic<bool> done_{false};
    std::promise<void> finished_;
    ServerThread server_;  // last: its thread ends before the members it uses go
};

// Script helpers: each works on a blocking descriptor and returns when the peer is done.
std::string ReadAll(int fd);  // until end of stream
bool WriteAll(int fd, const std::string& bytes);
// A port on 127.0.0.1 where nothing listens (bound once and released); throws when there is none.
std::uint16_t UnusedPort();
// A blocking client connection to 127.0.0.1:port, or -1.
int ConnectTo(std::uint16_t port);

}  // namespace testsupport
