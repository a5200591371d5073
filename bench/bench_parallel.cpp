// quorvane-check with several rows in flight, against the npm link checker linkinator and curl.
// Favourites point at loopback servers on 100 addresses (127.0.0.11 to 127.0.0.110), so that the
// limit of two requests at a time to one host is not what is measured: most answer at once, some
// accept the connection and never answer (each on a host and port of its own), some refuse it.
// The same addresses go to quorvane-check with --jobs 1, 8, 32 and 64 and with no --jobs at all
// (its default), as links of one local page to linkinator, and to `curl --parallel
// --parallel-max 64 -I`. Prints wall time, processor time, processor time per row and peak memory
// of every run, and the ratios the parallel run is meant to reach.
//
// Usage: bench_parallel [--rows N] [--dead PERCENT] [--refused PERCENT] [--timeout SECONDS]
//                       [--jobs 1,8,32,64,0] [--no-linkinator] [--no-curl] [--check PATH]
// In --jobs, 0 is the run without --jobs.
// Defaults: 2,000 rows, 5 % never answering, 5 % refused, a time-out of 5 s, the quorvane-check
// built beside this program. linkinator is installed with npm into build-bench/linkinator on the
// first run; when that fails, the bench says so and goes on without it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ChildRun.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFirstAddress = 11;  // 127.0.0.11
constexpr int kAddresses = 100;    // up to 127.0.0.110
constexpr const char* kLinkinatorVersion = "7.6.1";

struct TOptions {
    int rows = 2000;
    double deadPercent = 5;
    double refusedPercent = 5;
    int timeout = 5;
    std::vector<int> jobs{1, 8, 32, 64, 0};
    bool linkinator = true;
    bool curl = true;
    fs::path check;
};

std::vector<int> ParseList(const std::string& text) {
    std::vector<int> values;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(std::stoi(item));
    return values;
}

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    options.check = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "app" /
                    "quorvane-check";
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--no-linkinator" || name == "--no-curl") {
            (name == "--no-curl" ? options.curl : options.linkinator) = false;
            continue;
        }
        if (i + 1 >= argc)
            throw std::invalid_argument("missing value after " + name);
        const std::string value = argv[++i];
        if (name == "--rows")
            options.rows = std::stoi(value);
        else if (name == "--dead")
            options.deadPercent = std::stod(value);
        else if (name == "--refused")
            options.refusedPercent = std::stod(value);
        else if (name == "--timeout")
            options.timeout = std::stoi(value);
        else if (name == "--jobs")
            options.jobs = ParseList(value);
        else if (name == "--check")
            options.check = value;
        else
            throw std::invalid_argument("unknown option " + name);
    }
    return options;
}

std::string LoopbackHost(int index) {
    return "127.0.0." + std::to_string(kFirstAddress + index % kAddresses);
}

// A socket bound to host on a port of the kernel's choice; listening unless told otherwise.
// A bound socket that does not listen answers every connection attempt with a reset, so its
// port is one that is certain to refuse for as long as the socket lives.
int BoundSocket(const std::string& host, bool listening, int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        (listening && ::listen(fd, 1024) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind " + host + ": " + std::strerror(errno));
    port = ntohs(addr.sin_port);
    return fd;
}

// All servers of the bench on one epoll thread: on every address a listener that answers each
// request at once and a port that refuses, and a listener per silent row that accepts, reads
// and holds the connection until the client gives up. The thread ends with the object, so the
// servers stop when the bench does.
class TLoopbackServers {
  public:
    explicit TLoopbackServers(int silentListeners) {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        Watch(wake_);
        for (int i = 0; i < kAddresses; ++i) {
            fast_.push_back(Listen(LoopbackHost(i), true));
            refused_.push_back(Unlistened(LoopbackHost(i)));
        }
        for (int i = 0; i < silentListeners; ++i)
            silent_.push_back(Listen(LoopbackHost(i), false));
        thread_ = std::thread([this] { Serve(); });
    }
    ~TLoopbackServers() {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_, &one, sizeof one);
        thread_.join();
        for (const auto& [fd, connection] : connections_)
            ::close(fd);
        for (const auto& [fd, answers] : listeners_)
            ::close(fd);
        for (int fd : unlistened_)
            ::close(fd);
        ::close(wake_);
        ::close(epoll_);
    }
    TLoopbackServers(const TLoopbackServers&) = delete;
    TLoopbackServers& operator=(const TLoopbackServers&) = delete;

    std::string FastUrl(int index, int row) const { return Url(fast_[index % kAddresses], row); }
    std::string SilentUrl(int index, int row) const { return Url(silent_[index], row); }
    std::string RefusedUrl(int index, int row) const {
        return Url(refused_[index % kAddresses], row);
    }
    long Answered() const { return answered_; }
    long Held() const { return held_; }

  private:
    struct TEndpoint {
        std::string host;
        int port = 0;
    };
    struct TConnection {
        bool answers = false;
        std::string request;
    };

    static std::string Url(const TEndpoint& endpoint, int row) {
        return "http://" + endpoint.host + ":" + std::to_string(endpoint.port) + "/seite" +
               std::to_string(row) + ".html";
    }
    void Watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
    TEndpoint Listen(const std::string& host, bool answers) {
        TEndpoint endpoint{host, 0};
        int fd = BoundSocket(host, true, endpoint.port);
        listeners_[fd] = answers;
        Watch(fd);
        return endpoint;
    }
    TEndpoint Unlistened(const std::string& host) {
        TEndpoint endpoint{host, 0};
        unlistened_.push_back(BoundSocket(host, false, endpoint.port));
        return endpoint;
    }

    void Serve() {
        epoll_event events[256];
        for (;;) {
            int count = ::epoll_wait(epoll_, events, 256, -1);
            for (int i = 0; i < count; ++i) {
                const int fd = events[i].data.fd;
                if (fd == wake_)
                    return;
                if (auto listener = listeners_.find(fd); listener != listeners_.end())
                    AcceptAll(fd, listener->second);
                else
                    Readable(fd);
            }
        }
    }
    void AcceptAll(int listener, bool answers) {
        for (;;) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            connections_[fd].answers = answers;
            if (!answers)
                ++held_;
            Watch(fd);
        }
    }
    // Reads what there is; a fast connection is answered and closed once its header is in, a
    // silent one only closes when the client has closed its end.
    void Readable(int fd) {
        TConnection& connection = connections_[fd];
        char buffer[4096];
        for (;;) {
            ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (got <= 0)
                return Close(fd);
            if (connection.answers)
                connection.request.append(buffer, static_cast<std::size_t>(got));
        }
        if (connection.answers && connection.request.find("\r\n\r\n") != std::string::npos)
            Answer(fd);
    }
    void Answer(int fd) {
        static const char answer[] =
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        [[maybe_unused]] auto sent = ::send(fd, answer, sizeof answer - 1, MSG_NOSIGNAL);
        ++answered_;
        Close(fd);
    }
    void Close(int fd) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        connections_.erase(fd);
        ::close(fd);
    }

    int epoll_ = -1;
    int wake_ = -1;
    std::vector<TEndpoint> fast_, silent_, refused_;
    std::map<int, bool> listeners_;  // listening socket, whether it answers
    std::vector<int> unlistened_;
    std::unordered_map<int, TConnection> connections_;  // only the serving thread touches it
    std::thread thread_;
    std::atomic<long> answered_{0};
    std::atomic<long> held_{0};
};

enum class TKind { Fast, Silent, Refused };

// The kinds of the rows, shuffled with a fixed seed so that the slow rows are spread over the
// list whatever order the scan finds the files in, and every run sees the same list.
std::vector<TKind> RowKinds(const TOptions& options, int& silentRows) {
    const int rows = options.rows;
    silentRows = static_cast<int>(rows * options.deadPercent / 100 + 0.5);
    const int refused = static_cast<int>(rows * options.refusedPercent / 100 + 0.5);
    if (silentRows + refused > rows)
        throw std::invalid_argument("the silent and refused shares exceed the rows");
    std::vector<TKind> kinds(static_cast<std::size_t>(rows), TKind::Fast);
    std::fill_n(kinds.begin(), silentRows, TKind::Silent);
    std::fill_n(kinds.begin() + silentRows, refused, TKind::Refused);
    std::shuffle(kinds.begin(), kinds.end(), std::mt19937(20240917));
    return kinds;
}

std::vector<std::string> RowAddresses(const std::vector<TKind>& kinds,
                                      const TLoopbackServers& servers) {
    std::vector<std::string> urls;
    int fast = 0, silent = 0, refused = 0;
    for (std::size_t row = 0; row < kinds.size(); ++row) {
        const int r = static_cast<int>(row);
        switch (kinds[row]) {
            case TKind::Fast:
                urls.push_back(servers.FastUrl(fast++, r));
                break;
            case TKind::Silent:
                urls.push_back(servers.SilentUrl(silent++, r));
                break;
            case TKind::Refused:
                urls.push_back(servers.RefusedUrl(refused++, r));
                break;
        }
    }
    return urls;
}

// A home folder with a shortcut per address in a few subfolders, a copy of quorvane-check so
// that its result file lands in the scratch folder too, and the page of links for linkinator.
struct TScratch {
    fs::path root;
    fs::path home;
    fs::path program;
    fs::path page;

    TScratch(const fs::path& checkProgram, const std::vector<std::string>& urls) {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        home = root / "home";
        WriteFavorites(urls);
        program = root / "bin" / "quorvane-check";
        fs::create_directories(program.parent_path());
        fs::copy_file(checkProgram, program);
        page = root / "page" / "favoriten.html";
        WritePage(urls);
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    // Every run starts without the result file of the one before.
    void ForgetResults() const {
        for (const auto& entry : fs::directory_iterator(program.parent_path()))
            if (entry.path() != program)
                fs::remove_all(entry.path());
    }

  private:
    void WriteFavorites(const std::vector<std::string>& urls) const {
        for (std::size_t i = 0; i < urls.size(); ++i) {
            fs::path folder = home / "Favorites" / ("Ordner" + std::to_string(i % 10));
            fs::create_directories(folder);
            std::ofstream(folder / ("Seite " + std::to_string(i) + ".url"))
                << "[DEFAULT]\r\nBASEURL=" << urls[i] << "\r\n[InternetShortcut]\r\nURL=" << urls[i]
                << "\r\n";
        }
    }
    void WritePage(const std::vector<std::string>& urls) const {
        fs::create_directories(page.parent_path());
        std::ofstream out(page);
        out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Favoriten</title>"
               "</head><body>\n";
        for (std::size_t i = 0; i < urls.size(); ++i)
            out << "<a href=\"" << urls[i] << "\">Seite " << i << "</a><br>\n";
        out << "</body></html>\n";
    }
};

struct TMeasure {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the child and its descendants
    double peakMb = 0;
    int exitCode = -1;
    bool killed = false;
    fs::path output;
};

// The child's side of a run: the scratch home, no proxy (every request must stay on
// loopback and go there directly, for both programs), output into files.
[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const fs::path& home,
                            const fs::path& cwd, const fs::path& output) {
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    if (::chdir(cwd.c_str()) != 0 || !std::freopen(output.c_str(), "w", stdout) ||
        !std::freopen((output.string() + ".err").c_str(), "w", stderr))
        ::_exit(126);
    std::vector<char*> args = benchsupport::ExecArgs(argv);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

// Waits for the child for at most limit seconds and kills it past that, so that a program
// that never gives up cannot keep the bench and its servers running.
bool WaitWithLimit(pid_t pid, double limit) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return false;
    pollfd entry{pidfd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(limit * 1000));
    ::close(pidfd);
    if (ready != 0)
        return false;
    ::kill(pid, SIGKILL);
    return true;
}

TMeasure Measure(const std::vector<std::string>& argv, const fs::path& home, const fs::path& cwd,
                 const fs::path& output, double limit) {
    std::fflush(stdout);  // the child must not print our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
        ExecChild(argv, home, cwd, output);
    TMeasure measure;
    measure.output = output;
    measure.killed = WaitWithLimit(pid, limit);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    measure.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.cpu = benchsupport::CpuSeconds(usage);
    measure.peakMb = static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
    measure.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measure;
}

std::string LastLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return last;
}

// linkinator's CSV output has a line per link with its state; counts them by state.
std::string LinkinatorTally(const fs::path& file) {
    std::ifstream in(file);
    std::map<std::string, int> states;
    for (std::string line; std::getline(in, line);)
        for (const char* state : {"OK", "BROKEN", "SKIPPED"})
            if (line.find(std::string(",") + state + ",") != std::string::npos)
                ++states[state];
    std::string tally;
    for (const auto& [state, count] : states)
        tally += (tally.empty() ? "" : ", ") + std::to_string(count) + " " + state;
    return tally;
}

std::optional<fs::path> NpmInstall(const fs::path& folder, const std::string& package) {
    fs::create_directories(folder);
    const fs::path log = folder / "npm-install.log";
    TMeasure install =
        Measure({"npm", "install", "--no-audit", "--no-fund", package}, folder, folder, log, 600);
    const fs::path program = folder / "node_modules" / ".bin" / "linkinator";
    if (install.exitCode == 0 && fs::exists(program))
        return program;
    std::printf("npm install %s failed (exit %d); see %s\n", package.c_str(), install.exitCode,
                log.c_str());
    return std::nullopt;
}

// The linkinator script as npx would find it; it is run directly, so that npm's own start-up
// does not count as linkinator's.
std::optional<fs::path> Linkinator(const fs::path& folder) {
    const fs::path program = folder / "node_modules" / ".bin" / "linkinator";
    if (fs::exists(program))
        return program;
    if (auto installed = NpmInstall(folder, std::string("linkinator@") + kLinkinatorVersion))
        return installed;
    return NpmInstall(folder, "linkinator@7");
}

// quorvane-check's own time-out when it is given none.
constexpr int kDefaultTimeout = 30;

double Limit(const TOptions& options, int timeout, int silentRows, int parallel) {
    return 120.0 + options.rows * 0.05 +
           2.0 * timeout * silentRows / std::max(1, std::min(parallel, silentRows));
}

enum class TPeer { Check, Linkinator, Curl };

struct TRow {
    std::string name;
    TPeer peer = TPeer::Check;
    int jobs = 0;  // quorvane-check's --jobs; 0: none given
    TMeasure measure;
    std::string outcome;
};

// Whether this quorvane-check takes --jobs and --timeout; one that does not refuses them, and
// the bench then runs it without them, each run being the one-by-one run with its own time-out.
bool TakesJobOptions(const TScratch& scratch) {
    const fs::path help = scratch.root / "help.txt";
    Measure({scratch.program.string(), "--help"}, scratch.home, scratch.root, help, 30);
    std::ifstream in(help);
    const std::string usage{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return usage.find("--jobs") != std::string::npos &&
           usage.find("--timeout") != std::string::npos;
}

TRow RunCheck(const TOptions& options, const TScratch& scratch, int jobs, int silentRows,
              bool jobOptions) {
    scratch.ForgetResults();
    TRow row{jobs > 0 ? "--jobs " + std::to_string(jobs) : "default", TPeer::Check, jobs, {}, {}};
    std::vector<std::string> argv{scratch.program.string()};
    if (jobOptions && jobs > 0)
        argv.insert(argv.end(), {"--jobs", std::to_string(jobs)});
    if (jobOptions)
        argv.insert(argv.end(), {"--timeout", std::to_string(options.timeout)});
    // A default of fewer than 8 rows in flight is not expected: the limit assumes 8.
    row.measure = Measure(
        argv, scratch.home, scratch.root, scratch.root / ("check-" + std::to_string(jobs) + ".log"),
        jobOptions ? Limit(options, options.timeout, silentRows, jobs > 0 ? jobs : 8)
                   : Limit(options, kDefaultTimeout, silentRows, 1));
    row.outcome = LastLine(row.measure.output);
    return row;
}

TRow RunLinkinator(const TOptions& options, const TScratch& scratch, const fs::path& program,
                   int silentRows) {
    TRow row{"linkinator", TPeer::Linkinator, 0, {}, {}};
    row.measure = Measure({program.string(), scratch.page.string(), "--timeout",
                           std::to_string(options.timeout * 1000), "--format", "csv"},
                          scratch.home, scratch.root, scratch.root / "linkinator.csv",
                          Limit(options, options.timeout, silentRows, 100));
    row.outcome = LinkinatorTally(row.measure.output);
    return row;
}

constexpr int kCurlParallel = 64;

// curl's transfers as a config file: every address asked with HEAD, its body (none) discarded.
fs::path WriteCurlConfig(const TScratch& scratch, const std::vector<std::string>& urls) {
    const fs::path config = scratch.root / "curl.conf";
    std::ofstream out(config);
    for (const std::string& url : urls)
        out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    return config;
}

// curl writes one status code per transfer, 000 for one without an answer; counts them.
std::string CurlTally(const fs::path& file) {
    std::ifstream in(file);
    std::map<std::string, int> codes;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            ++codes[line];
    std::string tally;
    for (const auto& [code, count] : codes)
        tally += (tally.empty() ? "" : ", ") + std::to_string(count) + " " + code;
    return tally;
}

TRow RunCurl(const TOptions& options, const TScratch& scratch, const std::vector<std::string>& urls,
             int silentRows) {
    TRow row{"curl", TPeer::Curl, 0, {}, {}};
    const fs::path config = WriteCurlConfig(scratch, urls);
    row.measure = Measure(
        {"curl", "--parallel", "--parallel-max", std::to_string(kCurlParallel), "-I", "-s", "-m",
         std::to_string(options.timeout), "-w", "%{http_code}\n", "-K", config.string()},
        scratch.home, scratch.root, scratch.root / "curl.log",
        Limit(options, options.timeout, silentRows, kCurlParallel));
    row.outcome = CurlTally(row.measure.output);
    return row;
}

bool CurlFound() {
    return ::system("curl --version >/dev/null 2>&1") == 0;
}

void PrintRow(const TRow& row, int rows) {
    const TMeasure& m = row.measure;
    std::string note = row.outcome;
    if (m.killed)
        note = "killed after the time limit; " + note;
    else if (row.peer == TPeer::Check && m.exitCode != 0 && m.exitCode != 2)  // 2: some FAILED
        note = "exit " + std::to_string(m.exitCode) + "; " + note;
    std::printf("%-11s | %8.2f %8.2f %10.3f %8.1f | %s\n", row.name.c_str(), m.wall, m.cpu,
                m.cpu * 1000 / rows, m.peakMb, note.c_str());
}

const TRow* Find(const std::vector<TRow>& rows, TPeer peer, int jobs = 0) {
    for (const TRow& row : rows)
        if (row.peer == peer && row.jobs == jobs)
            return &row;
    return nullptr;
}

void PrintRatio(const char* what, double value, const char* target, bool met) {
    std::printf("  %-44s %8.2f   target %-8s %s\n", what, value, target, met ? "met" : "MISSED");
}

// Wall time, processor time and memory of a quorvane-check run against a peer's.
void PrintPeerRatios(const TRow& check, const TRow& peer, const char* wallTarget,
                     double wallLimit) {
    const TMeasure& q = check.measure;
    const TMeasure& p = peer.measure;
    const std::string pair = check.name + " / " + peer.name;
    PrintRatio(("wall " + pair).c_str(), q.wall / p.wall, wallTarget, q.wall <= wallLimit * p.wall);
    if (peer.peer != TPeer::Linkinator)
        return;
    PrintRatio(("CPU " + pair).c_str(), q.cpu / p.cpu, "< 1", q.cpu < p.cpu);
    PrintRatio(("memory " + pair).c_str(), q.peakMb / p.peakMb, "< 1", q.peakMb < p.peakMb);
}

void PrintTargets(const std::vector<TRow>& rows) {
    std::printf("\nratios\n");
    const TRow* one = Find(rows, TPeer::Check, 1);
    const TRow* j32 = Find(rows, TPeer::Check, 32);
    const TRow* j64 = Find(rows, TPeer::Check, 64);
    const TRow* standard = Find(rows, TPeer::Check, 0);
    const TRow* link = Find(rows, TPeer::Linkinator);
    const TRow* curl = Find(rows, TPeer::Curl);
    if (one && j32) {
        const double speedUp = one->measure.wall / j32->measure.wall;
        PrintRatio("wall --jobs 1 / --jobs 32", speedUp, ">= 20", speedUp >= 20);
    }
    if (standard && link)
        PrintPeerRatios(*standard, *link, "<= 0.6", 0.6);
    if (standard && curl)
        PrintPeerRatios(*standard, *curl, "<= 1", 1);
    if (j64 && link)
        PrintPeerRatios(*j64, *link, "<= 1", 1);
    if (!one)
        return;
    for (const TRow& row : rows)
        if (row.peer == TPeer::Check && row.jobs != 1) {
            const double ratio = row.measure.cpu / one->measure.cpu;
            PrintRatio(("CPU per row " + row.name + " / --jobs 1").c_str(), ratio, "<= 1",
                       ratio <= 1);
        }
}

void PrintHeader(const TOptions& options, int silentRows, const std::vector<TKind>& kinds) {
    const auto refused = std::count(kinds.begin(), kinds.end(), TKind::Refused);
    std::printf(
        "%d rows on %d loopback addresses: %d answered at once, %d never answered, "
        "%ld refused; time-out %d s\n\n",
        options.rows, kAddresses, options.rows - silentRows - static_cast<int>(refused), silentRows,
        static_cast<long>(refused), options.timeout);
    std::printf("%-11s | %8s %8s %10s %8s | %s\n", "run", "wall s", "CPU s", "CPU ms/row",
                "peak MB", "outcome");
}

int Bench(const TOptions& options) {
    if (!fs::exists(options.check)) {
        std::fprintf(stderr, "quorvane-check not found at %s\n", options.check.c_str());
        return 1;
    }
    std::optional<fs::path> linkinator;
    if (options.linkinator)
        linkinator =
            Linkinator(fs::canonical("/proc/self/exe").parent_path().parent_path() / "linkinator");
    int silentRows = 0;
    const std::vector<TKind> kinds = RowKinds(options, silentRows);
    TLoopbackServers servers(silentRows);
    const std::vector<std::string> urls = RowAddresses(kinds, servers);
    TScratch scratch(options.check, urls);
    PrintHeader(options, silentRows, kinds);
    const bool jobOptions = TakesJobOptions(scratch);
    if (!jobOptions)
        std::printf(
            "(this quorvane-check takes no --jobs and --timeout: every run below is its "
            "one-by-one run with its own time-out)\n");
    std::vector<TRow> rows;
    for (int jobs : options.jobs) {
        rows.push_back(RunCheck(options, scratch, jobs, silentRows, jobOptions));
        PrintRow(rows.back(), options.rows);
    }
    if (options.linkinator && !linkinator)
        std::printf("%-11s | skipped: linkinator could not be installed\n", "linkinator");
    if (linkinator) {
        rows.push_back(RunLinkinator(options, scratch, *linkinator, silentRows));
        PrintRow(rows.back(), options.rows);
    }
    if (options.curl && !CurlFound())
        std::printf("%-11s | skipped: curl not found (apt-get install curl)\n", "curl");
    else if (options.curl) {
        rows.push_back(RunCurl(options, scratch, urls, silentRows));
        PrintRow(rows.back(), options.rows);
    }
    PrintTargets(rows);
    std::printf("\nrequests answered: %ld, connections held unanswered: %ld\n", servers.Answered(),
                servers.Held());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Bench(ParseOptions(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_parallel: %s\n", error.what());
        return 1;
    }
}
