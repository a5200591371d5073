#include "NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "LoopbackServer.h"
#include "TestCa.h"
#include "UniqueFd.h"

namespace testsupport {

namespace {

namespace fs = std::filesystem;

// Wed, 09 Oct 2002 10:10:10 GMT, the page's modification time and so its Last-Modified.
constexpr time_t kPageModified = 1034158210;
// nginx with a written configuration is up in milliseconds; the bound only turns a hang into
// a failure.
constexpr auto kStartBound = std::chrono::seconds(10);
// Ports are taken from the kernel and handed to nginx, so another program may take one in
// between; a few fresh tries make that harmless.
constexpr int kStartTries = 5;
constexpr const char* kPidFileName = "nginx.pid";
constexpr const char* kErrorLogName = "error.log";

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::system_error(errno, std::generic_category(), what);
}

// Two different free ports on 127.0.0.1: both sockets are bound at once so that the kernel
// cannot hand out the same port twice, then both are released for nginx.
std::array<std::uint16_t, 2> FreePorts() {
    std::array<std::uint16_t, 2> ports{};
    TFd sockets[2];
    for (std::size_t i = 0; i < ports.size(); ++i) {
        TFd& fd = sockets[i];
        fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        Check(fd.Get() >= 0, "socket");
        sockaddr_in address = LoopbackAddress(0);
        Check(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
        socklen_t length = sizeof address;
        Check(::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0,
              "getsockname");
        ports[i] = ntohs(address.sin_port);
    }
    return ports;
}

// Replaces every placeholder in the configuration. The placeholders for paths stand inside
// double quotes, where nginx reads a backslash as an escape, so a temporary folder with blanks
// or semicolons in its name does no harm.
void Substitute(std::string& text, std::string_view placeholder, const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + escaped.size()))
        text.replace(at, placeholder.size(), escaped);
}

void Wait(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool PidFileWritten(int inotifyFd) {
    alignas(inotify_event) char buffer[4096];
    bool written = false;
    for (;;) {
        ssize_t got = ::read(inotifyFd, buffer, sizeof buffer);
        if (got <= 0)
            return written;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && std::string_view(event->name) == kPidFileName)
                written = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace

std::string NginxServer::Program() {
    std::vector<fs::path> places;
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            auto colon = rest.find(':');
            places.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? "" : rest.substr(colon + 1);
        }
    }
    // An ordinary user's PATH often leaves out the sbin folders where packages put nginx.
    places.emplace_back("/usr/sbin");
    places.emplace_back("/usr/local/sbin");
    for (const auto& place : places) {
        fs::path candidate = place / "nginx";
        if (!place.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

NginxServer::NginxServer() : prefix_(dir_.Path()), ipv6_(CanListenOnIpv6Loopback()) {
    fs::path page = dir_.Write("html" + std::string(kPagePath),
                               "<html><head><title>Quorvane</title></head><body></body></html>\n");
    const timespec times[2] = {{kPageModified, 0}, {kPageModified, 0}};
    Check(::utimensat(AT_FDCWD, page.c_str(), times, 0) == 0, "utimensat");
    // nginx makes each temporary folder itself, but not the folders above it.
    fs::create_directories(prefix_ / "temp");

    for (int attempt = 0; attempt < kStartTries; ++attempt) {
        auto ports = FreePorts();
        httpPort_ = ports[0];
        httpsPort_ = ports[1];
        if (TryStart())
            return;
    }
    throw std::runtime_error("nginx found no free port in " + std::to_string(kStartTries) +
                             " tries:\n" + Logs());
}

NginxServer::~NginxServer() {
    Stop();
}

std::string NginxServer::HttpUrl(const std::string& path, const std::string& host) const {
    return "http://" + host + ":" + std::to_string(httpPort_) + path;
}

std::string NginxServer::Ipv6Url(const std::string& path) const {
    return "http://[::1]:" + std::to_string(httpPort_) + path;
}

bool NginxServer::CanListenOnIpv6Loopback() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

std::string NginxServer::HttpsUrl(const std::string& path, const std::string& host) const {
    return "https://" + host + ":" + std::to_string(httpsPort_) + path;
}

std::string NginxServer::Logs() const {
    std::string logs;
    for (const char* name :
         {kErrorLogName, "http-access.log", "https-access.log", "http6-access.log"})
        logs += std::string("--- nginx ") + name + "\n" + ReadFileBytes(prefix_ / name);
    return logs;
}

void NginxServer::WriteConfig() const {
    // Every path nginx would otherwise take from its build (pid, lock, logs, temporary
    // folders) is named here, so that nothing outside the temporary folder is touched.
    // nginx 1.22 offers TLS 1.0 to 1.2 by default; servers of today speak 1.3 as well.
    std::string config = R"(daemon off;
master_process off;
worker_processes 1;
pid "@PREFIX@/nginx.pid";
lock_file "@PREFIX@/nginx.lock";
error_log "@PREFIX@/error.log" info;
events { worker_connections 64; }
http {
    client_body_temp_path "@PREFIX@/temp/body";
    proxy_temp_path "@PREFIX@/temp/proxy";
    fastcgi_temp_path "@PREFIX@/temp/fastcgi";
    uwsgi_temp_path "@PREFIX@/temp/uwsgi";
    scgi_temp_path "@PREFIX@/temp/scgi";
    server {
        listen 127.0.0.1:@HTTP_PORT@;
        access_log "@PREFIX@/http-access.log";
        location / { return 301 https://127.0.0.1:@HTTPS_PORT@$request_uri; }
        # A virtual host that serves only requests whose Host names it with its port.
        location = /host/moved {
            if ($http_host != "localhost:@HTTP_PORT@") { return 400; }
            return 302 /host/page.html;
        }
        location = /host/page.html {
            if ($http_host != "localhost:@HTTP_PORT@") { return 400; }
            alias "@PREFIX@/html/page.html";
        }
    }
    server {
        listen 127.0.0.1:@HTTPS_PORT@ ssl;
        access_log "@PREFIX@/https-access.log";
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_certificate "@CERT@";
        ssl_certificate_key "@KEY@";
        root "@PREFIX@/html";
        location = /host/page.html {
            if ($http_host != "localhost:@HTTPS_PORT@") { return 400; }
            alias "@PREFIX@/html/page.html";
        }
    }
@IPV6_SERVER@}
)";
    // The plain server's port on [::1] too, serving the pages itself, where the machine has IPv6.
    const std::string ipv6Server = R"(    server {
        listen [::1]:@HTTP_PORT@;
        access_log "@PREFIX@/http6-access.log";
        root "@PREFIX@/html";
        location = / { return 200 "Quorvane over IPv6\n"; }
    }
)";
    // Placed as it stands: Substitute would escape its quotes as those of a value.
    config.replace(config.find("@IPV6_SERVER@"), 13, ipv6_ ? ipv6Server : "");
    const TCertFiles& certificate = TestCa::Shared().Valid();
    Substitute(config, "@PREFIX@", prefix_.string());
    Substitute(config, "@HTTP_PORT@", std::to_string(httpPort_));
    Substitute(config, "@HTTPS_PORT@", std::to_string(httpsPort_));
    Substitute(config, "@CERT@", certificate.CertFile);
    Substitute(config, "@KEY@", certificate.KeyFile);
    dir_.Write("nginx.conf", config);
}

bool NginxServer::TryStart() {
    WriteConfig();
    const fs::path pidFile = prefix_ / kPidFileName;
    const fs::path errorLog = prefix_ / kErrorLogName;
    fs::remove(pidFile);
    // Only this try's part of the error log tells why it failed.
    std::error_code noLogYet;
    const std::uintmax_t logSize = fs::file_size(errorLog, noLogYet);
    const std::size_t logStart = noLogYet ? 0 : static_cast<std::size_t>(logSize);

    // nginx writes its pid file only after it has bound and is listening on every port, so
    // the file's closing is the moment it accepts connections. The watch is set before nginx
    // starts so that the event cannot be missed.
    TFd inotify(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    Check(inotify.Get() >= 0, "inotify_init1");
    Check(::inotify_add_watch(inotify.Get(), prefix_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) >= 0,
          "inotify_add_watch");
    // nginx holds the write end of this pipe while it runs, so its end shows as a hang-up,
    // without a signal handler for SIGCHLD.
    int alive[2];
    Check(::pipe2(alive, O_CLOEXEC) == 0, "pipe2");
    TFd aliveRead(alive[0]);
    TFd aliveWrite(alive[1]);
    TFd logFd(::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    Check(logFd.Get() >= 0, "open nginx error log");
    TFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    Check(null.Get() >= 0, "open /dev/null");

    const std::string program = Program();
    const std::string prefix = prefix_.string() + "/";
    const std::string config = (prefix_ / "nginx.conf").string();
    const std::string errorLogText = errorLog.string();
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>("-p"),
                               const_cast<char*>(prefix.c_str()), const_cast<char*>("-c"),
                               const_cast<char*>(config.c_str()),
                               // Even the messages from before the configuration is read go
                               // to the temporary folder, not to the build's log path.
                               const_cast<char*>("-e"), const_cast<char*>(errorLogText.c_str()),
                               nullptr};

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    Check(child >= 0, "fork");
    if (child == 0) {
        // Only async-signal-safe calls until exec: the test process may have other threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);  // the test process died before the death signal was armed
        ::dup2(null.Get(), STDIN_FILENO);
        ::dup2(logFd.Get(), STDOUT_FILENO);
        ::dup2(logFd.Get(), STDERR_FILENO);
        ::fcntl(aliveWrite.Get(), F_SETFD, 0);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    pid_ = child;
    aliveWrite.Close();

    bool listening = false;
    bool ended = false;
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (!listening && !ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[2] = {{inotify.Get(), POLLIN, 0}, {aliveRead.Get(), POLLIN, 0}};
        const int ready = left.count() > 0 ? ::poll(fds, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            Stop();
            throw std::runtime_error("nginx did not start listening within " +
                                     std::to_string(kStartBound.count()) + " s:\n" + Logs());
        }
        ended = fds[1].revents != 0;
        listening = fds[0].revents != 0 && PidFileWritten(inotify.Get());
    }
    if (!ended)
        return true;

    Wait(pid_);
    pid_ = -1;
    const std::string errorText = ReadFileBytes(errorLog);
    const std::string thisTry = errorText.substr(std::min(logStart, errorText.size()));
    if (thisTry.find("Address already in use") != std::string::npos)
        return false;
    throw std::runtime_error("nginx ended at its start:\n" + Logs());
}

void NginxServer::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    Wait(pid_);
    pid_ = -1;
}

}  // namespace testsupport
