#include "shell/ShellBrowser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "AsNobody.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "shell/SystemIcons.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> AllNames(TShellBrowser& browser) {
    std::vector<std::string> names;
    while (browser.Next())
        names.push_back(browser.ObjectName());
    return names;
}

std::set<std::string> NameSet(TShellBrowser& browser) {
    auto names = AllNames(browser);
    return {names.begin(), names.end()};
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EShellBrowserError& e) {
        return e.what();
    }
    return "(no error)";
}

class ShellBrowserTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string Root() const { return dir.Path().string() + "/"; }
};

TEST_F(ShellBrowserTest, NewBrowserStartsInTheDrivesFolder) {
    TShellBrowser browser;
    EXPECT_EQ(browser.Folder(), "");
    EXPECT_FALSE(browser.IsFolder());  // no current object yet
    EXPECT_EQ(browser.ObjectName(), "");
    EXPECT_EQ(AllNames(browser), std::vector<std::string>{"/"});
    EXPECT_EQ(browser.Version(), "TShellBrowser V2.3");
    browser.SetVersion("other");
    EXPECT_EQ(browser.Version(), "TShellBrowser V2.3");
    // Writing the empty text selects the drives folder each time.
    browser.SetFolder(Root());
    browser.SetFolder("");
    EXPECT_EQ(browser.Folder(), "");
    browser.SetFolder("");
    EXPECT_EQ(AllNames(browser), std::vector<std::string>{"/"});
}

TEST_F(ShellBrowserTest, FilterLetsFoldersAndMatchingFilesThrough) {
    for (const char* file : {"News.URL", "readme.txt", ".hidden.url", "Docs/inner.txt"})
        dir.Write(file, "x");
    TShellBrowser browser;
    browser.SetFolder(Root());
    EXPECT_EQ(browser.Folder(), Root());
    EXPECT_EQ(NameSet(browser),
              (std::set<std::string>{"News.URL", "readme.txt", ".hidden.url", "Docs"}));
    browser.SetFilter("*.url");
    EXPECT_EQ(NameSet(browser), (std::set<std::string>{"News.URL", ".hidden.url", "Docs"}));
    // The blank after the semicolon belongs to the second pattern, which then matches nothing.
    browser.SetFilter("*.url; *.txt");
    EXPECT_EQ(NameSet(browser), (std::set<std::string>{"News.URL", ".hidden.url", "Docs"}));
    browser.SetFilter("");
    EXPECT_EQ(browser.Filter(), "*");
    browser.SetFileSystemOnly(true);
    EXPECT_EQ(NameSet(browser).size(), 4u);
}

TEST_F(ShellBrowserTest, NextStartsOverAfterTheEnd) {
    for (const char* file : {"a", "b", "c"})
        dir.Write(file, "x");
    TShellBrowser browser;
    browser.SetFolder(Root());
    auto first = AllNames(browser);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_TRUE(browser.Next());
    EXPECT_EQ(browser.ObjectName(), first[0]);
    // Writing the same folder again does nothing: the enumeration goes on.
    browser.SetFolder(Root());
    ASSERT_TRUE(browser.Next());
    EXPECT_EQ(browser.ObjectName(), first[1]);
}

TEST_F(ShellBrowserTest, ObjectNamesOfRootFileAndVirtualFolder) {
    dir.Write("Sub/file.url", "x");
    TShellBrowser browser;
    // The root is named by its whole path; its folder is then the drives folder.
    browser.SetObjectName("/");
    EXPECT_EQ(browser.Folder(), "");
    EXPECT_EQ(browser.ObjectName(), "/");
    EXPECT_TRUE(browser.IsFolder());
    // A file by its path: the folder is its directory, the name its last part.
    browser.SetObjectName(Root() + "Sub/file.url");
    EXPECT_EQ(browser.Folder(), Root() + "Sub/");
    EXPECT_EQ(browser.ObjectName(), "file.url");
    EXPECT_EQ(browser.DisplayName(), "file.url");
    EXPECT_FALSE(browser.IsFolder());
    // A folder path with a trailing slash names the folder as an object of its parent.
    browser.SetObjectName(Root() + "Sub/");
    EXPECT_EQ(browser.Folder(), Root());
    EXPECT_EQ(browser.ObjectName(), "Sub");
    EXPECT_TRUE(browser.IsFolder());
    // The desktop holds the virtual Computer folder: a display name, but no file name.
    ASSERT_TRUE(browser.SelectSpecialFolder(3));
    EXPECT_EQ(browser.Folder(), "");
    ASSERT_TRUE(browser.Next());
    EXPECT_EQ(browser.ObjectName(), "");
    EXPECT_EQ(browser.DisplayName(), "Computer");
    EXPECT_TRUE(browser.IsFolder());
    EXPECT_FALSE(browser.Next());
}

TEST_F(ShellBrowserTest, WritingObjectNameFindsTheObjectOrSaysWhereItLooked) {
    dir.Write("found.url", "x");
    TShellBrowser browser;
    browser.SetFolder(Root());
    browser.SetObjectName("found.url");
    EXPECT_EQ(browser.ObjectName(), "found.url");
    EXPECT_EQ(ErrorOf([&] { browser.SetObjectName("missing.url"); }),
              "Error! Cannot find Object \"missing.url\" in Folder \"" + Root() + "\"");
    // Names without a file-system path are found by their display name.
    ASSERT_TRUE(browser.SelectSpecialFolder(3));
    browser.SetObjectName("Computer");
    EXPECT_EQ(browser.DisplayName(), "Computer");
    browser.SetObjectName("");
    EXPECT_EQ(browser.ObjectIDList(), nullptr);
}

TEST_F(ShellBrowserTest, FolderNamesKeepTheirLetterCase) {
    fs::create_directories(dir.Path() / "Abc");
    dir.Write("abc/lower.url", "x");
    TShellBrowser browser;
    browser.SetFolder(Root() + "Abc");
    EXPECT_EQ(browser.Folder(), Root() + "Abc/");
    // On this file system another letter case is another folder.
    browser.SetFolder(Root() + "abc/");
    EXPECT_EQ(browser.Folder(), Root() + "abc/");
    EXPECT_EQ(AllNames(browser), std::vector<std::string>{"lower.url"});
    EXPECT_EQ(ErrorOf([&] { browser.SetFolder(Root() + "ABC/"); }),
              "Cannot Find Folder: " + Root() + "ABC/");
    EXPECT_EQ(browser.Folder(), Root() + "abc/");
}

TEST_F(ShellBrowserTest, AFolderThatCannotBeBoundLeavesTheBrowserWhereItWas) {
    dir.Write("plain.txt", "x");
    dir.Write("Sub/kept.url", "x");
    TShellBrowser browser;
    browser.SetFolder(Root() + "Sub/");
    EXPECT_EQ(ErrorOf([&] { browser.SetFolder(Root() + "plain.txt"); }),
              "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder");
    EXPECT_EQ(browser.Folder(), Root() + "Sub/");
    EXPECT_EQ(AllNames(browser), std::vector<std::string>{"kept.url"});
}

TEST_F(ShellBrowserTest, SelectSpecialFolderFindsTheFavorites) {
    testsupport::ScopedEnv home("HOME", dir.Path().string());
    TShellBrowser browser;
    EXPECT_FALSE(browser.SelectSpecialFolder(17));  // not there yet: nothing changes
    EXPECT_EQ(browser.Folder(), "");
    fs::create_directories(dir.Path() / "Favorites");
    ASSERT_TRUE(browser.SelectSpecialFolder(17));
    EXPECT_EQ(browser.Folder(), Root() + "Favorites/");
    for (int kind : {-1, 27, 2, 8})  // out of range, control panel, network: none here
        EXPECT_FALSE(browser.SelectSpecialFolder(kind)) << kind;
    EXPECT_EQ(browser.Folder(), Root() + "Favorites/");
}

TEST_F(ShellBrowserTest, IdListsAreOwnedAndFreed) {
    dir.Write("a.url", "x");
    ASSERT_TRUE(shell::ShellStartup());  // the shared desktop folder keeps its own list
    long before = shell::ShellMalloc().Outstanding();
    {
        TShellBrowser browser;
        browser.SetFolder(Root());
        while (browser.Next())
            browser.SmallIconIndex();
        browser.SetObjectName("/");
        EXPECT_EQ(shell::IDListSize(browser.AbsoluteObjectIDList()),
                  shell::IDListSize(browser.FolderIDList()) +
                      shell::IDListSize(browser.ObjectIDList()) - 2);
    }
    EXPECT_EQ(shell::ShellMalloc().Outstanding(), before);
}

TEST_F(ShellBrowserTest, SmallIconIndexesAgreeByTypeAndStay) {
    for (const char* file : {"a.url", "b.URL", "c.txt"})
        dir.Write(file, "x");
    fs::create_directories(dir.Path() / "Folder");
    TShellBrowser browser;
    browser.SetFolder(Root());
    auto indexOf = [&](const std::string& name) {
        browser.SetObjectName(name);
        return browser.SmallIconIndex();
    };
    int url = indexOf("a.url");
    EXPECT_EQ(indexOf("b.URL"), url);
    EXPECT_EQ(shell::FileTypeIconIndex("other.url"), url);
    EXPECT_NE(indexOf("c.txt"), url);
    EXPECT_NE(indexOf("Folder"), url);
    EXPECT_EQ(indexOf("Folder"), indexOf("Folder"));
    EXPECT_EQ(indexOf("a.url"), url);
    // Without a current object the folder's own icon is given.
    browser.SetObjectName("");
    EXPECT_EQ(browser.SmallIconIndex(), indexOf("Folder"));
}

}  // namespace

namespace {

using namespace shell;

TEST_F(ShellBrowserTest, AttributesSayWhatEachEntryIs) {
    dir.Write("plain.url", "x");
    chmod(dir.Write("readonly.url", "x").c_str(), 0444);
    dir.Write(".hidden.url", "x");
    fs::create_directories(dir.Path() / "Folder");
    fs::create_directory_symlink("Folder", dir.Path() / "FolderLink");
    fs::create_symlink("missing.url", dir.Path() / "dangling.url");
    constexpr std::uint32_t kFolder = SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASSUBFOLDER;
    constexpr std::uint32_t kAll =
        SFGAO_LINK | SFGAO_READONLY | SFGAO_HIDDEN | kFolder | SFGAO_FILESYSTEM;
    struct Case {
        std::string name;
        std::uint32_t attributes;
    } cases[] = {
        {"plain.url", SFGAO_FILESYSTEM},
        {"readonly.url", SFGAO_FILESYSTEM | SFGAO_READONLY},
        {".hidden.url", SFGAO_FILESYSTEM | SFGAO_HIDDEN},
        {"Folder", SFGAO_FILESYSTEM | kFolder},
        {"FolderLink", SFGAO_FILESYSTEM | SFGAO_LINK | kFolder},
        {"dangling.url", SFGAO_FILESYSTEM | SFGAO_LINK},
    };
    TShellBrowser browser;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        browser.SetFolder(Root());
        browser.SetObjectName(c.name);
        EXPECT_EQ(browser.GetAttributes(kAll), c.attributes);
        // Only the bits asked for come back.
        EXPECT_EQ(browser.GetAttributes(SFGAO_FOLDER | SFGAO_HIDDEN),
                  c.attributes & (SFGAO_FOLDER | SFGAO_HIDDEN));
        EXPECT_EQ(browser.IsFolder(), (c.attributes & SFGAO_FOLDER) != 0);
    }
    // The root and the virtual Computer folder; no object at all.
    browser.SetObjectName("/");
    EXPECT_EQ(browser.GetAttributes(kAll), SFGAO_FILESYSTEM | kFolder);
    ASSERT_TRUE(browser.SelectSpecialFolder(3));
    ASSERT_TRUE(browser.Next());
    EXPECT_EQ(browser.GetAttributes(kAll), kFolder);
    browser.SetObjectName("");
    EXPECT_EQ(browser.GetAttributes(kAll), 0u);
}

// Runs as a user who is not root: a folder without read permission lists nothing, a folder
// that may not be entered hides what is below it.
TEST_F(ShellBrowserTest, FoldersTheUserMayNotReadOrEnter) {
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    dir.Write("closed/inner.url", "x");
    dir.Write("locked/sub/deep.url", "x");
    fs::permissions(dir.Path() / "closed", fs::perms::others_exec | fs::perms::owner_exec);
    fs::permissions(dir.Path() / "locked", fs::perms::others_read | fs::perms::owner_read);
    const std::string root = Root();
    std::string seen = testsupport::RunAsNobody([&] {
        std::string what;
        TShellBrowser browser;
        browser.SetFolder(root + "closed/");
        what += browser.Next() ? "closed lists " + browser.ObjectName() : "closed lists nothing";
        // Known by name, an entry of a folder that cannot be listed is still found.
        browser.SetObjectName("inner.url");
        what += "; found " + browser.ObjectName();
        what += "; " + ErrorOf([&] { browser.SetFolder(root + "locked/sub/"); });
        // The names of a folder that may not be entered can still be listed.
        browser.SetFolder(root + "locked/");
        what +=
            browser.Next() ? "; locked lists " + browser.ObjectName() : "; locked lists nothing";
        return what;
    });
    EXPECT_EQ(seen, "closed lists nothing; found inner.url; Cannot Find Folder: " + root +
                        "locked/sub/; locked lists sub");
}

TEST_F(ShellBrowserTest, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string folder = "Reisen\xE4";
    dir.Write(folder + "/caf\xE9.url", "x");
    dir.Write(folder + "/na\xEFve.txt", "x");
    TShellBrowser browser;
    browser.SetFolder(Root() + folder);
    EXPECT_EQ(browser.Folder(), Root() + folder + "/");
    EXPECT_EQ(NameSet(browser), (std::set<std::string>{"caf\xE9.url", "na\xEFve.txt"}));
    struct Case {
        const char* filter;
        std::set<std::string> names;
    } cases[] = {
        {"*.URL", {"caf\xE9.url"}},
        {"CAF\xE9.url", {"caf\xE9.url"}},  // a-z fold
        {"caf\xC9.url", {}},               // other bytes do not
        {"caf?.url;*\xEF*", {"caf\xE9.url", "na\xEFve.txt"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        browser.SetFilter(c.filter);
        EXPECT_EQ(NameSet(browser), c.names);
    }
    browser.SetFilter("*");
    browser.SetObjectName(Root() + folder + "/caf\xE9.url");
    EXPECT_EQ(browser.ObjectName(), "caf\xE9.url");
    EXPECT_EQ(browser.DisplayName(), "caf\xE9.url");
    EXPECT_EQ(browser.SmallIconIndex(), shell::FileTypeIconIndex("other.url"));
}

}  // namespace
