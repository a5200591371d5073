#include "app/core/FavoriteScan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "AsNobody.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "shell/ShellBrowser.h"
#include "shell/SystemIcons.h"
#include "sys/Application.h"

namespace fs = std::filesystem;

namespace {

struct Expected {
    std::string Name, Pfad, URL;
};

enum class Make { File, DanglingLink, SelfLink, Fifo, Unreadable };

struct Case {
    const char* what;
    std::string file;  // below the Favorites folder
    std::string content;
    std::optional<Expected> row;
    Make make = Make::File;
};

const std::string kShortcut = "[InternetShortcut]\r\nURL=http://ignored.example/\r\n";

std::vector<Case> Cases() {
    std::vector<Case> cases = {
        {"top level: empty Pfad, CR LF lines", "Top.url",
         "[DEFAULT]\r\nBASEURL=http://top.example/\r\n" + kShortcut,
         Expected{"Top", "", "http://top.example/"}},
        {"two levels deep, upper-case extension", "Reisen/Bahn/Fahrplan.URL",
         "[DEFAULT]\nBASEURL=http://bahn.example/fahrplan\n",
         Expected{"Fahrplan", "Reisen/Bahn/", "http://bahn.example/fahrplan"}},
        {"mixed-case extension", "Reisen/Mixed.Url", "BASEURL=http://mixed.example/\n",
         Expected{"Mixed", "Reisen/", "http://mixed.example/"}},
        {"a folder named x.url is walked into", "Ordner.url/Inner.url",
         "BASEURL=http://inner.example/\n",
         Expected{"Inner", "Ordner.url/", "http://inner.example/"}},
        {"lower-case key, address keeps its case", "lower.url",
         "baseurl=HTTP://Lower.Example/MiXed\n",
         Expected{"lower", "", "HTTP://Lower.Example/MiXed"}},
        {"blank before the key", "blank.url", " BASEURL=http://blank.example/\n", std::nullopt},
        {"only URL=", "onlyurl.url", kShortcut, std::nullopt},
        {"first of two BASEURL= lines in different sections", "twice.url",
         "[InternetShortcut]\nBASEURL=http://first.example/ \n[DEFAULT]\n"
         "BASEURL=http://second.example/\n",
         Expected{"twice", "", "http://first.example/ "}},
        {"empty address stops the reading", "empty.url",
         "[DEFAULT]\nBASEURL=\nBASEURL=http://later.example/\n", std::nullopt},
        {"hidden file", ".hidden.url", "BASEURL=http://hidden.example/\n",
         Expected{".hidden", "", "http://hidden.example/"}},
        {"only the last extension goes", "a.b.url", "BASEURL=http://ab.example/\n",
         Expected{"a.b", "", "http://ab.example/"}},
        {"last line without line end, lone CR lines", "noend.url",
         "[DEFAULT]\rBASEURL=http://noend.example/",
         Expected{"noend", "", "http://noend.example/"}},
        {"other extensions are not read", "notes.txt", "BASEURL=http://txt.example/\n",
         std::nullopt},
        {"name and address that are not UTF-8 keep their bytes", "caf\xE9.url",
         "BASEURL=http://caf\xE9.example/\xFF\n",
         Expected{"caf\xE9", "", "http://caf\xE9.example/\xFF"}},
        {"a dangling link", "dangling.url", "", std::nullopt, Make::DanglingLink},
        {"a link to itself", "self.url", "", std::nullopt, Make::SelfLink},
        {"a FIFO does not stall the scan", "fifo.url", "", std::nullopt, Make::Fifo},
    };
    if (geteuid() != 0)  // root reads every file, so only others can see this one fail
        cases.push_back({"a file without read permission", "locked.url",
                         "BASEURL=http://locked.example/\n", std::nullopt, Make::Unreadable});
    return cases;
}

void MakeEntry(const fs::path& favorites, const Case& c) {
    fs::path path = favorites / c.file;
    fs::create_directories(path.parent_path());
    switch (c.make) {
        case Make::File:
        case Make::Unreadable: {
            FILE* f = fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr) << path;
            fwrite(c.content.data(), 1, c.content.size(), f);
            fclose(f);
            if (c.make == Make::Unreadable)
                chmod(path.c_str(), 0);
            break;
        }
        case Make::DanglingLink:
            fs::create_symlink("does-not-exist.url", path);
            break;
        case Make::SelfLink:
            fs::create_symlink(path.filename(), path);
            break;
        case Make::Fifo:
            ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            break;
    }
}

class FavoriteScanTest : public ::testing::Test {
  protected:
    testsupport::TempDir home;
    testsupport::ScopedEnv homeEnv{"HOME", home.Path().string()};
    fs::path favorites = home.Path() / "Favorites";
    TFavoriteList list;

    std::string Root() const { return favorites.string() + "/"; }

    void Scan() {
        TShellBrowser browser;
        browser.SetFileSystemOnly(true);
        browser.SetFilter("*");
        TFavoriteScanner scanner(list, &browser);
        scanner.FavoritenEinlesen();
    }

    const TFavoriteRow* Find(const std::string& datei) const {
        for (const auto& row : list.Rows())
            if (row.Datei == datei)
                return &row;
        return nullptr;
    }
};

TEST_F(FavoriteScanTest, ListsEveryShortcutThatNamesAnAddress) {
    const auto cases = Cases();
    for (const auto& c : cases)
        MakeEntry(favorites, c);
    // A link back up to the Favorites folder (a loop) and one to a folder outside it.
    fs::create_symlink("..", favorites / "Reisen" / "zurueck");
    testsupport::TempDir outside;
    outside.Write("ext.url", "BASEURL=http://extern.example/\n");
    fs::create_symlink(outside.Path(), favorites / "Extern");

    Scan();

    std::size_t expectedRows = 1;  // the one behind the link to the outside folder
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TFavoriteRow* row = Find(Root() + c.file);
        EXPECT_EQ(row != nullptr, c.row.has_value());
        if (!row || !c.row)
            continue;
        ++expectedRows;
        EXPECT_EQ(row->Name, c.row->Name);
        EXPECT_EQ(row->Pfad, c.row->Pfad);
        EXPECT_EQ(row->URL, c.row->URL);
        EXPECT_EQ(row->Datum, "???");
    }
    const TFavoriteRow* ext = Find(Root() + "Extern/ext.url");
    ASSERT_NE(ext, nullptr);
    EXPECT_EQ(ext->Pfad, "Extern/");
    // The loop is entered once: no row comes twice under another path.
    EXPECT_EQ(list.Count(), expectedRows);
}

TEST_F(FavoriteScanTest, EveryPathToAFolderIsListedAndLoopsEnd) {
    home.Write("Favorites/Shared/s.url", "BASEURL=http://shared.example/\n");
    fs::create_directory_symlink("Shared", favorites / "Alias");
    fs::create_directory_symlink("..", favorites / "Shared" / "Back");
    // Two folders that link to each other.
    home.Write("Favorites/Ring/A/a.url", "BASEURL=http://a.example/\n");
    home.Write("Favorites/Ring/B/b.url", "BASEURL=http://b.example/\n");
    fs::create_directory_symlink("../B", favorites / "Ring" / "A" / "toB");
    fs::create_directory_symlink("../A", favorites / "Ring" / "B" / "toA");

    Scan();

    std::multiset<std::string> files;
    for (const auto& row : list.Rows())
        files.insert(row.Datei.substr(Root().size()));
    // A link back to a folder on the way down is not entered; every other path is.
    EXPECT_EQ(files,
              (std::multiset<std::string>{"Shared/s.url", "Alias/s.url", "Ring/A/a.url",
                                          "Ring/A/toB/b.url", "Ring/B/b.url", "Ring/B/toA/a.url"}));
    const TFavoriteRow* alias = Find(Root() + "Alias/s.url");
    ASSERT_NE(alias, nullptr);
    EXPECT_EQ(alias->Pfad, "Alias/");
}

TEST_F(FavoriteScanTest, AScanEndedByAHandlerLeavesNoFolderBehindForTheNextOne) {
    home.Write("Favorites/Sub/deep.url", "BASEURL=http://deep.example/\n");
    TShellBrowser browser;
    browser.SetFileSystemOnly(true);
    TFavoriteScanner scanner(list, &browser);
    // The handler throws out of the walk while it stands in the Favorites folder.
    sys::HWND window = sys::AllocateHWnd([](sys::TMessage&) { throw std::runtime_error("x"); });
    sys::PostMessage(window, sys::WM_USER, 0, 0);
    EXPECT_THROW(scanner.FavoritenEinlesen(), std::runtime_error);
    sys::DeallocateHWnd(window);
    list.Clear();
    scanner.FavoritenEinlesen();
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].Datei, Root() + "Sub/deep.url");
}

TEST_F(FavoriteScanTest, RowsComeDepthFirstAndShareTheIconOfShortcutFiles) {
    for (const char* file : {"a.url", "Reisen/r.url", "Reisen/Bahn/b.url", "Reisen/Bahn/c.url",
                             "Reisen/s.url", "z.url"})
        home.Write("Favorites/" + std::string(file), "BASEURL=http://x.example/\n");
    Scan();
    ASSERT_EQ(list.Count(), 6u);
    // Each folder's rows stand together, at its place in the parent's enumeration.
    auto contiguous = [&](const std::string& pfadPrefix) {
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i < list.Count(); ++i)
            if (list[i].Pfad.rfind(pfadPrefix, 0) == 0)
                at.push_back(i);
        return !at.empty() && at.back() - at.front() + 1 == at.size();
    };
    EXPECT_TRUE(contiguous("Reisen/"));
    EXPECT_TRUE(contiguous("Reisen/Bahn/"));
    int icon = shell::FileTypeIconIndex("any.url");
    for (const auto& row : list.Rows())
        EXPECT_EQ(row.ImageIndex, icon) << row.Datei;
}

TEST_F(FavoriteScanTest, WithoutShortcutAtTheTopTheRowsGetTheShortcutFileIcon) {
    home.Write("Favorites/Only/deep.url", "BASEURL=http://deep.example/\n");
    Scan();
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].ImageIndex, shell::FileTypeIconIndex("any.url"));
    EXPECT_GE(list[0].ImageIndex, 0);
}

TEST_F(FavoriteScanTest, EmptyOrMissingFavoritesFolderGivesNoRows) {
    Scan();  // missing
    EXPECT_TRUE(list.Empty());
    fs::create_directories(favorites);
    Scan();  // empty
    EXPECT_TRUE(list.Empty());
    // A file where the folder should be is no Favorites folder either.
    fs::remove(favorites);
    home.Write("Favorites", "BASEURL=http://x.example/\n");
    Scan();
    EXPECT_TRUE(list.Empty());
}

TEST_F(FavoriteScanTest, DoesNotEnterFoldersDeeperThanTheLimit) {
    std::string relative;
    const int levels = TFavoriteScanner::kMaxDepth + 5;
    for (int level = 0; level < levels; ++level) {
        home.Write("Favorites/" + relative + "f.url", "BASEURL=http://deep.example/\n");
        relative += "d/";
    }
    Scan();
    EXPECT_EQ(list.Count(), static_cast<std::size_t>(TFavoriteScanner::kMaxDepth));
}

// Counts the scan's calls of the loop (the paced form) and handles the messages as usual.
class CountingHost : public sys::EpollHost {
  public:
    int calls = 0;
    void ProcessMessagesPaced(sys::Application& app) override {
        ++calls;
        EpollHost::ProcessMessagesPaced(app);
    }
};

TEST_F(FavoriteScanTest, ProcessesPendingMessagesOncePerEntry) {
    // 7 entries: a.url, b.txt, Sub, Sub/c.url, Sub/Deeper, Sub/Deeper/d.url, Sub/Deeper/e.URL
    for (const char* file : {"a.url", "b.txt", "Sub/c.url", "Sub/Deeper/d.url", "Sub/Deeper/e.URL"})
        home.Write("Favorites/" + std::string(file), "BASEURL=http://x.example/\n");
    auto host = std::make_shared<CountingHost>();
    auto& app = sys::Application::Instance();
    app.SetHost(host);
    bool handled = false;
    sys::HWND window = sys::AllocateHWnd([&](sys::TMessage&) { handled = true; });
    sys::PostMessage(window, sys::WM_USER, 0, 0);
    Scan();
    app.SetHost(nullptr);
    sys::DeallocateHWnd(window);
    EXPECT_EQ(host->calls, 7);
    EXPECT_TRUE(handled);
    EXPECT_EQ(list.Count(), 4u);
}

// Serves no messages: a forked child must not touch the loop it shares with its parent.
class NoLoopHost : public sys::IMessageHost {
  public:
    void ProcessMessages(sys::Application&) override {}
    void HandleMessage(sys::Application&) override {}
    void Run(sys::Application&) override {}
};

TEST_F(FavoriteScanTest, WhatTheUserMayNotReadIsLeftOutSilently) {
    fs::permissions(home.Path(), fs::perms::all);
    home.Write("Favorites/open.url", "BASEURL=http://open.example/\n");
    fs::permissions(home.Write("Favorites/locked.url", "BASEURL=http://locked.example/\n"),
                    fs::perms::none);
    home.Write("Favorites/Closed/inner.url", "BASEURL=http://inner.example/\n");
    fs::permissions(favorites / "Closed", fs::perms::none);
    home.Write("Favorites/NoEntry/deep.url", "BASEURL=http://deep.example/\n");
    fs::permissions(favorites / "NoEntry", fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(favorites, fs::perms::all);
    // As a user who is not root, in a child process; the answer is the rows' addresses.
    std::string rows = testsupport::RunAsNobody([&] {
        sys::Application::Instance().SetHost(std::make_shared<NoLoopHost>());
        Scan();
        std::string addresses;
        for (const auto& row : list.Rows())
            addresses += row.URL + " ";
        return addresses;
    });
    EXPECT_EQ(rows, "http://open.example/ ");
}

TEST_F(FavoriteScanTest, ScanWithItsOwnBrowserAppendsAfterExistingRows) {
    home.Write("Favorites/one.url", "BASEURL=http://one.example/\n");
    TFavoriteRow existing;
    existing.Name = "kept";
    list.Append(existing);
    TFavoriteScanner scanner(list);
    scanner.FavoritenEinlesen();
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list[0].Name, "kept");
    EXPECT_EQ(list[1].Datei, Root() + "one.url");
    EXPECT_EQ(scanner.RootPath(), Root());
}

}  // namespace
