// An HTTP proxy on 127.0.0.1 that only tunnels: it reads a CONNECT request, connects to the
// named port on 127.0.0.1 (never anywhere else), answers "200 Connection established" and then
// relays bytes both ways until either side closes. Connections are served one after another on
// its own thread; every wait is bounded by its lifetime, and the destructor stops it at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ConnectProxy {
  public:
    explicit ConnectProxy(std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    std::string PortText() const { return std::to_string(port_); }
    // The request header of each connection, as the proxy received it.
    std::vector<std::string> Requests() const;

  private:
    bool WaitReadable(int fd) const;
    void Run();
    void Serve(int client);
    void Relay(int client, int server);

    std::chrono::steady_clock::time_point deadline_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace testsupport
