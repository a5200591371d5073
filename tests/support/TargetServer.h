// A loopback HTTP server that answers "200 OK" only to the request targets it is told, and
// "404 Not Found" to every other, so that a test sees that a client asked for the right page.
// It serves many connections at once on its own thread; all its waits are bounded by its
// lifetime, and the destructor stops it at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class TargetServer {
  public:
    explicit TargetServer(std::set<std::string> targets,
                          std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    ~TargetServer();
    TargetServer(const TargetServer&) = delete;
    TargetServer& operator=(const TargetServer&) = delete;

    // "http://127.0.0.1:port"
    std::string Base() const;
    // The targets of the requests received so far, in the order they came.
    std::vector<std::string> Asked() const;

  private:
    void Run();
    void Answer(int fd, const std::string& request);

    std::set<std::string> targets_;
    std::chrono::steady_clock::time_point deadline_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> asked_;
    std::thread thread_;
};

}  // namespace testsupport
