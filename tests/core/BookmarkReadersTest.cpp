// The bookmark readers on files made as the browsers make them: the rows, their paths and
// keys; damaged and cut-short files; finding the profiles in a home folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "BookmarkFixtures.h"
#include "TempDir.h"
#include "app/core/BookmarkSources.h"

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::HasSubstr;

const std::string kBase = "http://127.0.0.1:9";

// Name, Pfad, URL, Datei.
using TRowText = std::tuple<std::string, std::string, std::string, std::string>;

std::vector<TRowText> Texts(const std::vector<TFavoriteRow>& rows) {
    std::vector<TRowText> texts;
    for (const TFavoriteRow& row : rows) {
        EXPECT_TRUE(row.Bookmark) << row.Datei;
        EXPECT_GE(row.ImageIndex, 0) << row.Datei;
        texts.emplace_back(row.Name, row.Pfad, row.URL, row.Datei);
    }
    return texts;
}

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class BookmarkReadersTest : public testing::Test {
  protected:
    testsupport::TempDir dir;

    std::vector<TFavoriteRow> Read(const std::string& label, const fs::path& file) {
        TBookmarkRead read = ReadBookmarkSource({label, file.string()});
        EXPECT_EQ(read.Note, "") << file;
        return read.Rows;
    }

    std::string Failure(const fs::path& file) {
        try {
            ReadBookmarkSource({"x", file.string()});
        } catch (const EBookmarkSource& error) {
            return error.what();
        }
        return "read without an error";
    }
};

TEST_F(BookmarkReadersTest, FirefoxHeldOpenIsReadFromACopyAndLeftAsItWas) {
    const fs::path places = dir.Path() / "profile" / "places.sqlite";
    fs::create_directories(places.parent_path());
    auto firefox = bookmarkfixtures::MakeRunningPlaces(places, kBase);
    const std::string database = Bytes(places), wal = Bytes(places.string() + "-wal");
    ASSERT_GT(wal.size(), 0u) << "the bookmarks are only in the WAL, as Firefox leaves them";

    const std::string p = places.string();
    EXPECT_THAT(Texts(Read("Firefox (test)", places)),
                ElementsAre(TRowText{"Zuletzt verwendet", "Firefox (test)/Lesezeichen-Menü/",
                                     "place:sort=8&maxResults=10", p + "#bm_query____"},
                            TRowText{"Bahn &amp; Bus", "Firefox (test)/Lesezeichen-Symbolleiste/",
                                     kBase + "/ok", p + "#bm_ok_______"},
                            TRowText{"Hotel", "Firefox (test)/Lesezeichen-Symbolleiste/Reisen/",
                                     kBase + "/gone", p + "#bm_gone_____"},
                            TRowText{kBase + "/untitled", "Firefox (test)/Weitere Lesezeichen/",
                                     kBase + "/untitled", p + "#bm_untitled_"}));

    EXPECT_EQ(Bytes(places), database);
    EXPECT_EQ(Bytes(places.string() + "-wal"), wal);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(places.parent_path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_THAT(left, ElementsAre("places.sqlite", "places.sqlite-wal"));
    // The private copies are gone again.
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("quorvane-places-") &&
                     fs::exists(entry.path() / "places.sqlite") &&
                     Bytes(entry.path() / "places.sqlite") == database)
            << entry.path();
}

TEST_F(BookmarkReadersTest, ChromiumAndHtmlGiveTheirFoldersAsPath) {
    const fs::path json = dir.Write("Bookmarks", bookmarkfixtures::ChromiumBookmarks(kBase));
    const fs::path html = dir.Write("export.html", bookmarkfixtures::HtmlExport(kBase));
    const std::string j = json.string(), h = html.string();
    EXPECT_THAT(Texts(Read("Chromium (Default)", json)),
                ElementsAre(TRowText{"Start", "Chromium (Default)/Lesezeichenleiste/",
                                     kBase + "/ok", j + "#c-start"},
                            TRowText{"Weg", "Chromium (Default)/Lesezeichenleiste/Arbeit/Alt ä/",
                                     kBase + "/gone", j + "#c-gone"},
                            TRowText{kBase + "/other", "Chromium (Default)/Weitere Lesezeichen/",
                                     kBase + "/other", j + "#c-other"}));
    EXPECT_THAT(
        Texts(Read("export.html", html)),
        ElementsAre(
            TRowText{"Café & Bar", "export.html/", kBase + "/ok?a=1&b=2", h + "#1"},
            TRowText{"Weg", "export.html/Reisen & Urlaub/Tief/", kBase + "/gone", h + "#2"},
            TRowText{"\"Zweiter\"", "export.html/Reisen & Urlaub/", kBase + "/second", h + "#3"},
            TRowText{kBase + "/last", "export.html/", kBase + "/last", h + "#4"}));
}

TEST_F(BookmarkReadersTest, DamagedSourcesSayWhyInOneLine) {
    const fs::path places = dir.Path() / "places.sqlite";
    auto firefox = bookmarkfixtures::MakeRunningPlaces(places, kBase);
    const std::string json = bookmarkfixtures::ChromiumBookmarks(kBase);
    const struct {
        const char* name;
        fs::path file;
        const char* reason;
    } cases[] = {
        // Copied without its WAL: the database has none of the tables yet.
        {"places without WAL", dir.Write("nowal/places.sqlite", Bytes(places)),
         "keine Firefox-Lesezeichendatenbank"},
        {"places overwritten",
         dir.Write("bad/places.sqlite",
                   std::string("SQLite format 3\0", 16) + std::string(4000, 'x')),
         "beschädigt"},
        {"JSON cut short", dir.Write("cut/Bookmarks", json.substr(0, json.size() / 2)),
         "beschädigt oder abgeschnitten"},
        {"JSON without roots", dir.Write("other.json", "{\"roots\": 3}"), "„roots“ fehlt"},
        {"no bookmark file", dir.Write("notes.txt", "just some text\n"), "weder"},
        {"empty", dir.Write("empty", ""), "weder"},
        {"missing", dir.Path() / "missing.html", "nicht lesbar"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reason = Failure(c.file);
        EXPECT_THAT(reason, HasSubstr(c.reason));
        EXPECT_EQ(reason.find('\n'), std::string::npos);
    }
}

TEST_F(BookmarkReadersTest, HtmlCutShortKeepsItsRowsAndSaysSo) {
    const std::string html = bookmarkfixtures::HtmlExport(kBase);
    const fs::path cut =
        dir.Write("cut.html", html.substr(0, html.rfind("<DT>", html.find("/second"))));
    TBookmarkRead read = ReadBookmarkSource({"cut.html", cut.string()});
    EXPECT_THAT(read.Note, HasSubstr("abgeschnitten"));
    ASSERT_EQ(read.Rows.size(), 2u);
    EXPECT_EQ(read.Rows[1].Pfad, "cut.html/Reisen & Urlaub/Tief/");
}

TEST_F(BookmarkReadersTest, EverySourceIsReportedAndTheOthersGoOn) {
    TProgramOptions options;
    options.BookmarkFiles = {
        dir.Write("a.html", bookmarkfixtures::HtmlExport(kBase)).string(),
        dir.Write("broken", "{\"roots\": {").string(),
        dir.Write("Bookmarks", bookmarkfixtures::ChromiumBookmarks(kBase)).string()};
    TFavoriteList list;
    std::vector<std::string> lines;
    const std::size_t rows =
        AppendBookmarks(list, options, [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(rows, 7u);
    EXPECT_EQ(list.Count(), 7u);
    const std::string d = dir.Path().string();
    EXPECT_THAT(lines,
                ElementsAre("Lesezeichen gelesen: a.html (" + d + "/a.html): 4 Lesezeichen",
                            "Lesezeichen nicht lesbar: broken (" + d +
                                "/broken): die Datei ist beschädigt oder abgeschnitten (kein "
                                "gültiges JSON)",
                            "Lesezeichen gelesen: Bookmarks (" + d + "/Bookmarks): 3 Lesezeichen"));
}

TEST(BookmarkSourcesTest, FindsTheProfilesOfEveryBrowserInTheHome) {
    testsupport::TempDir home;
    const std::string h = home.Path().string();
    home.Write(".mozilla/firefox/profiles.ini",
               "[Install4F96D1932A9F858E]\nDefault=abc.default-release\n\n"
               "[Profile1]\nName=default-release\r\nIsRelative=1\nPath=abc.default-release\n\n"
               "[Profile0]\nName=elsewhere\nIsRelative=0\nPath=" +
                   h +
                   "/far/away\n\n"
                   "[Profile2]\nName=never-started\nIsRelative=1\nPath=new.profile\n\n"
                   "[General]\nStartWithLastProfile=1\n");
    home.Write(".mozilla/firefox/abc.default-release/places.sqlite", "");
    home.Write("far/away/places.sqlite", "");
    home.Write("snap/firefox/common/.mozilla/firefox/profiles.ini",
               "[Profile0]\nName=snap\nPath=x.snap\n");
    home.Write("snap/firefox/common/.mozilla/firefox/x.snap/places.sqlite", "");
    for (const char* file :
         {".config/chromium/Default/Bookmarks", ".config/chromium/Profile 10/Bookmarks",
          ".config/chromium/Profile 2/Bookmarks", ".config/chromium/System Profile/Bookmarks",
          ".config/BraveSoftware/Brave-Browser/Default/Bookmarks",
          ".var/app/com.google.Chrome/config/google-chrome/Profile 1/Bookmarks"})
        home.Write(file, "{}");
    home.Write(".config/chromium/Profile 3/Preferences", "{}");  // a profile without bookmarks

    std::vector<std::pair<std::string, std::string>> found;
    for (const TBookmarkSource& source : FindBrowserBookmarks(h))
        found.emplace_back(source.Label, source.Path.substr(h.size()));
    using P = std::pair<std::string, std::string>;
    EXPECT_THAT(
        found,
        ElementsAre(
            P{"Firefox (default-release)", "/.mozilla/firefox/abc.default-release/places.sqlite"},
            P{"Firefox (elsewhere)", "/far/away/places.sqlite"},
            P{"Firefox (snap)", "/snap/firefox/common/.mozilla/firefox/x.snap/places.sqlite"},
            P{"Chromium (Default)", "/.config/chromium/Default/Bookmarks"},
            P{"Chromium (Profile 2)", "/.config/chromium/Profile 2/Bookmarks"},
            P{"Chromium (Profile 10)", "/.config/chromium/Profile 10/Bookmarks"},
            P{"Brave (Default)", "/.config/BraveSoftware/Brave-Browser/Default/Bookmarks"},
            P{"Google Chrome (Profile 1)",
              "/.var/app/com.google.Chrome/config/google-chrome/Profile 1/Bookmarks"}));
}

TEST(BookmarkSourcesTest, OptionsChooseTheSources) {
    testsupport::TempDir home;
    home.Write(".config/vivaldi/Default/Bookmarks", "{}");
    const std::string h = home.Path().string();
    struct {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> labels;
    } cases[] = {
        {"nothing given: the browsers", {}, {"Vivaldi (Default)"}},
        {"a folder given: only the folder", {"--favorites", "/f"}, {}},
        {"files given: only them, in their order",
         {"--bookmarks", "/b/one.html", "--bookmarks=two", "--favorites", "/f"},
         {"one.html", "two"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> labels;
        for (const auto& source : BookmarkSourcesFor(ParseOptions(kCheckProgram, c.args), h))
            labels.push_back(source.Label);
        EXPECT_EQ(labels, c.labels);
    }
    EXPECT_EQ(ParseOptions(kWindowProgram, {"--bookmarks", "x"}).BookmarkFiles,
              std::vector<std::string>{"x"});
}

}  // namespace
