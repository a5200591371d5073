// Sequential HTTPS HEAD requests over loopback: THttpCli::Head beside one curl process making the
// same requests, as a ratio of their wall times (Quorvane / curl; target: at most 1.0). The
// server answers every request with "Connection: close", so each side makes one TCP connection
// and one TLS handshake per request; both may resume the TLS sessions the server hands out, and
// the server counts how many of their handshakes did.
//
// Every round has a server of its own (own port, own ticket keys), so that both clients start
// it without a session to resume; the order of the two clients alternates from round to round,
// and the median of the per-round ratios is the result. curl's times include its start-up; the
// time of a curl run with a single request is printed as an estimate of that share, and the
// cost of one more request to either client with that share taken out.
//
//   bench_https [requests per round, default 100] [rounds, default 11]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Loopback.h"
#include "Median.h"
#include "http/HttpProt.h"

namespace fs = std::filesystem;

namespace {

using benchsupport::Median;
using Clock = std::chrono::steady_clock;

const std::string kAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

void Require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(what);
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Processor time of the calling thread only: the server thread of this process is not counted.
double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Certificates.

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCert = std::unique_ptr<X509, decltype(&X509_free)>;

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    const bool added = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    Require(added, "cannot add a certificate extension");
}

// The extensions a verifier looks for; the subject key identifier must exist before the
// authority key identifier, which a self-signed certificate takes from itself.
void AddExtensions(X509* cert, X509* issuer, bool isCa) {
    AddExtension(cert, issuer, NID_basic_constraints,
                 isCa ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert, issuer, NID_key_usage,
                 isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    AddExtension(cert, issuer, NID_subject_key_identifier, "hash");
    AddExtension(cert, issuer, NID_authority_key_identifier, "keyid:always");
    if (!isCa) {
        AddExtension(cert, issuer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert, issuer, NID_subject_alt_name, "IP:127.0.0.1");
    }
}

// Version, serial, a day's validity from an hour ago, subject and key.
void FillIn(X509* x, const char* commonName, EVP_PKEY* key, long serial) {
    const auto* name = reinterpret_cast<const unsigned char*>(commonName);
    X509_NAME* subject = X509_get_subject_name(x);
    const bool filled =
        X509_set_version(x, X509_VERSION_3) == 1 &&
        ASN1_INTEGER_set(X509_get_serialNumber(x), serial) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(x), -3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(x), 24 * 3600) != nullptr &&
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, name, -1, -1, 0) == 1 &&
        X509_set_pubkey(x, key) == 1;
    Require(filled, "cannot fill in a certificate");
}

// A certificate for key, signed by issuer (with issuerKey), or by itself when issuer is null.
TCert Issue(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, long serial) {
    TCert cert(X509_new(), X509_free);
    X509* x = cert.get();
    Require(x != nullptr, "cannot make a certificate");
    FillIn(x, commonName, key, serial);
    X509* signer = issuer ? issuer : x;
    Require(X509_set_issuer_name(x, X509_get_subject_name(signer)) == 1, "cannot name the issuer");
    AddExtensions(x, signer, issuer == nullptr);
    Require(X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) > 0, "cannot sign");
    return cert;
}

// P-256 keys are made at once and pass OpenSSL's default security level.
TKey NewKey() {
    TKey key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Require(key != nullptr, "cannot make a key");
    return key;
}

template <class TWrite>
void WritePem(const fs::path& path, TWrite write) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "w"), std::fclose);
    Require(file != nullptr && write(file.get()) == 1, "cannot write a PEM file");
}

// A folder of its own under the temporary folder, removed with everything in it at the end.
class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-https-XXXXXX").string();
        Require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
        path_ = pattern;
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

// A certificate authority of the bench's own and a certificate it issued for 127.0.0.1, as PEM
// files in a temporary folder that goes away with the object. Nothing of it outlives the run.
class TBenchCa {
  public:
    TBenchCa() {
        const TKey caKey = NewKey();
        const TCert ca = Issue("Quorvane Bench CA", caKey.get(), nullptr, nullptr, 1);
        const TKey leafKey = NewKey();
        const TCert leaf = Issue("127.0.0.1", leafKey.get(), ca.get(), caKey.get(), 2);
        WritePem(CaFile(), [&](FILE* f) { return PEM_write_X509(f, ca.get()); });
        WritePem(CertFile(), [&](FILE* f) { return PEM_write_X509(f, leaf.get()); });
        WritePem(KeyFile(), [&](FILE* f) {
            return PEM_write_PrivateKey(f, leafKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
        });
    }

    fs::path Dir() const { return dir_.Path(); }
    fs::path CaFile() const { return Dir() / "ca.pem"; }
    fs::path CertFile() const { return Dir() / "server.pem"; }
    fs::path KeyFile() const { return Dir() / "server.key"; }

  private:
    TTempDir dir_;
};

// The server.

using TSslCtx = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
using TSsl = std::unique_ptr<SSL, decltype(&SSL_free)>;

// The server's context keeps OpenSSL's defaults, session cache and tickets included, so that
// both clients can resume.
TSslCtx NewServerContext(const TBenchCa& ca) {
    TSslCtx context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    Require(context != nullptr, "cannot make the server's TLS context");
    Require(
        SSL_CTX_use_certificate_chain_file(context.get(), ca.CertFile().c_str()) == 1 &&
            SSL_CTX_use_PrivateKey_file(context.get(), ca.KeyFile().c_str(), SSL_FILETYPE_PEM) == 1,
        "the server cannot load its certificate");
    return context;
}

// Answers every request with kAnswer over TLS and closes with close_notify, one connection after
// another on a thread of its own. It stops when destroyed, and by itself after a minute without
// a connection, so that a bench stuck elsewhere cannot leave it running.
class TTlsServer {
  public:
    explicit TTlsServer(const TBenchCa& ca) : context_(NewServerContext(ca)) {
        listenFd_ = benchsupport::ListenOnLoopback(64, port_);
        stopFd_ = ::eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { Run(); });
    }
    ~TTlsServer() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
        thread_.join();
        ::close(listenFd_);
        ::close(stopFd_);
    }
    TTlsServer(const TTlsServer&) = delete;
    TTlsServer& operator=(const TTlsServer&) = delete;

    std::uint16_t Port() const { return port_; }
    long Answered() const { return answered_; }
    long Resumed() const { return resumed_; }

  private:
    static constexpr int kIdleStopMs = 60 * 1000;
    static constexpr int kConnectionTimeoutS = 5;

    // True when the listening socket has a connection; false when the server is to stop.
    bool WaitForConnection() {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        const int n = ::poll(fds, 2, kIdleStopMs);
        return n > 0 && !fds[0].revents;
    }
    void Run() {
        while (WaitForConnection()) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            Serve(fd);
            ::close(fd);
        }
    }
    // A client that stalls must not hold the server: reads and writes give up after a while.
    static void LimitWaits(int fd) {
        const timeval limit{kConnectionTimeoutS, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    static bool ReadRequest(SSL* ssl) {
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0)
                return false;
            request.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }
    void Serve(int fd) {
        LimitWaits(fd);
        TSsl ssl(SSL_new(context_.get()), SSL_free);
        if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_accept(ssl.get()) != 1) {
            ERR_clear_error();
            return;
        }
        if (SSL_session_reused(ssl.get()) == 1)
            ++resumed_;
        if (!ReadRequest(ssl.get())) {
            ERR_clear_error();
            return;
        }
        // Counted before the answer goes out: once it is out, the client may look at the count.
        ++answered_;
        if (SSL_write(ssl.get(), kAnswer.data(), static_cast<int>(kAnswer.size())) > 0)
            SSL_shutdown(ssl.get());
        ERR_clear_error();
    }

    TSslCtx context_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<long> answered_{0};
    std::atomic<long> resumed_{0};
    std::thread thread_;
};

// The clients.

std::vector<std::string> Addresses(std::uint16_t port, int count) {
    std::vector<std::string> urls;
    for (int i = 0; i < count; ++i)
        urls.push_back("https://127.0.0.1:" + std::to_string(port) + "/page" + std::to_string(i) +
                       ".html");
    return urls;
}

// What one client's run cost, and how many of its handshakes the server saw resumed.
struct TRun {
    double wall = 0;  // seconds
    double cpu = 0;   // user + system seconds of the client alone
    long resumed = 0;
};

// Counts the handshakes of a client that resumed a session, as its socket reports them.
class TResumeCounter {
  public:
    explicit TResumeCounter(THttpCli& cli) : cli_(cli) {
        cli_.OnSessionConnected = [this](sys::TObject*) {
            if (cli_.CtrlSocket()->SslSessionReused())
                ++count_;
        };
    }
    ~TResumeCounter() { cli_.OnSessionConnected = nullptr; }
    long Count() const { return count_; }

  private:
    THttpCli& cli_;
    long count_ = 0;
};

TRun TimeHead(THttpCli& cli, const std::vector<std::string>& urls) {
    const double cpu0 = ThreadCpuSeconds();
    const auto start = Clock::now();
    for (const std::string& url : urls) {
        cli.SetURL(url);
        cli.Head();
        if (cli.StatusCode() != 200)
            throw std::runtime_error("THttpCli: " + cli.ReasonPhrase());
    }
    TRun run;
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = ThreadCpuSeconds() - cpu0;
    return run;
}

// One curl process, a HEAD for every address in turn. Its stdout goes to /dev/null.
TRun RunCurl(const fs::path& config) {
    std::fflush(stdout);  // the child must not print our buffered lines again
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        ::execlp("curl", "curl", "--config", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    Require(pid > 0, "cannot start curl");
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    TRun run;
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    Require(WIFEXITED(status) && WEXITSTATUS(status) == 0, "curl failed");
    return run;
}

// curl's options: HEAD, HTTP/1.1, failing on an error status, trusting the bench's authority.
fs::path WriteCurlConfig(const TBenchCa& ca, const std::vector<std::string>& urls,
                         const std::string& name) {
    const fs::path config = ca.Dir() / name;
    std::ofstream out(config);
    out << "silent\nshow-error\nhead\nhttp1.1\nfail\ncacert = \"" << ca.CaFile().string() << "\"\n";
    for (const std::string& url : urls)
        out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    Require(static_cast<bool>(out), "cannot write curl's configuration");
    return config;
}

// A client's run against a server, with the server's count of resumed handshakes.
template <class TClientRun>
TRun Measure(const TTlsServer& server, long requests, TClientRun clientRun) {
    const long answered0 = server.Answered();
    const long resumed0 = server.Resumed();
    TRun run = clientRun();
    Require(server.Answered() - answered0 == requests, "the server missed requests");
    run.resumed = server.Resumed() - resumed0;
    return run;
}

// The comparison.

struct TTotals {
    TRun head, curl;
    long headResumedSeen = 0;  // by the client's own socket
    std::vector<double> headWalls, curlWalls, ratios;
};

void Add(TRun& total, const TRun& run) {
    total.wall += run.wall;
    total.cpu += run.cpu;
    total.resumed += run.resumed;
}

void RunRound(const TBenchCa& ca, THttpCli& cli, int requests, bool curlFirst, TTotals& totals) {
    const TTlsServer server(ca);
    const std::vector<std::string> urls = Addresses(server.Port(), requests);
    const fs::path config = WriteCurlConfig(ca, urls, "round.cfg");
    TResumeCounter seen(cli);
    const auto head = [&] {
        return Measure(server, requests, [&] { return TimeHead(cli, urls); });
    };
    const auto curl = [&] { return Measure(server, requests, [&] { return RunCurl(config); }); };
    TRun h, c;
    if (curlFirst) {
        c = curl();
        h = head();
    } else {
        h = head();
        c = curl();
    }
    Add(totals.head, h);
    Add(totals.curl, c);
    totals.headResumedSeen += seen.Count();
    totals.headWalls.push_back(h.wall);
    totals.curlWalls.push_back(c.wall);
    totals.ratios.push_back(h.wall / c.wall);
}

// The first request loads the trust store into the client's context; a warm-up keeps that out
// of the rounds, as curl's own loading of it is part of its start-up.
void WarmUp(const TBenchCa& ca, THttpCli& cli) {
    const TTlsServer server(ca);
    const std::vector<std::string> urls = Addresses(server.Port(), 5);
    TimeHead(cli, urls);
    RunCurl(WriteCurlConfig(ca, urls, "warm-up.cfg"));
}

double CurlStartUp(const TBenchCa& ca, int runs) {
    const TTlsServer server(ca);
    const fs::path config = WriteCurlConfig(ca, Addresses(server.Port(), 1), "single.cfg");
    std::vector<double> walls;
    for (int i = 0; i < runs; ++i)
        walls.push_back(RunCurl(config).wall);
    return Median(walls);
}

void PrintClient(const char* name, const TRun& run, double total) {
    std::printf(
        "  %-16s: %7.0f requests/s, %6.3f ms wall and %6.3f ms processor per request, "
        "%ld of %.0f handshakes resumed\n",
        name, total / run.wall, run.wall * 1e3 / total, run.cpu * 1e3 / total, run.resumed, total);
}

// curl's start-up (and its first, full handshake) is part of its time; taking the time of a run
// with a single request out of the median round leaves what one more request costs it.
void PrintWithoutStartUp(const TBenchCa& ca, const TTotals& totals, int requests) {
    if (requests < 2)
        return;
    const double single = CurlStartUp(ca, 9);
    const double head = Median(totals.headWalls) / requests;
    const double curl = (Median(totals.curlWalls) - single) / (requests - 1);
    std::printf("  curl with a single request: %.1f ms (its start-up and one full handshake)\n",
                single * 1e3);
    std::printf("  without it, per request: Head %.3f ms, curl %.3f ms, ratio %.2f\n", head * 1e3,
                curl * 1e3, head / curl);
}

void Compare(int requests, int rounds) {
    const TBenchCa ca;
    // THttpCli trusts what SSL_CERT_FILE names; it must be set before the first request.
    ::setenv("SSL_CERT_FILE", ca.CaFile().c_str(), 1);
    THttpCli cli;
    WarmUp(ca, cli);
    TTotals totals;
    for (int r = 0; r < rounds; ++r)
        RunRound(ca, cli, requests, r % 2 == 1, totals);
    const double total = static_cast<double>(requests) * rounds;
    std::printf(
        "sequential HTTPS HEAD over loopback, one connection and one TLS handshake per "
        "request, %d rounds of %d requests each\n",
        rounds, requests);
    PrintClient("THttpCli::Head", totals.head, total);
    PrintClient("curl (1 process)", totals.curl, total);
    std::printf("  THttpCli's sockets reported %ld resumed handshakes\n", totals.headResumedSeen);
    PrintWithoutStartUp(ca, totals, requests);
    std::printf("  ratio Head / curl (wall): %.2f   median of the rounds (target <= 1.00)\n",
                Median(totals.ratios));
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 11;
    // The server writes its close_notify to clients that may have gone already.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        Compare(requests, rounds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_https: %s\n", e.what());
        return 1;
    }
    return 0;
}
