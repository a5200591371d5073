#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "TempDir.h"
#include "shell/ShellBrowser.h"

namespace fs = std::filesystem;

namespace {

constexpr int kDocumentsKind = 9;
const std::string kRefused = "(refused)";

// The user's folders live below one temporary folder: home, config, data and cache.
class UserFoldersTest : public ::testing::Test {
  protected:
    testsupport::TempDir base;
    std::string home = base.Path().string() + "/home";
    testsupport::ScopedEnv homeEnv{"HOME", home};
    testsupport::ScopedEnv configEnv{"XDG_CONFIG_HOME", base.Path().string() + "/config"};
    testsupport::ScopedEnv dataEnv{"XDG_DATA_HOME", base.Path().string() + "/data"};
    testsupport::ScopedEnv cacheEnv{"XDG_CACHE_HOME", base.Path().string() + "/cache"};

    void SetUp() override { fs::create_directory(home); }

    // The folder the browser selects for a kind, or kRefused.
    static std::string FolderOf(int kind) {
        TShellBrowser browser;
        return browser.SelectSpecialFolder(kind) ? browser.Folder() : kRefused;
    }
    void MakeFolder(const std::string& relativeToBase) {
        fs::create_directories(base.Path() / relativeToBase);
    }
};

struct UserDirsCase {
    const char* what;
    std::optional<std::string> file;   // user-dirs.dirs; "@" stands for the base folder
    std::vector<std::string> folders;  // made below the base folder
    std::string expected;              // below the base folder, or kRefused
};

TEST_F(UserFoldersTest, TheUserDirsFileNamesTheDocumentsFolder) {
    const std::vector<UserDirsCase> cases = {
        {"a folder below $HOME",
         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         {"home/Dokumente"},
         "home/Dokumente/"},
        {"an absolute folder", "XDG_DOCUMENTS_DIR=\"@/elsewhere\"\n", {"elsewhere"}, "elsewhere/"},
        {"quotes, a backslash and a dollar escaped as the shell wants them",
         "XDG_DOCUMENTS_DIR=\"$HOME/Meine \\\"Akten\\\" \\\\ \\$5\"\n",
         {"home/Meine \"Akten\" \\ $5"},
         "home/Meine \"Akten\" \\ $5/"},
        {"comments, blanks, other keys and CR LF line ends",
         "# written by xdg-user-dirs-update\r\n  XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\r\n"
         "\tXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\r\n",
         {"home/Schreibtisch", "home/Dokumente"},
         "home/Dokumente/"},
        {"the last of two lines counts",
         "XDG_DOCUMENTS_DIR=\"$HOME/Alt\"\nXDG_DOCUMENTS_DIR=\"$HOME/Neu\"\n",
         {"home/Alt", "home/Neu"},
         "home/Neu/"},
        {"$HOME alone is the home folder", "XDG_DOCUMENTS_DIR=\"$HOME\"\n", {}, "home/"},
        {"a name that is not UTF-8",
         "XDG_DOCUMENTS_DIR=\"$HOME/Dok\xFCmente\"\n",
         {"home/Dok\xFCmente"},
         "home/Dok\xFCmente/"},
        {"no file: the default name", std::nullopt, {"home/Documents"}, "home/Documents/"},
        {"no file and no default folder", std::nullopt, {}, kRefused},
        {"a named folder that is missing is not replaced by the default",
         "XDG_DOCUMENTS_DIR=\"$HOME/Fehlt\"\n",
         {"home/Documents"},
         kRefused},
        {"a relative path is passed over",
         "XDG_DOCUMENTS_DIR=\"Dokumente\"\n",
         {"home/Documents", "home/Dokumente"},
         "home/Documents/"},
        {"$HOME at the start of a longer name is passed over",
         "XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n",
         {"home/Documents", "homeWORK/x"},
         "home/Documents/"},
        {"an escaped $HOME is no home",
         "XDG_DOCUMENTS_DIR=\"\\$HOME/x\"\n",
         {"home/Documents", "home/x"},
         "home/Documents/"},
        {"a line without its closing quote is passed over",
         "XDG_DOCUMENTS_DIR=\"$HOME/x\n",
         {"home/Documents", "home/x"},
         "home/Documents/"},
    };
    const std::string root = base.Path().string() + "/";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home);
        fs::remove_all(base.Path() / "config");
        fs::create_directory(home);
        for (const auto& folder : c.folders)
            MakeFolder(folder);
        if (c.file) {
            std::string text = *c.file;
            for (auto at = text.find('@'); at != std::string::npos; at = text.find('@'))
                text.replace(at, 1, base.Path().string());
            base.Write("config/user-dirs.dirs", text);
        }
        EXPECT_EQ(FolderOf(kDocumentsKind), c.expected == kRefused ? kRefused : root + c.expected);
    }
}

TEST_F(UserFoldersTest, AConfigHomeThatIsNotAbsoluteIsPassedOver) {
    testsupport::ScopedEnv relative{"XDG_CONFIG_HOME", "config"};
    base.Write("home/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Akten\"\n");
    MakeFolder("home/Akten");
    EXPECT_EQ(FolderOf(kDocumentsKind), home + "/Akten/");
}

TEST_F(UserFoldersTest, EachKindHasItsFolderOnceItExists) {
    struct Case {
        int kind;
        std::string folder;  // below the base folder
    } cases[] = {
        {17, "home/Favorites"},
        {4, "home/Desktop"},
        {16, "home/Templates"},
        {21, "config"},
        {15, "config/autostart"},
        {1, "data/Trash/files"},
        {11, "data/applications"},
        {6, "data/fonts"},
        {24, "cache"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(FolderOf(c.kind), kRefused);
        MakeFolder(c.folder);
        EXPECT_EQ(FolderOf(c.kind), base.Path().string() + "/" + c.folder + "/");
    }
    // Kinds this system has no folder for.
    for (int kind : {2, 8, 10, 12, 13, 22, 25, 26}) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(FolderOf(kind), kRefused);
    }
}

}  // namespace
