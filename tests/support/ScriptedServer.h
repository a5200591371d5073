// A loopback TCP server for client tests that plays scripted answers: chosen bytes split into
// chosen pieces, pauses, closing early, resetting, or never answering. It listens on
// 127.0.0.1 on an ephemeral port and serves connections one after another on its own thread.
// Every wait of that thread is bounded by the server's lifetime, so it always stops by itself;
// the destructor stops it at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

// What the server does on one connection, step by step. A script that ends without Close or
// Reset closes the connection gracefully.
class TScript {
  public:
    struct TStep {
        enum class TKind { ReadRequest, Send, Delay, Close, Reset, Hang };
        TKind Kind;
        std::string Bytes;
        std::size_t PieceSize = 0;  // 0 = all at once
        std::chrono::milliseconds Pause{0};
    };

    // Reads the request header up to its empty line, and a body as long as its
    // Content-Length says.
    TScript& ReadRequest();
    // Sends bytes, in pieces of pieceSize bytes with a pause after each piece but the last.
    TScript& Send(std::string bytes, std::size_t pieceSize = 0,
                  std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    TScript& Delay(std::chrono::milliseconds pause);
    // Graceful close.
    TScript& Close();
    // Close with a reset (RST) instead of a graceful end.
    TScript& Reset();
    // Never answers: keeps the connection open and reads whatever comes until the client
    // closes it or the server stops.
    TScript& Hang();

    // Shorthand for the common case: read the request, send the answer, close.
    static TScript Answer(std::string bytes);

    const std::vector<TStep>& Steps() const { return steps_; }

  private:
    std::vector<TStep> steps_;
};

class ScriptedServer {
  public:
    // The n-th connection plays scripts[n]; connections beyond the list play the last script.
    explicit ScriptedServer(std::vector<TScript> scripts,
                            std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    explicit ScriptedServer(TScript script,
                            std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // "127.0.0.1:port"
    std::string HostPort() const;
    // "http://127.0.0.1:port" + path
    std::string Url(std::string_view path = "/") const;

    // The bytes each connection received so far, in the order the connections came.
    std::vector<std::string> Received() const;
    int Connections() const { return connections_.load(); }
    // Connections whose script has run to its end.
    int Finished() const { return finished_.load(); }
    // Blocks until count scripts have run to their end (the server needs no loop of the
    // caller); false when the bound runs out first.
    bool WaitFinished(int count, std::chrono::milliseconds bound = std::chrono::seconds(10)) const;

  private:
    enum class TWait { Ready, Stopped };
    TWait WaitFor(int fd, short events) const;
    TWait Pause(std::chrono::milliseconds pause) const;
    void Run();
    void Serve(int fd, const TScript& script, std::size_t index);
    bool ReadRequest(int fd, std::size_t index);
    bool SendAll(int fd, std::string_view bytes);
    void Hang(int fd, std::size_t index);
    void Record(std::size_t index, const char* data, std::size_t len);

    std::vector<TScript> scripts_;
    std::chrono::steady_clock::time_point deadline_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    std::atomic<int> finished_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable finishedChanged_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A port on 127.0.0.1 that is bound but not listening, so that connections to it are refused.
// The port stays reserved while the object lives.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return port_; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace testsupport
