// quorvane-check as a user runs it: a copy of the program (its result file lives beside it),
// a home folder with a Favorites folder, a loopback server, and Ctrl+C as a real SIGINT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "ScriptedServer.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"

using testing::ElementsAre;

namespace {

namespace fs = std::filesystem;

using TOutcome = testsupport::TProgramOutcome;

class QuorvaneCheckTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path home = dir.Path() / "home";
    fs::path program = dir.Path() / "bin" / "quorvane-check";
    fs::path resultFile = dir.Path() / "bin" / ResultFileName;
    std::atomic<pid_t> pid{0};

    void SetUp() override {
        fs::create_directories(program.parent_path());
        fs::copy_file(QV_CHECK_PROGRAM, program);
    }

    // Shortcuts r1.url .. rN.url in two folders. The scan takes them in the file system's
    // order, so the tests tell rows apart by the paths the server was asked for.
    std::vector<std::string> Shortcuts(const testsupport::ScriptedServer& server, int count) {
        std::vector<std::string> paths;
        for (int i = 1; i <= count; ++i) {
            std::string name = "r" + std::to_string(i);
            std::string file =
                i % 2 ? "Favorites/" + name + ".url" : "Favorites/Sub/" + name + ".url";
            paths.push_back(
                dir.Write("home/" + file, "[DEFAULT]\nBASEURL=" + server.Url("/" + name) + "\n")
                    .string());
        }
        return paths;
    }

    TOutcome Run() {
        testsupport::TProgramRun run;
        run.program = program.string();
        run.env = {{"HOME", home.string()}};
        run.started = [this](pid_t child) { pid = child; };
        return testsupport::RunProgram(run);
    }

    // The status the result file gives back to each path.
    std::map<std::string, std::string> Stored(const std::vector<std::string>& paths) {
        TFavoriteList list;
        for (const auto& path : paths) {
            TFavoriteRow row;
            row.Datei = path;
            list.Append(row);
        }
        OpenURLs(list, resultFile.string());
        std::map<std::string, std::string> stored;
        for (const auto& row : list.Rows())
            stored[row.Datei] = row.Datum;
        return stored;
    }

    void StoreEarlierResults(const std::vector<std::string>& paths, const std::string& status) {
        testsupport::StoreResults(paths, status, resultFile.string());
    }
};

// The n-th request's path ("/r3"), from what the server received on its n-th connection.
std::string RequestedPath(const testsupport::ScriptedServer& server, std::size_t n) {
    std::string request = server.Received().at(n);
    auto start = request.find(' ') + 1;
    return request.substr(start, request.find(' ', start) - start);
}

std::string PathOf(const std::vector<std::string>& paths, const std::string& requested) {
    for (const auto& path : paths)
        if (path.ends_with(requested + ".url"))
            return path;
    return {};
}

}  // namespace

TEST_F(QuorvaneCheckTest, ChecksEveryRowPrintsTheLogAndWritesTheFile) {
    testsupport::ScriptedServer server({
        testsupport::TScript::Answer(
            "HTTP/1.0 200 OK\r\nLast-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\n\r\n"),
        testsupport::TScript::Answer("HTTP/1.0 404 Not Found\r\nServer: test\r\n\r\n"),
        // The page is asked once more with GET before it counts as dead.
        testsupport::TScript::Answer("HTTP/1.0 404 Not Found\r\nServer: test\r\n\r\n"),
        testsupport::TScript::Answer("HTTP/1.0 200 OK\r\nServer: test\r\n\r\n"),
    });
    auto paths = Shortcuts(server, 3);
    dir.Write("bin/urls.dat", std::string("\x02\x00\x00\x00OK\x40\x00", 8));  // cut short

    TOutcome outcome = Run();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "quorvane-check: Versuch hinter dem Dateiende zu lesen.\n");
    EXPECT_THAT(outcome.lines,
                ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK",
                            "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT",  //
                            "HEAD Failed !", "StatusCode   = 404", "ReasonPhrase = Not Found",
                            "Trying GET", "GET Failed !", "StatusCode   = 404",
                            "ReasonPhrase = Not Found",  //
                            "StatusCode = 200", "HTTP/1.0 200 OK", "Server: test",
                            "3 Einträge: 1 OK, 1 mit Datum, 1 FAILED"));
    ASSERT_EQ(server.Received().size(), 4u);
    EXPECT_EQ(server.Received()[2].substr(0, 4), "GET ");
    auto stored = Stored(paths);
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 0))], "2002/10/09; 10:10:10 GMT");
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 1))], "FAILED");
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 3))], "OK");
}

TEST_F(QuorvaneCheckTest, CtrlCDuringTheThirdOfFiveRowsStopsAndWritesTheFile) {
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    testsupport::TScript interrupted;
    interrupted.ReadRequest().Send("HTTP/1.0 200 OK\r\n").Call([this] { ::kill(pid, SIGINT); });
    interrupted.Hang();
    testsupport::ScriptedServer server({testsupport::TScript::Answer(ok),
                                        testsupport::TScript::Answer(ok), interrupted,
                                        testsupport::TScript::Answer(ok)});
    auto paths = Shortcuts(server, 5);
    StoreEarlierResults(paths, "FAILED");

    TOutcome outcome = Run();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_THAT(outcome.lines, ElementsAre("StatusCode = 200", "HTTP/1.0 200 OK",  //
                                           "StatusCode = 200", "HTTP/1.0 200 OK",  //
                                           "HEAD Failed !", "StatusCode   = 404",
                                           "ReasonPhrase = Connection aborted on request",
                                           "5 Einträge: 2 OK, 0 mit Datum, 2 FAILED, 1 ungeprüft"));
    ASSERT_EQ(server.Connections(), 3);
    std::map<std::string, std::string> expected;
    for (const auto& path : paths)
        expected[path] = "FAILED";  // rows four and five keep their earlier result
    expected[PathOf(paths, RequestedPath(server, 0))] = "OK";
    expected[PathOf(paths, RequestedPath(server, 1))] = "OK";
    expected[PathOf(paths, RequestedPath(server, 2))] = "???";  // not stored any more
    EXPECT_EQ(Stored(paths), expected);
}
