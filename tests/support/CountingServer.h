// A loopback HTTP server that serves many connections at once and counts how many were open at
// the same time, for tests of clients that make several requests together. Every request gets
// the same answer after a fixed delay. All waits are bounded by its lifetime; the destructor
// stops it at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "ServerThread.h"

namespace testsupport {

class CountingServer {
  public:
    CountingServer(std::string answer, std::chrono::milliseconds delay,
                   std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    CountingServer(const CountingServer&) = delete;
    CountingServer& operator=(const CountingServer&) = delete;

    std::string Url(const std::string& path) const;
    int MostAtOnce() const { return mostAtOnce_.load(); }
    int Answered() const { return answered_.load(); }

  private:
    void Run();

    std::string answer_;
    std::chrono::milliseconds delay_;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<int> mostAtOnce_{0};
    std::atomic<int> answered_{0};
    ServerThread server_;  // last: its thread ends before the members it uses go
};

}  // namespace testsupport
