// A loopback HTTP server on a thread of its own for the whole-program benches: it answers every
// request at once with the same bytes and closes, for every client alike.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace benchsupport {

class TFastServer {
  public:
    // Listens on a free port of 127.0.0.1; answer is sent whole after each request's header.
    explicit TFastServer(std::string answer);
    ~TFastServer();
    TFastServer(const TFastServer&) = delete;
    TFastServer& operator=(const TFastServer&) = delete;

    int Port() const { return port_; }
    long Served() const { return served_; }

  private:
    void Serve();

    const std::string answer_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<long> served_{0};
};

}  // namespace benchsupport
