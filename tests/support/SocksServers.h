// Real SOCKS servers from Debian on loopback for end-to-end tests: microsocks (SOCKS 5, with or
// without user and password) and dante's danted (SOCKS 4 and 5). Each runs as a child of the
// test process on a free port of 127.0.0.1, with its configuration in a temporary folder, and is
// killed with everything it started when the object goes (or when the test process dies).
// Start them on the test's main thread: the death signal belongs to the thread that starts them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace testsupport {

class SocksServerProcess {
  public:
    ~SocksServerProcess();
    SocksServerProcess(const SocksServerProcess&) = delete;
    SocksServerProcess& operator=(const SocksServerProcess&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // What the server wrote to its standard error so far, for a failed assertion.
    std::string Log() const;

  protected:
    SocksServerProcess() = default;
    // Starts argv[0] with its output in the log file; throws std::runtime_error when it ends.
    void Start(std::vector<std::string> argv);
    // Blocks until the server's log holds marker; throws when it ends or the bound runs out.
    void WaitForLogLine(const std::string& marker);
    // Blocks until 127.0.0.1:port accepts connections; throws likewise.
    void WaitForListener();
    static std::string Find(const std::string& program);

    TempDir dir_;
    std::uint16_t port_ = 0;

  private:
    void Stop();
    bool Ended(int timeoutMs) const;

    pid_t pid_ = -1;
    int aliveFd_ = -1;  // hangs up when the server ends
};

class MicrosocksServer : public SocksServerProcess {
  public:
    static std::string Program() { return Find("microsocks"); }
    // Without a user, no authentication is asked.
    explicit MicrosocksServer(const std::string& user = "", const std::string& password = "");
};

class DanteServer : public SocksServerProcess {
  public:
    static std::string Program() { return Find("danted"); }
    DanteServer();
};

}  // namespace testsupport
