// quorvane-check --jobs 1 against a plain blocking client: both send one HEAD request per
// favourite, one after the other, to a fast loopback server of this program (it answers each
// request at once and closes, for both alike). Prints the wall time of each in every round, the
// ratio quorvane-check / plain (target: at most 1.3), the same ratio with each program's run
// over a single row taken off (what start-up and the result file cost), and, with --strace, the
// system calls per request of both, counted by strace -c -f. quorvane-check's figures include
// its start, the scan of the Favorites folder and the result file; the plain client's its own
// start.
//
// Usage: bench_sequential [--rows N] [--rounds N] [--strace] [--check PATH]
// Defaults: 2,000 rows, 5 rounds, the quorvane-check built beside this program.
// bench_sequential --client PORT ROWS is the plain client itself, and --evented-client PORT ROWS
// SHORTCUT the one that makes the check's system calls (each run as a child process).
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "FastServer.h"
#include "Loopback.h"

namespace fs = std::filesystem;

namespace {

using benchsupport::TFastServer;
using benchsupport::TTimes;

// Every request gets this at once, and the close.
constexpr const char* kAnswer =
    "HTTP/1.1 200 OK\r\nServer: bench\r\nConnection: close\r\n"
    "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\nContent-Length: 0\r\n\r\n";

std::string Path(int i) {
    return "/page" + std::to_string(i) + ".html";
}

// The bytes THttpCli sends for the check's HEAD, so that both clients move the same data.
std::string Request(int i) {
    return "HEAD " + Path(i) +
           " HTTP/1.0\r\n"
           "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible)\r\nHost: 127.0.0.1\r\n\r\n";
}

// The plain client: socket, connect, write, read to the end, close; one request each.
int RunPlainClient(int port, int rows) {
    const sockaddr_in addr = benchsupport::LoopbackAddress(static_cast<std::uint16_t>(port));
    int failed = 0;
    char buffer[4096];
    for (int i = 0; i < rows; ++i) {
        const std::string request = Request(i);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            ::close(fd);
            ++failed;
            continue;
        }
        // The answer comes in one piece on loopback; the status is in its first read.
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        const bool ok = n >= 12 && std::memcmp(buffer + 9, "200", 3) == 0;
        while (n > 0)
            n = ::read(fd, buffer, sizeof buffer);
        ::close(fd);
        failed += ok ? 0 : 1;
    }
    return failed == 0 ? 0 : 2;
}

// The plain client again, making the system calls quorvane-check makes for a row and nothing
// else: the shortcut file read (open, read, close), a non-blocking socket with SO_KEEPALIVE and
// quick-ack off (the handshake's last ACK goes out with the request), the connect, a look
// without waiting that finds it made (on this host it is made inside the call), the watch for
// reading, the request, the wait for the answer, the read, the close. Beside the plain client it
// shows what the event-driven calls cost by themselves; beside quorvane-check, the work around
// them.
int RunEventedClient(int port, int rows, const char* shortcut) {
    const sockaddr_in addr = benchsupport::LoopbackAddress(static_cast<std::uint16_t>(port));
    const int poller = ::epoll_create1(EPOLL_CLOEXEC);
    int failed = 0;
    char buffer[8192];
    for (int i = 0; i < rows; ++i) {
        const int file = ::open(shortcut, O_RDONLY | O_CLOEXEC);
        failed += file < 0 || ::read(file, buffer, sizeof buffer) <= 0 ? 1 : 0;
        ::close(file);
        const std::string request = Request(i);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        const int off = 0;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &off, sizeof off);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        pollfd made{fd, POLLOUT, 0};
        ::poll(&made, 1, 0);
        epoll_event watch{EPOLLIN | EPOLLRDHUP, {.fd = fd}}, ready[4];
        ::epoll_ctl(poller, EPOLL_CTL_ADD, fd, &watch);
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        ::epoll_wait(poller, ready, 4, -1);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        failed += n >= 12 && std::memcmp(buffer + 9, "200", 3) == 0 ? 0 : 1;
        ::close(fd);
    }
    ::close(poller);
    return failed == 0 ? 0 : 2;
}

// A home folder with the favourites in ten subfolders, and a copy of quorvane-check, so that
// its result file lands in the scratch folder too.
struct TScratch {
    fs::path root;
    fs::path home;
    fs::path firstShortcut;
    fs::path program;

    TScratch(const fs::path& checkProgram, int port, int rows) {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-seq-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        home = root / "home";
        const std::string site = "http://127.0.0.1:" + std::to_string(port);
        for (int i = 0; i < rows; ++i) {
            const fs::path folder = home / "Favorites" / ("Ordner" + std::to_string(i % 10));
            fs::create_directories(folder);
            std::ofstream(folder / ("Seite " + std::to_string(i) + ".url"))
                << "[DEFAULT]\r\nBASEURL=" << site << Path(i)
                << "\r\n[InternetShortcut]\r\nURL=" << site << Path(i) << "\r\n";
        }
        firstShortcut = home / "Favorites" / "Ordner0" / "Seite 0.url";
        program = root / "bin" / "quorvane-check";
        fs::create_directories(program.parent_path());
        fs::copy_file(checkProgram, program);
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void ForgetResults() const {
        std::error_code ec;
        fs::remove(program.parent_path() / "urls.dat", ec);
    }
};

// Runs argv with HOME set and standard output thrown away; returns its wall and processor time.
TTimes TimeRun(const std::vector<std::string>& argv, const fs::path& home) {
    return benchsupport::TimeChild(argv, home, 0,
                                   argv[0] + " failed (every request should get 200)");
}

struct TCallCount {
    std::string name;
    long calls = 0;
};

// strace -c's table of a run: the calls of each system call, the total last; empty when
// strace cannot run.
std::vector<TCallCount> CountSyscalls(std::vector<std::string> argv, const fs::path& home,
                                      const fs::path& out) {
    argv.insert(argv.begin(), {"strace", "-c", "-f", "-o", out.string()});
    try {
        TimeRun(argv, home);
    } catch (const std::exception&) {
        return {};
    }
    std::vector<TCallCount> counts;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
        // "% time  seconds  usecs/call  calls  [errors]  syscall", and the same for the total.
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        if (words.size() < 4 || !std::isdigit(static_cast<unsigned char>(words[0][0])))
            continue;
        counts.push_back({words.back(), std::atol(words[3].c_str())});
    }
    return counts;
}

void PrintSyscalls(const char* who, const std::vector<TCallCount>& counts, int rows) {
    std::printf("system calls per request, %s:", who);
    for (const TCallCount& count : counts)
        if (count.name == "total" || count.calls >= rows / 2)
            std::printf(" %s %.1f", count.name.c_str(), static_cast<double>(count.calls) / rows);
    std::printf("\n");
}

struct TOptions {
    int rows = 2000;
    int rounds = 5;
    bool strace = false;
    fs::path check;
};

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    const fs::path self = fs::canonical("/proc/self/exe");
    options.check = self.parent_path().parent_path() / "src" / "app" / "quorvane-check";
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const bool hasValue = i + 1 < argc;
        if (name == "--strace")
            options.strace = true;
        else if (name == "--rows" && hasValue)
            options.rows = std::max(1, std::atoi(argv[++i]));
        else if (name == "--rounds" && hasValue)
            options.rounds = std::max(1, std::atoi(argv[++i]));
        else if (name == "--check" && hasValue)
            options.check = argv[++i];
        else
            throw std::runtime_error("unknown option " + name);
    }
    return options;
}

struct TRun {
    std::vector<std::string> check, plain, evented;
};

TRun Commands(const TScratch& scratch, int port, int rows) {
    const std::string self = fs::canonical("/proc/self/exe").string();
    return {{scratch.program.string(), "--jobs", "1", "--quiet"},
            {self, "--client", std::to_string(port), std::to_string(rows)},
            {self, "--evented-client", std::to_string(port), std::to_string(rows),
             scratch.firstShortcut.string()}};
}

std::string Range(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    char text[64];
    std::snprintf(text, sizeof text, "median %.2f, range %.2f-%.2f", values[values.size() / 2],
                  values.front(), values.back());
    return text;
}

// Each round times both over all rows and over a single row; the difference is what the rows
// beyond the first cost, without either program's start, scan set-up and result file.
void Compare(const TOptions& options) {
    TFastServer server(kAnswer);
    TScratch scratch(options.check, server.Port(), options.rows);
    TScratch single(options.check, server.Port(), 1);
    const TRun all = Commands(scratch, server.Port(), options.rows);
    const TRun one = Commands(single, server.Port(), 1);
    std::printf("%d favourites, one request after the other, over loopback\n", options.rows);
    std::printf("%-6s | %9s %9s %6s | %9s %9s | %9s %9s %6s\n", "round", "quorv. s", "plain s",
                "q/p", "q. cpu s", "p. cpu s", "q. 1 row", "p. 1 row", "q/p-1");
    std::vector<double> ratios, perRow, floors, overWork;
    for (int round = 1; round <= options.rounds; ++round) {
        scratch.ForgetResults();  // every round checks the same, not a restored list
        single.ForgetResults();
        const long before = server.Served();
        const TTimes q = TimeRun(all.check, scratch.home);
        const TTimes p = TimeRun(all.plain, scratch.home);
        const TTimes q1 = TimeRun(one.check, single.home);
        const TTimes p1 = TimeRun(one.plain, single.home);
        const TTimes e = TimeRun(all.evented, scratch.home);
        if (server.Served() - before != 3L * options.rows + 2)
            throw std::runtime_error("a request went unanswered");
        ratios.push_back(q.wall / p.wall);
        perRow.push_back((q.wall - q1.wall) / (p.wall - p1.wall));
        floors.push_back(e.wall / p.wall);
        overWork.push_back(q.wall / e.wall);
        std::printf("%-6d | %9.3f %9.3f %6.2f | %9.3f %9.3f | %9.3f %9.3f %6.2f\n", round, q.wall,
                    p.wall, ratios.back(), q.cpu, p.cpu, q1.wall, p1.wall, perRow.back());
    }
    std::printf("ratio quorvane-check / plain: %s (target <= 1.30)\n", Range(ratios).c_str());
    std::printf("the same without the first row (start-up, result file): %s\n",
                Range(perRow).c_str());
    std::printf("the check's system calls alone (evented client) / plain: %s\n",
                Range(floors).c_str());
    std::printf("quorvane-check / evented client (the work around the calls): %s\n",
                Range(overWork).c_str());
    const std::vector<std::string>& check = all.check;
    const std::vector<std::string>& plain = all.plain;
    if (options.strace) {
        scratch.ForgetResults();
        const auto q = CountSyscalls(check, scratch.home, scratch.root / "strace-check.txt");
        const auto p = CountSyscalls(plain, scratch.home, scratch.root / "strace-plain.txt");
        if (q.empty() || p.empty()) {
            std::printf("system calls: strace did not run (apt-get install strace)\n");
        } else {
            PrintSyscalls("quorvane-check", q, options.rows);
            PrintSyscalls("plain", p, options.rows);
        }
    }
    std::printf("requests served: %ld\n", server.Served());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--client") == 0)
        return RunPlainClient(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc == 5 && std::strcmp(argv[1], "--evented-client") == 0)
        return RunEventedClient(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    try {
        Compare(ParseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sequential: %s\n", e.what());
        return 1;
    }
    return 0;
}
