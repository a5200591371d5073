// A loopback TCP server for client tests that plays scripted answers: chosen bytes split into
// chosen pieces, pauses, closing early, resetting, or never answering. It listens on
// 127.0.0.1 on an ephemeral port and serves connections one after another on its own thread.
// Every wait of that thread is bounded by the server's lifetime, so it always stops by itself;
// the destructor stops it at once. Given a certificate it plays the same scripts over TLS.
#pragma once

#include <openssl/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ServerThread.h"
#include "TestCa.h"

namespace testsupport {

// What the server does on one connection, step by step. A script that ends without Close or
// Reset closes the connection gracefully.
class TScript {
  public:
    struct TStep {
        enum class TKind { ReadRequest, Send, SendRaw, Delay, Close, Reset, Hang, Call, Reply };
        TKind Kind;
        std::string Bytes;
        std::size_t PieceSize = 0;  // 0 = all at once
        std::chrono::milliseconds Pause{0};
        std::function<void()> Action{};
        std::function<std::string(const std::string&)> Choose{};
    };

    // Reads the request header up to its empty line, and a body as long as its
    // Content-Length says.
    TScript& ReadRequest();
    // Sends bytes, in pieces of pieceSize bytes with a pause after each piece but the last.
    TScript& Send(std::string bytes, std::size_t pieceSize = 0,
                  std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    // Sends bytes straight over the socket, past TLS, so that a TLS client meets bytes that
    // are no TLS record. Without TLS it is the same as Send.
    TScript& SendRaw(std::string bytes);
    TScript& Delay(std::chrono::milliseconds pause);
    // Graceful close (over TLS with a close_notify first).
    TScript& Close();
    // Close with a reset (RST) instead of a graceful end (over TLS without a close_notify).
    TScript& Reset();
    // Never answers: keeps the connection open and reads whatever comes until the client
    // closes it or the server stops.
    TScript& Hang();
    // Runs action on the server's thread at this point (to signal a client process, say).
    TScript& Call(std::function<void()> action);

    // Sends what choose makes of the bytes the connection has received so far, so that the
    // answer may depend on the request (a server that wants its cookie back, say).
    TScript& Reply(std::function<std::string(const std::string& received)> choose);

    // Shorthand for the common case: read the request, send the answer, close.
    static TScript Answer(std::string bytes);

    const std::vector<TStep>& Steps() const { return steps_; }

  private:
    std::vector<TStep> steps_;
};

// The certificate (with its chain, if any) and the key a TLS server presents.
using TTls = TCertFiles;

// One connection's transport: the socket itself or TLS over it (ScriptedServer.cpp).
class TSocketLink;

class ScriptedServer {
  public:
    using TTls = testsupport::TTls;

    // The n-th connection plays scripts[n]; connections beyond the list play the last script.
    explicit ScriptedServer(std::vector<TScript> scripts,
                            std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    explicit ScriptedServer(TScript script,
                            std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    // Over TLS (1.2 or newer): every connection begins with the handshake, and the scripts
    // then play inside it. A connection whose handshake fails counts as finished, and the
    // bytes it sent are recorded as they came, so that a test can tell what the client spoke.
    ScriptedServer(std::vector<TScript> scripts, TTls tls,
                   std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    ScriptedServer(TScript script, TTls tls,
                   std::chrono::milliseconds lifetime = std::chrono::seconds(20));
    // A server on a given loopback address and port (80 or 443, say, to see what a client makes
    // of an address without a port); null when that cannot be listened on (taken, or no right
    // to a port below 1024).
    static std::unique_ptr<ScriptedServer> At(const std::string& address, std::uint16_t port,
                                              std::vector<TScript> scripts,
                                              std::optional<TTls> tls = std::nullopt);
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t Port() const { return server_.Port(); }
    std::string PortText() const { return std::to_string(Port()); }
    // "127.0.0.1:port"
    std::string HostPort() const;
    // "http" or, over TLS, "https"
    std::string Scheme() const;
    // Scheme() + "://127.0.0.1:port" + path
    std::string Url(std::string_view path = "/") const;

    // The bytes each connection received so far, in the order the connections came (over
    // TLS: the decrypted bytes).
    std::vector<std::string> Received() const;
    // The host name each TLS client asked for in its hello (SNI), "" when it named none.
    std::vector<std::string> ServerNames() const;
    // Whether each TLS client ended with a close_notify before closing. Only telling for
    // scripts that end in Hang, where the server reads until the client has closed, and for
    // clients that read what came before they close: TLS 1.3 sends session tickets after the
    // handshake, and a close with unread bytes is a reset that may drop the close_notify.
    std::vector<bool> ClientCloseNotify() const;
    int Connections() const { return connections_.load(); }
    // Connections whose script has run to its end.
    int Finished() const { return finished_.load(); }
    // Blocks until count scripts have run to their end (the server needs no loop of the
    // caller); false when the bound runs out first.
    bool WaitFinished(int count, std::chrono::milliseconds bound = std::chrono::seconds(10)) const;

  private:
    struct TTlsContextFree {
        void operator()(SSL_CTX* context) const;
    };
    // What one connection left behind.
    struct TRecord {
        std::string Received;
        std::string ServerName;
        bool ClientCloseNotify = false;
    };
    enum class TWait { Ready, Stopped };

    ScriptedServer(std::vector<TScript> scripts, const std::optional<TTls>& tls,
                   std::string address, std::uint16_t port);
    void Start();
    TWait WaitFor(int fd, short events) const;
    TWait Pause(std::chrono::milliseconds pause) const;
    void Run();
    std::unique_ptr<TSocketLink> Accept();
    void Serve(TSocketLink& link, const TScript& script, std::size_t index);
    bool Play(TSocketLink& link, const TScript::TStep& step, std::size_t index);
    bool ReadRequest(TSocketLink& link, std::size_t index);
    bool Send(TSocketLink& link, const TScript::TStep& step);
    void Hang(TSocketLink& link, std::size_t index);
    std::string ReceivedOn(std::size_t index) const;
    void Record(std::size_t index, const char* data, std::size_t len);
    template <class TField>
    std::vector<TField> Collect(TField TRecord::*field) const;

    std::vector<TScript> scripts_;
    std::chrono::steady_clock::time_point deadline_;
    std::string address_ = "127.0.0.1";
    std::unique_ptr<SSL_CTX, TTlsContextFree> tlsContext_;
    std::atomic<int> connections_{0};
    std::atomic<int> finished_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable finishedChanged_;
    std::vector<TRecord> records_;
    ServerThread server_;  // last: its thread ends before the members it uses go
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
