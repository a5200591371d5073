// quorvane-check against a real nginx with TLS on loopback, run as a user runs it: a copy of the
// program (its result file lives beside it), a home folder with a Favorites folder, and the
// trusted certificates taken from SSL_CERT_FILE and SSL_CERT_DIR as for any OpenSSL program.
// What a scripted server cannot show is shown here: a TLS handshake with a real server and its
// certificate, a redirect from http to https, and a run that ends as soon as each answer is
// complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "NginxServer.h"
#include "TempDir.h"
#include "TestCa.h"
#include "app/core/ResultFile.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::NginxServer;

// The date text a row gets from the page's Last-Modified.
constexpr const char* kPageDate = "2002/10/09; 10:10:10 GMT";
// A whole run of a few rows takes well under a second. A request that waited for more than the
// answer would take nginx's keep-alive time (75 s) or the client's time-out (30 s), so a run
// past this bound is a fault, and is killed to fail instead of hanging.
constexpr auto kRunBound = std::chrono::seconds(20);

struct TOutcome {
    int exitCode = -1;
    std::vector<std::string> lines;  // standard output
    std::string errors;              // standard error
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    if (at < text.size())
        lines.push_back(text.substr(at));
    return lines;
}

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines,
                                           std::string_view start) {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [start](const std::string& line) { return line.starts_with(start); });
    return found;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + '\n';
    return text;
}

// Reads both pipes to their end within the bound for the whole run; a program still running
// then is killed.
void Drain(pid_t pid, int outFd, int errFd, std::string& out, std::string& err) {
    const auto deadline = std::chrono::steady_clock::now() + kRunBound;
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = left.count() > 0 ? ::poll(fds, 2, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            ::kill(pid, SIGKILL);
            ADD_FAILURE() << "quorvane-check did not end within " << kRunBound.count() << " s";
            return;
        }
        for (pollfd& p : fds) {
            if (p.fd < 0 || !p.revents)
                continue;
            char buffer[4096];
            ssize_t got = ::read(p.fd, buffer, sizeof buffer);
            if (got <= 0) {
                p.fd = -1;
                --open;
            } else {
                (p.fd == outFd ? out : err).append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
}

// One favourite of a run: the shortcut's name, its address and the status it must end with.
struct TFavoriteCase {
    std::string name;
    std::string url;
    std::string status;
};

class NginxCheckTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path home = dir.Path() / "home";
    fs::path program = dir.Path() / "bin" / "quorvane-check";
    fs::path resultFile = dir.Path() / "bin" / ResultFileName;
    // Trust that knows no authority at all: an empty file and an empty folder.
    fs::path noCaFile = dir.Path() / "trust" / "none.pem";
    fs::path noCaDir = dir.Path() / "trust" / "certs";
    std::optional<NginxServer> nginx;

    void SetUp() override {
        if (NginxServer::Program().empty())
            GTEST_SKIP() << "nginx is not installed; scripts/deps.sh installs nginx-light";
        fs::create_directories(program.parent_path());
        fs::copy_file(QV_CHECK_PROGRAM, program);
        dir.Write(noCaFile.lexically_relative(dir.Path()).string(), "");
        fs::create_directories(noCaDir);
        fs::create_directories(home / "Favorites");
        ASSERT_NO_THROW(nginx.emplace());
    }

    // A shortcut file in the Favorites folder, as a browser stores one; returns its path as
    // the scan records it.
    std::string Favorite(const std::string& name, const std::string& url) {
        return dir
            .Write("home/Favorites/" + name + ".url",
                   "[DEFAULT]\r\nBASEURL=" + url + "\r\n[InternetShortcut]\r\nURL=" + url + "\r\n")
            .string();
    }

    // The program's environment: the test's own, with the home folder and the trusted
    // certificates replaced. Only caFile is trusted; the system's folder is not looked at.
    std::vector<std::string> Environment(const fs::path& caFile) const {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string_view text = *entry;
            if (!text.starts_with("HOME=") && !text.starts_with("SSL_CERT_FILE=") &&
                !text.starts_with("SSL_CERT_DIR="))
                environment.emplace_back(text);
        }
        environment.push_back("HOME=" + home.string());
        environment.push_back("SSL_CERT_FILE=" + caFile.string());
        environment.push_back("SSL_CERT_DIR=" + noCaDir.string());
        return environment;
    }

    TOutcome Run(const fs::path& caFile) {
        // Everything the child needs is made before the fork: only exec follows it there.
        std::vector<std::string> environment = Environment(caFile);
        std::vector<char*> envp;
        for (auto& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

        int out[2], err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        const pid_t parent = ::getpid();
        pid_t child = ::fork();
        if (child == 0) {
            // A test process that dies does not leave the program running.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execve(program.c_str(), argv, envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        std::string stdoutText;
        TOutcome outcome;
        Drain(child, out[0], err[0], stdoutText, outcome.errors);
        ::close(out[0]);
        ::close(err[0]);
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.lines = Lines(stdoutText);
        return outcome;
    }

    // The status the result file gives back to each case's shortcut, by the case's name.
    std::map<std::string, std::string> Stored(const std::vector<TFavoriteCase>& cases,
                                              const std::vector<std::string>& paths) {
        TFavoriteList list;
        for (const auto& path : paths) {
            TFavoriteRow row;
            row.Datei = path;
            list.Append(row);
        }
        OpenURLs(list, resultFile.string());
        std::map<std::string, std::string> stored;
        for (std::size_t i = 0; i < cases.size(); ++i)
            stored[cases[i].name] = list[i].Datum;
        return stored;
    }

    // Stores a shortcut for each case and runs the program once over all of them.
    TOutcome RunOver(const std::vector<TFavoriteCase>& cases, const fs::path& caFile,
                     std::map<std::string, std::string>& stored) {
        std::vector<std::string> paths;
        for (const auto& favorite : cases)
            paths.push_back(Favorite(favorite.name, favorite.url));
        TOutcome outcome = Run(caFile);
        stored = Stored(cases, paths);
        return outcome;
    }
};

}  // namespace

TEST_F(NginxCheckTest, TrustingTheTestCaChecksHttpsPagesAndFollowsTheRedirectFromHttp) {
    const std::vector<TFavoriteCase> cases = {
        {"https-by-address", nginx->HttpsUrl(NginxServer::kPagePath), kPageDate},
        // The certificate names localhost as a DNS name, the address above as an IP address.
        {"https-by-name", nginx->HttpsUrl(NginxServer::kPagePath, "localhost"), kPageDate},
        // The plain server serves nothing itself: a date comes only from the TLS server.
        {"http-redirected", nginx->HttpUrl(NginxServer::kPagePath), kPageDate},
        {"https-missing", nginx->HttpsUrl(NginxServer::kMissingPath), "FAILED"},
        {"http-redirected-to-missing", nginx->HttpUrl(NginxServer::kMissingPath), "FAILED"},
    };
    std::map<std::string, std::string> stored;
    const auto started = std::chrono::steady_clock::now();
    TOutcome outcome = RunOver(cases, testsupport::TestCa::Shared().CaFile(), stored);
    const auto took = std::chrono::steady_clock::now() - started;

    SCOPED_TRACE("quorvane-check printed:\n" + Joined(outcome.lines) + nginx->Logs());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_LT(took, kRunBound);
    for (const auto& favorite : cases) {
        SCOPED_TRACE(favorite.name + " " + favorite.url);
        EXPECT_EQ(stored[favorite.name], favorite.status);
    }
    // The rows come in the file system's order, so the log is judged by the kinds of line
    // it holds rather than by their order.
    EXPECT_EQ(LinesStartingWith(outcome.lines, "Last-Modified:").size(), 3u);
    for (const auto& line : LinesStartingWith(outcome.lines, "Last-Modified:"))
        EXPECT_EQ(line, "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT");
    // Only the two missing pages fail, and for nginx's reason, not for one of TLS.
    EXPECT_EQ(LinesStartingWith(outcome.lines, "HEAD Failed !").size(), 2u);
    for (const auto& line : LinesStartingWith(outcome.lines, "ReasonPhrase = "))
        EXPECT_EQ(line, "ReasonPhrase = Not Found");
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), "5 Einträge: 0 OK, 3 mit Datum, 2 FAILED");
}

TEST_F(NginxCheckTest, TrustingNoAuthorityFailsEveryHttpsRowWithATlsReason) {
    const std::vector<TFavoriteCase> cases = {
        {"https-by-address", nginx->HttpsUrl(NginxServer::kPagePath), "FAILED"},
        {"https-by-name", nginx->HttpsUrl(NginxServer::kPagePath, "localhost"), "FAILED"},
        // A redirect does not get around the check of the certificate.
        {"http-redirected", nginx->HttpUrl(NginxServer::kPagePath), "FAILED"},
    };
    std::map<std::string, std::string> stored;
    TOutcome outcome = RunOver(cases, noCaFile, stored);

    SCOPED_TRACE("quorvane-check printed:\n" + Joined(outcome.lines) + nginx->Logs());
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    for (const auto& favorite : cases) {
        SCOPED_TRACE(favorite.name + " " + favorite.url);
        EXPECT_EQ(stored[favorite.name], favorite.status);
    }
    // One failed request per row, and whatever else a row may try fails for the same reason.
    EXPECT_EQ(LinesStartingWith(outcome.lines, "HEAD Failed !").size(), cases.size());
    const auto reasons = LinesStartingWith(outcome.lines, "ReasonPhrase = ");
    EXPECT_FALSE(reasons.empty());
    for (const auto& line : reasons)
        EXPECT_TRUE(line.starts_with("ReasonPhrase = TLS: ")) << line;
    EXPECT_TRUE(LinesStartingWith(outcome.lines, "Last-Modified:").empty());
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), "3 Einträge: 0 OK, 0 mit Datum, 3 FAILED");
}
