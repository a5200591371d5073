// A real nginx on loopback for end-to-end tests: one plain HTTP server that sends every request
// (but those of kHostPagePath and kHostMovedPath) on to the TLS server with a 301, and one TLS
// server with the test CA's certificate for localhost and 127.0.0.1. Everything nginx writes stays
// in a temporary folder.
//
// nginx runs in the foreground as a child of the test process and is killed and reaped when the
// object goes; should the test process die first, the kernel kills nginx too. That death signal
// belongs to the thread that started nginx, so start it on the test's main thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "TempDir.h"

namespace testsupport {

class NginxServer {
  public:
    // The document root's page whose Last-Modified is fixed (Wed, 09 Oct 2002 10:10:10 GMT).
    static constexpr const char* kPagePath = "/page.html";
    // A path that is never there, so the TLS server answers 404.
    static constexpr const char* kMissingPath = "/missing.html";
    // The page again, on both servers, but only for a Host of "localhost:<port>" (400 for any
    // other), as a virtual host that routes by host and port serves it.
    static constexpr const char* kHostPagePath = "/host/page.html";
    // On the plain server, for that Host alone: a 302 to kHostPagePath on the same server.
    static constexpr const char* kHostMovedPath = "/host/moved";

    // The nginx program, or an empty text when none is installed.
    static std::string Program();

    // Writes the configuration and the document root, starts nginx and returns once both
    // servers listen. Throws std::runtime_error, with nginx's own error log, when it does not
    // come up.
    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::uint16_t HttpPort() const { return httpPort_; }
    std::uint16_t HttpsPort() const { return httpsPort_; }
    // "http://<host>:<port><path>" on the redirecting plain server; host is "127.0.0.1" or
    // "localhost".
    std::string HttpUrl(const std::string& path, const std::string& host = "127.0.0.1") const;
    // "https://<host>:<port><path>" on the TLS server; host is "127.0.0.1" or "localhost".
    std::string HttpsUrl(const std::string& path, const std::string& host = "127.0.0.1") const;
    // True when the plain server listens on [::1] too (the machine has IPv6); it serves the
    // pages itself there, and "/" with a short text and no date.
    bool HasIpv6() const { return ipv6_; }
    // "http://[::1]:<port><path>" on that server.
    std::string Ipv6Url(const std::string& path) const;
    // nginx's error log and both access logs, for the message of a failed assertion.
    std::string Logs() const;

  private:
    // One try with the ports chosen; false when a port was taken meanwhile.
    bool TryStart();
    static bool CanListenOnIpv6Loopback();
    void WriteConfig() const;
    void Stop();

    TempDir dir_;
    std::filesystem::path prefix_;
    std::uint16_t httpPort_ = 0;
    std::uint16_t httpsPort_ = 0;
    pid_t pid_ = -1;
    bool ipv6_ = false;
};

}  // namespace testsupport
