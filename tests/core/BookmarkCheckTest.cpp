// quorvane-check on the bookmarks of a home folder, as a user runs it: a Firefox profile held
// open as a running Firefox holds it, Chromium profiles (one damaged) and HTML exports, all
// checked against a loopback server and kept in the result file under their keys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BookmarkFixtures.h"
#include "ProgramRun.h"
#include "ScriptedServer.h"
#include "StoredResults.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"

namespace {

namespace fs = std::filesystem;
using testing::Contains;
using testing::HasSubstr;
using testing::Not;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Dead pages ("/gone") are not found; every other page is there.
testsupport::TScript ByPath() {
    testsupport::TScript script;
    script.ReadRequest().Reply([](const std::string& request) {
        return request.find(" /gone ") != std::string::npos ? "HTTP/1.0 404 Not Found\r\n\r\n"
                                                            : "HTTP/1.0 200 OK\r\n\r\n";
    });
    return script;
}

class BookmarkCheckTest : public testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path home = dir.Path() / "home";
    fs::path program = dir.Path() / "bin" / "quorvane-check";
    fs::path resultFile = dir.Path() / "bin" / ResultFileName;
    testsupport::ScriptedServer server{ByPath()};
    std::string base = "http://127.0.0.1:" + server.PortText();

    void SetUp() override {
        fs::create_directories(program.parent_path());
        fs::copy_file(QV_CHECK_PROGRAM, program);
    }

    testsupport::TProgramOutcome Run(std::vector<std::string> args = {}) {
        testsupport::TProgramRun run;
        run.program = program.string();
        run.args = {"--jobs", "1"};
        run.args.insert(run.args.end(), args.begin(), args.end());
        run.env = {{"HOME", home.string()}};
        return testsupport::RunProgram(run);
    }

    bool Requested(const std::string& path) const {
        for (const std::string& request : server.Received())
            if (request.find(" " + path + " ") != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(BookmarkCheckTest, BrowserProfilesAreCheckedAndFirefoxIsLeftAsItWas) {
    const fs::path profile = home / ".mozilla/firefox/abc.default-release";
    fs::create_directories(profile);
    dir.Write("home/.mozilla/firefox/profiles.ini",
              "[Profile0]\nName=default-release\nIsRelative=1\nPath=abc.default-release\n");
    const fs::path places = profile / "places.sqlite";
    auto firefox = bookmarkfixtures::MakeRunningPlaces(places, base);
    const std::string database = Bytes(places), wal = Bytes(places.string() + "-wal");
    const fs::path chromium = dir.Write("home/.config/chromium/Default/Bookmarks",
                                        bookmarkfixtures::ChromiumBookmarks(base));
    const std::string json = bookmarkfixtures::ChromiumBookmarks(base);
    const fs::path damaged =
        dir.Write("home/.config/chromium/Profile 1/Bookmarks", json.substr(0, json.size() - 40));

    const testsupport::TProgramOutcome outcome = Run();

    EXPECT_EQ(outcome.exitCode, 2) << outcome.errors;
    const std::string p = places.string(), c = chromium.string();
    EXPECT_THAT(outcome.errors, HasSubstr("Lesezeichen gelesen: Firefox (default-release) (" + p +
                                          "): 4 Lesezeichen\n"));
    EXPECT_THAT(outcome.errors,
                HasSubstr("Lesezeichen gelesen: Chromium (Default) (" + c + "): 3 Lesezeichen\n"));
    EXPECT_THAT(outcome.errors, HasSubstr("Lesezeichen nicht lesbar: Chromium (Profile 1) (" +
                                          damaged.string() + "): die Datei ist beschädigt"));
    EXPECT_THAT(outcome.errors, Not(HasSubstr("Kein Favoritenordner")));
    EXPECT_THAT(outcome.lines,
                Contains(HasSubstr("] Firefox (default-release)/Lesezeichen-Symbolleiste/"
                                   "Reisen/Hotel <" +
                                   base + "/gone>")));
    EXPECT_THAT(outcome.lines, Contains("FAILED\t" + p + "#bm_gone_____\t" + base + "/gone"));
    EXPECT_THAT(outcome.lines, Contains("FAILED\t" + c + "#c-gone\t" + base + "/gone"));
    // The history's place and the tag's entry are no rows.
    EXPECT_FALSE(Requested("/history"));
    for (const std::string& line : outcome.lines)
        EXPECT_THAT(line, Not(HasSubstr("tag_entry")));

    const auto stored = testsupport::StoredStatuses(
        {p + "#bm_ok_______", p + "#bm_gone_____", p + "#bm_query____", p + "#bm_untitled_",
         c + "#c-start", c + "#c-gone", c + "#c-other"},
        resultFile.string());
    using E = std::pair<const std::string, std::string>;
    EXPECT_THAT(stored,
                testing::UnorderedElementsAre(
                    E{p + "#bm_ok_______", "OK"}, E{p + "#bm_gone_____", "FAILED"},
                    E{p + "#bm_query____", "SKIPPED"}, E{p + "#bm_untitled_", "OK"},
                    E{c + "#c-start", "OK"}, E{c + "#c-gone", "FAILED"}, E{c + "#c-other", "OK"}));

    EXPECT_EQ(Bytes(places), database);
    EXPECT_EQ(Bytes(places.string() + "-wal"), wal);
    EXPECT_FALSE(fs::exists(places.string() + "-shm"));
    EXPECT_FALSE(fs::exists(places.string() + "-journal"));
}

TEST_F(BookmarkCheckTest, GivenExportsAreCheckedAndADamagedOneIsNamed) {
    const fs::path html = dir.Write("export.html", bookmarkfixtures::HtmlExport(base));
    const fs::path broken =
        dir.Write("broken.sqlite", std::string("SQLite format 3\0", 16) + "junk");
    dir.Write("home/Favorites/r.url", "[DEFAULT]\nBASEURL=" + base + "/shortcut\n");

    const testsupport::TProgramOutcome outcome =
        Run({"--bookmarks", html.string(), "--bookmarks", broken.string()});

    EXPECT_EQ(outcome.exitCode, 2) << outcome.errors;
    EXPECT_THAT(outcome.errors, HasSubstr("Lesezeichen gelesen: export.html (" + html.string() +
                                          "): 4 Lesezeichen\n"));
    EXPECT_THAT(outcome.errors, HasSubstr("Lesezeichen nicht lesbar: broken.sqlite (" +
                                          broken.string() + "): die Datenbank ist beschädigt"));
    EXPECT_THAT(outcome.lines,
                Contains(HasSubstr("] export.html/Reisen & Urlaub/Tief/Weg <" + base + "/gone>")));
    EXPECT_THAT(outcome.lines, Contains("FAILED\t" + html.string() + "#2\t" + base + "/gone"));
    // The shortcuts of the Favorites folder are checked beside them.
    EXPECT_TRUE(Requested("/shortcut"));
    EXPECT_TRUE(Requested("/ok?a=1&b=2"));
}

}  // namespace
