// quorvane-check against a real nginx with TLS on loopback, run as a user runs it: a copy of the
// program (its result file lives beside it), a home folder with a Favorites folder, and the
// trusted certificates taken from SSL_CERT_FILE and SSL_CERT_DIR as for any OpenSSL program.
// What a scripted server cannot show is shown here: a TLS handshake with a real server and its
// certificate, a redirect from http to https, and a run that ends as soon as each answer is
// complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "NginxServer.h"
#include "ProgramRun.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "TestCa.h"
#include "app/core/ResultFile.h"

namespace {

namespace fs = std::filesystem;
using testsupport::NginxServer;

// The date text a row gets from the page's Last-Modified.
constexpr const char* kPageDate = "2002/10/09; 10:10:10 GMT";
// A whole run of a few rows takes well under a second. A request that waited for more than the
// answer would take nginx's keep-alive time (75 s) or the client's time-out (30 s), so a run
// past this bound is a fault, and is killed to fail instead of hanging.
constexpr auto kRunBound = std::chrono::seconds(20);

using TOutcome = testsupport::TProgramOutcome;

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

    // Only caFile is trusted; the system's folder is not looked at.
    TOutcome Run(const fs::path& caFile) {
        testsupport::TProgramRun run;
        run.program = program.string();
        run.env = {{"HOME", home.string()},
                   {"SSL_CERT_FILE", caFile.string()},
                   {"SSL_CERT_DIR", noCaDir.string()}};
        run.bound = kRunBound;
        return testsupport::RunProgram(run);
    }

    // The status the result file gives back to each case's shortcut, by the case's name.
    std::map<std::string, std::string> Stored(const std::vector<TFavoriteCase>& cases,
                                              const std::vector<std::string>& paths) {
        const auto byPath = testsupport::StoredStatuses(paths, resultFile.string());
        std::map<std::string, std::string> stored;
        for (std::size_t i = 0; i < cases.size(); ++i)
            stored[cases[i].name] = byPath.at(paths[i]);
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
    EXPECT_EQ(outcome.exitCode, 2) << "the missing pages FAILED";
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

// The JSON records of addresses given on the command line, against a real server: the final
// status, the reason, the address after nginx's relocation and the page's date.
TEST_F(NginxCheckTest, JsonRecordsTellTheFinalAddressAndStatusOfARealServer) {
    const std::string redirected = nginx->HttpUrl(NginxServer::kPagePath);
    const std::string missing = nginx->HttpsUrl(NginxServer::kMissingPath);
    testsupport::TProgramRun run;
    run.program = program.string();
    run.args = {"--format", "json", redirected, missing};
    run.env = {{"HOME", home.string()},
               {"SSL_CERT_FILE", testsupport::TestCa::Shared().CaFile()},
               {"SSL_CERT_DIR", noCaDir.string()}};
    run.bound = kRunBound;
    const TOutcome outcome = testsupport::RunProgram(run);

    SCOPED_TRACE("quorvane-check printed:\n" + Joined(outcome.lines) + outcome.errors);
    EXPECT_EQ(outcome.exitCode, 2);
    ASSERT_EQ(outcome.lines.size(), 2u);
    const auto page = nlohmann::json::parse(outcome.lines[0]);
    EXPECT_EQ(page.at("url"), redirected);
    EXPECT_EQ(page.at("final_url"), nginx->HttpsUrl(NginxServer::kPagePath));
    EXPECT_EQ(page.at("status"), 200);
    EXPECT_EQ(page.at("verdict"), kPageDate);
    EXPECT_EQ(page.at("last_modified"), "2002-10-09T10:10:10Z");
    const auto gone = nlohmann::json::parse(outcome.lines[1]);
    EXPECT_EQ(gone.at("verdict"), "FAILED");
    EXPECT_EQ(gone.at("status"), 404);
    EXPECT_EQ(gone.at("reason"), "Not Found");
    EXPECT_EQ(gone.at("final_url"), missing);
}

// A server on a port of its own that routes by host and port (as virtual hosts behind one
// address do) answers only a Host line that names the port, and builds its relocations from it.
TEST_F(NginxCheckTest, HostNamesThePortOfAServerOnANonDefaultPort) {
    const std::vector<TFavoriteCase> cases = {
        {"http-host-and-port", nginx->HttpUrl(NginxServer::kHostPagePath, "localhost"), kPageDate},
        {"http-relocated-on-the-port", nginx->HttpUrl(NginxServer::kHostMovedPath, "localhost"),
         kPageDate},
        {"https-host-and-port", nginx->HttpsUrl(NginxServer::kHostPagePath, "localhost"),
         kPageDate},
        // The same page asked for by address: the server refuses it, so the check above is
        // really made.
        {"http-by-address", nginx->HttpUrl(NginxServer::kHostPagePath), "FAILED"},
    };
    std::map<std::string, std::string> stored;
    TOutcome outcome = RunOver(cases, testsupport::TestCa::Shared().CaFile(), stored);

    SCOPED_TRACE("quorvane-check printed:\n" + Joined(outcome.lines) + nginx->Logs());
    EXPECT_EQ(outcome.exitCode, 2) << "the page asked for by address FAILED";
    EXPECT_EQ(outcome.errors, "");
    for (const auto& favorite : cases) {
        SCOPED_TRACE(favorite.name + " " + favorite.url);
        EXPECT_EQ(stored[favorite.name], favorite.status);
    }
    for (const auto& line : LinesStartingWith(outcome.lines, "ReasonPhrase = "))
        EXPECT_EQ(line, "ReasonPhrase = Bad Request");
    EXPECT_EQ(LinesStartingWith(outcome.lines,
                                "Location: http://localhost:" + std::to_string(nginx->HttpPort()) +
                                    NginxServer::kHostPagePath)
                  .size(),
              1u);
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), "4 Einträge: 0 OK, 3 mit Datum, 1 FAILED");
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
    EXPECT_EQ(outcome.exitCode, 2) << "every row FAILED";
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

// nginx's plain server on [::1] as well: favourites with a bracketed IPv6 address are checked
// like any others, over IPv6 all the way.
TEST_F(NginxCheckTest, ChecksFavouritesOnTheIpv6Loopback) {
    if (!nginx->HasIpv6())
        GTEST_SKIP() << "this machine cannot listen on ::1 (no IPv6)";
    const std::vector<TFavoriteCase> cases = {
        {"ipv6-root", nginx->Ipv6Url("/"), "OK"},
        {"ipv6-page", nginx->Ipv6Url(NginxServer::kPagePath), kPageDate},
        {"ipv6-missing", nginx->Ipv6Url(NginxServer::kMissingPath), "FAILED"},
    };
    std::map<std::string, std::string> stored;
    TOutcome outcome = RunOver(cases, testsupport::TestCa::Shared().CaFile(), stored);

    SCOPED_TRACE("quorvane-check printed:\n" + Joined(outcome.lines) + nginx->Logs());
    EXPECT_EQ(outcome.exitCode, 2) << "the missing page FAILED";
    EXPECT_EQ(outcome.errors, "");
    for (const auto& favorite : cases) {
        SCOPED_TRACE(favorite.name + " " + favorite.url);
        EXPECT_EQ(stored[favorite.name], favorite.status);
    }
    for (const auto& line : LinesStartingWith(outcome.lines, "ReasonPhrase = "))
        EXPECT_EQ(line, "ReasonPhrase = Not Found");
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), "3 Einträge: 1 OK, 1 mit Datum, 1 FAILED");
}
