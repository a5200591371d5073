// An HTTP proxy on 127.0.0.1 that only tunnels: it reads a CONNECT request, connects to the
// named port on 127.0.0.1 (never anywhere else), answers "200 Connection established" and then
// relays bytes both ways until either side closes. Connections are served one after another on
// its own thread; every wait is bounded by its lifetime, and the destructor stops it at once.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "ServerThread.h"

namespace testsupport {

class ConnectProxy {
  public:
    explicit ConnectProxy(std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    std::string PortText() const { return std::to_string(server_.Port()); }
    // The request header of each connection, as the proxy received it.
    std::vector<std::string> Requests() const;

  private:
    bool WaitReadable(int fd) const;
    void Run();
    void Serve(int client);
    void Relay(int client, int server);

    std::chrono::steady_clock::time_point deadline_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    ServerThread server_;  // last: its thread ends before the members it uses go
};

}  // namespace testsupport
