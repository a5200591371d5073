// quorvane-check as a user runs it: a copy of the program (its result file lives beside it),
// a home folder with a Favorites folder, a loopback server, and Ctrl+C as a real SIGINT.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "QuorvaneCheckFixture.h"
#include "TargetServer.h"
#include "WriterShortcuts.h"

using testing::ElementsAre;

namespace {

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

// The line that names the row before its log block: "[2/3] Sub/r2 <http://...>".
// request is the server's count of the row's first request, position the row's among the run.
std::string RowLine(const testsupport::ScriptedServer& server, std::size_t request, int position,
                    int total) {
    const std::string requested = RequestedPath(server, request);  // "/r2"
    const int number = std::stoi(requested.substr(2));
    return "[" + std::to_string(position) + "/" + std::to_string(total) + "] " +
           (number % 2 ? "" : "Sub/") + requested.substr(1) + " <" + server.Url(requested) + ">";
}

std::string FailedLine(const testsupport::ScriptedServer& server, const std::string& path) {
    const std::string name = fs::path(path).stem().string();
    return "FAILED\t" + path + "\t" + server.Url("/" + name);
}

}  // namespace

TEST_F(QuorvaneCheckTest, NamesEachRowListsTheFailedOnesAndWritesTheFile) {
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
    ASSERT_EQ(server.Received().size(), 4u);
    EXPECT_EQ(outcome.exitCode, 2) << "a favourite FAILED";
    EXPECT_EQ(outcome.errors, "quorvane-check: Versuch hinter dem Dateiende zu lesen.\n");
    EXPECT_THAT(outcome.lines,
                ElementsAre(RowLine(server, 0, 1, 3), "StatusCode = 200", "HTTP/1.0 200 OK",
                            "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT",  //
                            RowLine(server, 1, 2, 3), "HEAD Failed !", "StatusCode   = 404",
                            "ReasonPhrase = Not Found", "Trying GET", "GET Failed !",
                            "StatusCode   = 404", "ReasonPhrase = Not Found",  //
                            RowLine(server, 3, 3, 3), "StatusCode = 200", "HTTP/1.0 200 OK",
                            "Server: test",  //
                            FailedLine(server, PathOf(paths, RequestedPath(server, 1))),
                            "3 Einträge: 1 OK, 1 mit Datum, 1 FAILED"));
    EXPECT_EQ(server.Received()[2].substr(0, 4), "GET ");
    auto stored = Stored(paths);
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 0))], "2002/10/09; 10:10:10 GMT");
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 1))], "FAILED");
    EXPECT_EQ(stored[PathOf(paths, RequestedPath(server, 3))], "OK");
}

TEST_F(QuorvaneCheckTest, CtrlCDuringTheThirdOfFiveRowsStopsWritesTheFileAndExits130) {
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
    EXPECT_EQ(outcome.exitCode, 130);
    EXPECT_EQ(outcome.errors, "");
    ASSERT_EQ(server.Connections(), 3);
    ASSERT_EQ(outcome.lines.size(), 13u);
    EXPECT_THAT(std::vector<std::string>(outcome.lines.begin(), outcome.lines.begin() + 10),
                ElementsAre(RowLine(server, 0, 1, 5), "StatusCode = 200", "HTTP/1.0 200 OK",  //
                            RowLine(server, 1, 2, 5), "StatusCode = 200", "HTTP/1.0 200 OK",  //
                            RowLine(server, 2, 3, 5), "HEAD Failed !", "StatusCode   = 404",
                            "ReasonPhrase = Connection aborted on request"));
    // Rows four and five keep their earlier result, and so are listed as FAILED.
    std::vector<std::string> unchecked;
    for (const auto& path : paths)
        if (path != PathOf(paths, RequestedPath(server, 0)) &&
            path != PathOf(paths, RequestedPath(server, 1)) &&
            path != PathOf(paths, RequestedPath(server, 2)))
            unchecked.push_back(FailedLine(server, path));
    EXPECT_THAT(std::vector<std::string>(outcome.lines.begin() + 10, outcome.lines.end() - 1),
                testing::UnorderedElementsAreArray(unchecked));
    EXPECT_EQ(outcome.lines.back(), "5 Einträge: 2 OK, 0 mit Datum, 2 FAILED, 1 ungeprüft");
    std::map<std::string, std::string> expected;
    for (const auto& path : paths)
        expected[path] = "FAILED";
    expected[PathOf(paths, RequestedPath(server, 0))] = "OK";
    expected[PathOf(paths, RequestedPath(server, 1))] = "OK";
    expected[PathOf(paths, RequestedPath(server, 2))] = "???";  // not stored any more
    EXPECT_EQ(Stored(paths), expected);
}

// `quorvane-check | head -n 1`: the reader goes away after the first line. The run stops as
// after Ctrl+C, the results so far are written, and the exit code is a broken pipe's.
TEST_F(QuorvaneCheckTest, AReaderThatStopsEarlyEndsTheRunWithTheResultsWritten) {
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    std::vector<testsupport::TScript> answers(12, testsupport::TScript::Answer(ok));
    testsupport::ScriptedServer server(answers);
    auto paths = Shortcuts(server, 12);
    StoreEarlierResults(paths, "FAILED");
    testsupport::TProgramRun run;
    run.args = {"--jobs", "1"};
    run.outputLines = 1;

    TOutcome outcome = RunAs(run);

    EXPECT_EQ(outcome.exitCode, 128 + SIGPIPE);
    EXPECT_EQ(outcome.errors, "");
    ASSERT_EQ(outcome.lines.size(), 1u);
    EXPECT_EQ(outcome.lines[0], RowLine(server, 0, 1, 12));
    // Every row the run reached is stored with its answer; the others keep their result.
    const auto stored = Stored(paths);
    EXPECT_EQ(stored.at(PathOf(paths, RequestedPath(server, 0))), "OK");
    for (const auto& [path, status] : stored)
        EXPECT_THAT(status, testing::AnyOf("OK", "FAILED", "???")) << path;
}

// What a script sees: the exit code, and standard output with only the FAILED list and the
// summary under --quiet.
TEST_F(QuorvaneCheckTest, ExitCodesTellTheScriptHowTheRunWent) {
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    const std::string gone = "HTTP/1.0 410 Gone\r\n\r\n";
    struct Case {
        const char* name;
        std::vector<testsupport::TScript> answers;
        std::vector<std::string> args;
        int exitCode;
        std::size_t lines;  // on standard output
    } cases[] = {
        {"everything answers", {testsupport::TScript::Answer(ok)}, {}, 0, 7},
        {"a favourite is gone",
         {testsupport::TScript::Answer(ok), testsupport::TScript::Answer(gone),
          testsupport::TScript::Answer(gone)},
         {},
         2,
         13},
        {"quietly, a favourite is gone",
         {testsupport::TScript::Answer(ok), testsupport::TScript::Answer(gone),
          testsupport::TScript::Answer(gone)},
         {"--quiet"},
         2,
         2},
        {"the results cannot be written",
         {testsupport::TScript::Answer(ok)},
         {"--results", (dir.Path() / "missing/urls.dat").string()},
         1,
         7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home / "Favorites");
        fs::remove(resultFile);
        testsupport::ScriptedServer server(c.answers);
        Shortcuts(server, 2);
        TOutcome outcome = Run(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode) << outcome.errors;
        EXPECT_EQ(outcome.lines.size(), c.lines);
        if (c.exitCode == 2) {
            EXPECT_THAT(outcome.lines.end()[-2], testing::StartsWith("FAILED\t"));
        }
        if (c.exitCode == 1) {
            EXPECT_THAT(outcome.errors,
                        testing::HasSubstr("kann nicht gespeichert werden: Der Ordner existiert "
                                           "nicht."));
        }
    }
}

// A FIFO as result file would block the restore without a writer and could never give the
// results back: refused before anything is checked, and left as it is.
TEST_F(QuorvaneCheckTest, AResultFileThatIsNoPlainFileIsRefusedBeforeTheRun) {
    const fs::path fifo = dir.Path() / "results.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testsupport::ScriptedServer server({testsupport::TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")});
    Shortcuts(server, 1);
    TOutcome outcome = Run({"--results", fifo.string()});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(outcome.lines.empty()) << "nothing was checked";
    EXPECT_THAT(outcome.errors, testing::HasSubstr("kann nicht gespeichert werden: Sie ist keine "
                                                   "gewöhnliche Datei."));
    EXPECT_TRUE(fs::is_fifo(fifo));
}

// A Favorites folder from elsewhere (a copied or mounted Windows disk), and results kept
// where the user says.
TEST_F(QuorvaneCheckTest, ChecksAnotherFavoritesFolderIntoAnotherResultFile) {
    testsupport::ScriptedServer server(testsupport::TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    const std::string shortcut = dir.Write("win/Users/Anna/Favorites/Links/Seite.url",
                                           "[DEFAULT]\r\nBASEURL=" + server.Url("/seite") + "\r\n")
                                     .string();
    const fs::path results = dir.Path() / "anna.dat";
    TOutcome outcome = Run({"--favorites", (dir.Path() / "win/Users/Anna/Favorites").string(),
                            "--results=" + results.string()});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_THAT(outcome.lines,
                ElementsAre("[1/1] Links/Seite <" + server.Url("/seite") + ">", "StatusCode = 200",
                            "HTTP/1.0 200 OK", "1 Eintrag: 1 OK, 0 mit Datum, 0 FAILED"));
    EXPECT_FALSE(fs::exists(resultFile));
    TFavoriteList list;
    list.Append(TFavoriteRow{"", "", "???", "", shortcut, 0});
    OpenURLs(list, results.string());
    EXPECT_EQ(list[0].Datum, "OK");
}

TEST_F(QuorvaneCheckTest, NoFavoritesFolderOrNoShortcutSaysWhereItLookedInOneGermanLine) {
    const std::string hint =
        " Einen anderen Ordner wählen Sie mit --favorites ORDNER, etwa einen von einer "
        "Windows-Festplatte kopierten oder dort eingehängten Favoritenordner.\n";
    StoreEarlierResults({"/elsewhere/a.url"}, "OK");
    const std::string earlier = testsupport::ReadFileBytes(resultFile);

    TOutcome missing = Run();
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.errors, "quorvane-check: Kein Favoritenordner gefunden: „" + home.string() +
                                  "/Favorites“ gibt es nicht." + hint);
    EXPECT_TRUE(missing.lines.empty());
    EXPECT_EQ(testsupport::ReadFileBytes(resultFile), earlier) << "the stored results stay";

    fs::create_directories(home / "Favorites/Leer");
    TOutcome empty = Run();
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.errors, "quorvane-check: Keine Internet-Verknüpfungen (*.url, *.desktop) in „" +
                                home.string() + "/Favorites“ gefunden." + hint);
    EXPECT_THAT(empty.lines, ElementsAre("0 Einträge: 0 OK, 0 mit Datum, 0 FAILED"));

    // Shortcut files are there, but none names an address.
    const std::string none =
        dir.Write("home/Favorites/Leer/none.url", "[InternetShortcut]\n").string();
    TOutcome noAddress = Run();
    EXPECT_EQ(noAddress.exitCode, 0);
    EXPECT_EQ(noAddress.errors,
              "quorvane-check: ohne Adresse übersprungen: " + none +
                  "\nquorvane-check: 1 Internet-Verknüpfung ohne Adresse "
                  "übersprungen.\nquorvane-check: Die Internet-Verknüpfungen in „" +
                  home.string() + "/Favorites“ enthalten keine Adresse.\n");
}

// Every shortcut file as its writer leaves it: each row asks for the page that opening the file
// visits (the server knows no other), and the files without address are named.
TEST_F(QuorvaneCheckTest, ChecksTheAddressThatOpeningEachShortcutVisits) {
    testsupport::TargetServer server({"/edge", "/chrome", "/firefox", "/mac", "/utf16",
                                      "/caf%C3%A9", "/blanks", "/visited", "/old", "/link"});
    std::vector<std::string> rows;
    std::string skipped;
    for (const auto& file : testsupport::WriterShortcuts(server.Base())) {
        const std::string path = dir.Write("home/Favorites/" + file.File, file.Bytes).string();
        if (file.Address)
            rows.push_back(path);
        if (file.CountedAsSkipped)
            skipped += "quorvane-check: ohne Adresse übersprungen: " + path + "\n";
    }
    TOutcome outcome = Run();
    EXPECT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_EQ(outcome.errors,
              skipped + "quorvane-check: 2 Internet-Verknüpfungen ohne Adresse übersprungen.\n");
    ASSERT_FALSE(outcome.lines.empty());
    EXPECT_EQ(outcome.lines.back(), "11 Einträge: 11 OK, 0 mit Datum, 0 FAILED");
    for (const auto& [path, status] : Stored(rows))
        EXPECT_EQ(status, "OK") << path;
    std::multiset<std::string> asked;
    for (const auto& target : server.Asked())
        asked.insert(target);
    EXPECT_EQ(asked, (std::multiset<std::string>{"/blanks", "/caf%C3%A9", "/chrome", "/edge",
                                                 "/firefox", "/link", "/mac", "/old", "/utf16",
                                                 "/utf16", "/visited"}));
}

TEST_F(QuorvaneCheckTest, HelpVersionAndBadOptions) {
    const std::string usage = "Aufruf: quorvane-check [OPTION]... [ADRESSE]...";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string line;  // the first of standard output, or the only one of standard error
    } cases[] = {
        {{"--help"}, 0, usage},
        {{"-h"}, 0, usage},
        {{"--version"}, 0, "quorvane-check 1.0"},
        {{"-V"}, 0, "quorvane-check 1.0"},
        {{"--frobnicate"}, 1, "quorvane-check: unbekannte Option „--frobnicate“; mehr mit --help"},
        {{"-qz"}, 1, "quorvane-check: unbekannte Option „-z“; mehr mit --help"},
        {{"--favorites"},
         1,
         "quorvane-check: die Option --favorites braucht einen Wert (ORDNER); mehr mit --help"},
        {{"-j", "300"},
         1,
         "quorvane-check: die Option --jobs braucht eine Zahl von 1 bis 256, nicht „300“; mehr "
         "mit --help"},
        {{"--format", "yaml"},
         1,
         "quorvane-check: die Option --format kennt „yaml“ nicht (text, json oder csv); mehr mit "
         "--help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        TOutcome outcome = Run(c.args);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        if (c.exitCode == 0) {
            EXPECT_EQ(outcome.lines.empty() ? "" : outcome.lines[0], c.line);
            EXPECT_EQ(outcome.errors, "");
        } else {
            EXPECT_TRUE(outcome.lines.empty());
            EXPECT_EQ(outcome.errors, c.line + "\n");
        }
    }
    EXPECT_FALSE(fs::exists(resultFile)) << "nothing was checked";
}

TEST_F(QuorvaneCheckTest, HelpDocumentsEveryExitCode) {
    TOutcome outcome = Run({"--help"});
    for (const char* code : {"  0 ", "  2 ", "  1 ", "  130 "})  // 130 names 141 too
        EXPECT_THAT(outcome.lines, testing::Contains(testing::StartsWith(code))) << code;
}

// A person at a terminal sees a progress line on standard error, redrawn in place and taken
// away before every line of standard output, which stays free of it.
TEST_F(QuorvaneCheckTest, OnATerminalAProgressLineIsRedrawnOnStandardErrorOnly) {
    // Every request is answered "gone", so the count of failures grows row by row.
    testsupport::ScriptedServer server(testsupport::TScript::Answer("HTTP/1.0 410 Gone\r\n\r\n"));
    Shortcuts(server, 3);
    testsupport::TProgramRun run;
    run.program = program.string();
    run.env = {{"HOME", home.string()}};
    run.errorsToTerminal = true;
    TOutcome outcome = testsupport::RunProgram(run);

    EXPECT_EQ(outcome.exitCode, 2);
    for (const std::string& line : outcome.lines)
        EXPECT_EQ(line.find("geprüft"), std::string::npos) << line;
    EXPECT_THAT(outcome.errors, testing::HasSubstr("\r1/3 geprüft, 1 FAILED, noch etwa 0:"));
    EXPECT_THAT(outcome.errors, testing::HasSubstr("\r2/3 geprüft, 2 FAILED, noch etwa 0:"));
    EXPECT_THAT(outcome.errors, testing::HasSubstr("\r3/3 geprüft, 3 FAILED\033[K"));
    EXPECT_TRUE(outcome.errors.ends_with("\r\033[K")) << "the line is gone when the run ends";
}
