#include "app/core/FavoriteScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
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

const std::string kShortcut = "[InternetShortcut]\r\nURL=http://top.example/\r\n";

std::vector<Case> Cases() {
    std::vector<Case> cases = {
        {"top level: empty Pfad, CR LF lines, URL= over BASEURL=", "Top.url",
         "[DEFAULT]\r\nBASEURL=http://old.example/\r\n" + kShortcut,
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
        {"blank before the key", "blank.url", " BASEURL=http://blank.example/\n",
         Expected{"blank", "", "http://blank.example/"}},
        {"only URL=", "onlyurl.url", kShortcut, Expected{"onlyurl", "", "http://top.example/"}},
        {"first of two BASEURL= lines in different sections", "twice.url",
         "[InternetShortcut]\nBASEURL=http://first.example/ \n[DEFAULT]\n"
         "BASEURL=http://second.example/\n",
         Expected{"twice", "", "http://first.example/"}},
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
        {"a desktop link", "Reisen/Bahn.desktop",
         "[Desktop Entry]\nType=Link\nURL=http://bahn.example/\n",
         Expected{"Bahn", "Reisen/", "http://bahn.example/"}},
        {"a desktop application", "app.desktop",
         "[Desktop Entry]\nType=Application\nExec=app\nURL=http://app.example/\n", std::nullopt},
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

TEST_F(FavoriteScanTest, RowsComeInNameOrderFilesFirstAndShareTheIconOfShortcutFiles) {
    // Made in an order unlike the one wanted, so that the file system's order does not help.
    for (const char* file :
         {"Seite 10.url", "Reisen/Bahn/b.url", "z.url", "Reisen/s.url", "seite 2.url", "B.url",
          "Reisen/Bahn/A.url", "a.desktop", "Reisen/r.url", "Seite 9.url", "Archiv/x.url"})
        home.Write("Favorites/" + std::string(file),
                   std::string(file).ends_with(".desktop")
                       ? "[Desktop Entry]\nType=Link\nURL=http://x.example/\n"
                       : "BASEURL=http://x.example/\n");
    Scan();
    std::vector<std::string> files;
    for (const auto& row : list.Rows())
        files.push_back(row.Datei.substr(Root().size()));
    // Letter case aside, numbers as numbers; a folder's files before its subfolders' rows.
    EXPECT_EQ(files,
              (std::vector<std::string>{"a.desktop", "B.url", "seite 2.url", "Seite 9.url",
                                        "Seite 10.url", "z.url", "Archiv/x.url", "Reisen/r.url",
                                        "Reisen/s.url", "Reisen/Bahn/A.url", "Reisen/Bahn/b.url"}));
    int icon = shell::FileTypeIconIndex("any.url");
    for (const auto& row : list.Rows())
        EXPECT_EQ(row.ImageIndex, icon) << row.Datei;
}

TEST_F(FavoriteScanTest, ShortcutFilesWithoutAddressAreNamedNotListed) {
    home.Write("Favorites/good.url", kShortcut);
    home.Write("Favorites/Sub/empty.url", "[InternetShortcut]\nURL=\n");
    home.Write("Favorites/none.URL", "[InternetShortcut]\nIconIndex=0\n");
    home.Write("Favorites/app.desktop", "[Desktop Entry]\nType=Application\nExec=app\n");
    home.Write("Favorites/note.txt", "nothing");
    TFavoriteScanner scanner(list);
    scanner.FavoritenEinlesen();
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(scanner.NoAddressFiles(),
              (std::vector<std::string>{Root() + "none.URL", Root() + "Sub/empty.url"}));
    // The next scan reports only what it found itself.
    fs::remove(favorites / "none.URL");
    scanner.FavoritenEinlesen();
    EXPECT_EQ(scanner.NoAddressFiles(), std::vector<std::string>{Root() + "Sub/empty.url"});
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

// Folders made one inside the other relative to each other, so that their path may be longer
// than the system takes in one call; removed the same way.
class DeepFolders {
  public:
    DeepFolders(const fs::path& top, int levels, std::size_t nameLength) : top_(top) {
        for (int level = 0; level < levels; ++level)
            names_.push_back(std::string(nameLength, static_cast<char>('a' + level % 26)));
        int at = Open(names_.size(), true);
        close(at);
    }
    ~DeepFolders() { RemoveBelow(open(top_.c_str(), O_DIRECTORY | O_CLOEXEC), 0); }
    DeepFolders(const DeepFolders&) = delete;
    DeepFolders& operator=(const DeepFolders&) = delete;

    std::string Path() const {
        std::string path = top_.string();
        for (const auto& name : names_)
            path += "/" + name;
        return path;
    }
    void Write(const std::string& file, const std::string& bytes) const {
        int at = Open(names_.size(), false);
        int fd = openat(at, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        close(at);
    }

  private:
    int Open(std::size_t levels, bool make) const {
        int at = open(top_.c_str(), O_DIRECTORY | O_CLOEXEC);
        for (std::size_t level = 0; level < levels; ++level) {
            if (make)
                mkdirat(at, names_[level].c_str(), 0755);
            int next = openat(at, names_[level].c_str(), O_DIRECTORY | O_CLOEXEC);
            close(at);
            at = next;
        }
        return at;
    }
    void RemoveBelow(int at, std::size_t level) const {
        if (level < names_.size()) {
            RemoveBelow(openat(at, names_[level].c_str(), O_DIRECTORY | O_CLOEXEC), level + 1);
            unlinkat(at, names_[level].c_str(), AT_REMOVEDIR);
        } else if (DIR* dir = fdopendir(dup(at))) {
            while (dirent* entry = readdir(dir))
                unlinkat(at, entry->d_name, 0);
            closedir(dir);
        }
        close(at);
    }

    fs::path top_;
    std::vector<std::string> names_;
};

TEST_F(FavoriteScanTest, AShortcutDeeperThanTheLongestPathIsListed) {
    fs::create_directories(favorites);
    DeepFolders deep(favorites, 80, 60);
    ASSERT_GT(deep.Path().size(), static_cast<std::size_t>(PATH_MAX));
    deep.Write("Tief.url", kShortcut);
    Scan();
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].Datei, deep.Path() + "/Tief.url");
    EXPECT_EQ(list[0].Name, "Tief");
    EXPECT_EQ(list[0].URL, "http://top.example/");
    EXPECT_EQ(list[0].Pfad, deep.Path().substr(Root().size()) + "/");
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

TEST_F(FavoriteScanTest, LinksToSystemFoldersAndMeshesOfLinksKeepTheWalkSmall) {
    // Folder k holds one shortcut and two links to folder k + 1: 2^k paths lead to it.
    testsupport::TempDir outside;
    constexpr int kLevels = 12;
    for (int k = 1; k <= kLevels; ++k) {
        fs::path level = outside.Path() / std::to_string(k);
        outside.Write(std::to_string(k) + "/s" + std::to_string(k) + ".url", kShortcut);
        if (k < kLevels)
            for (const char* link : {"x", "y"})
                fs::create_directory_symlink("../" + std::to_string(k + 1), level / link);
    }
    fs::create_directories(favorites);
    fs::create_directory_symlink(outside.Path() / "1", favorites / "Mesh");
    fs::create_directory_symlink("/sys", favorites / "sys");
    fs::create_directory_symlink("/proc", favorites / "proc");
    auto host = std::make_shared<CountingHost>();
    sys::Application::Instance().SetHost(host);
    TFavoriteScanner scanner(list);
    scanner.FavoritenEinlesen();
    sys::Application::Instance().SetHost(nullptr);
    // Folder 1 is walked once, folder 2 twice, every deeper one kMaxWalksPerFolder times.
    const int walks = TFavoriteScanner::kMaxWalksPerFolder;
    EXPECT_EQ(list.Count(), static_cast<std::size_t>(1 + 2 + walks * (kLevels - 2)));
    // The entries looked at: Mesh, proc and sys; three in each walk of folders 1 to 11; one
    // in each walk of folder 12. Nothing below /proc or /sys.
    EXPECT_EQ(host->calls, 3 + 3 * (1 + 2 + walks * (kLevels - 3)) + walks);
    EXPECT_TRUE(scanner.FoldersLimited());
    EXPECT_TRUE(scanner.SystemFoldersSkipped());
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
