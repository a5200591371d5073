#include "app/core/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QUrl>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ScopedHome.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

// The original path recorded in a .trashinfo file, percent-decoded.
std::string RecordedPath(const fs::path& info) {
    std::istringstream in(testsupport::ReadFileBytes(info));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "[Trash Info]");
    while (std::getline(in, line)) {
        if (line.rfind("Path=", 0) == 0)
            return QUrl::fromPercentEncoding(QByteArray::fromStdString(line.substr(5)))
                .toStdString();
    }
    return "";
}

unsigned Mode(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(FreedesktopTrash, MakesTheMissingDataHomePrivateAndRecordsTheOriginalPath) {
    testsupport::ScopedHome home;
    fs::path file = home.Write("Favorites/Reisen/Die Bahn.url", "[InternetShortcut]\nURL=x\n");
    TFreedesktopTrash trash;
    ASSERT_TRUE(trash.DeleteURLFile(file.string()));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(Mode(home.Home() / ".local"), 0700u);
    EXPECT_EQ(Mode(home.Home() / ".local/share"), 0700u);
    fs::path trashDir = home.Home() / ".local/share/Trash";
    EXPECT_EQ(testsupport::ReadFileBytes(trashDir / "files/Die Bahn.url"),
              "[InternetShortcut]\nURL=x\n");
    EXPECT_EQ(RecordedPath(trashDir / "info/Die Bahn.url.trashinfo"), file.string());
    EXPECT_TRUE(fs::is_empty(home.Cwd()));
}

TEST(FreedesktopTrash, UsesXdgDataHomeWhenSet) {
    testsupport::ScopedHome home;
    fs::path dataHome = home.Cwd().parent_path() / "xdg/data";
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    fs::path file = home.Write("Favorites/a.url", "a");
    ASSERT_TRUE(TFreedesktopTrash().DeleteURLFile(file.string()));
    EXPECT_TRUE(fs::exists(dataHome / "Trash/files/a.url"));
    EXPECT_EQ(Mode(dataHome), 0700u);
}

TEST(FreedesktopTrash, FailuresLeaveTheFileWhereItWas) {
    {
        SCOPED_TRACE("a file that is already gone");
        testsupport::ScopedHome home;
        EXPECT_FALSE(TFreedesktopTrash().DeleteURLFile((home.Home() / "gone.url").string()));
    }
    {
        // A plain file stands where the data home should be made: the move must not fall
        // back to a trash below the current folder.
        SCOPED_TRACE("a data home that cannot be made");
        testsupport::ScopedHome home;
        home.Write(".local", "not a folder");
        fs::path file = home.Write("Favorites/b.url", "b");
        EXPECT_FALSE(TFreedesktopTrash().DeleteURLFile(file.string()));
        EXPECT_TRUE(fs::exists(file));
        EXPECT_TRUE(fs::is_empty(home.Cwd()));
    }
}

TEST(FreedesktopTrash, LiesInTrashAcceptsOnlyTrashFoldersWithTheirRecord) {
    testsupport::ScopedHome home;
    const unsigned uid = 1234;
    fs::path data = home.Home() / ".local/share";
    fs::path stick = home.Cwd().parent_path() / "stick";
    struct Case {
        fs::path trashed;
        bool withRecord;
        bool inTrash;
    } cases[] = {
        {data / "Trash/files/a.url", true, true},
        {data / "Trash/files/b.url", false, false},  // no .trashinfo: not restorable
        {home.Cwd() / "files/a.url", true, false},   // what a missing data home gives
        {stick / ".Trash-1234/files/a.url", true, true},
        {stick / ".Trash/1234/files/a.url", true, true},
        {stick / ".Trash/999/files/a.url", true, false},
        {stick / ".Trash-999/files/a.url", true, false},
        {data / "Trash/info/a.url", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trashed.string());
        fs::path info = c.trashed.parent_path().parent_path() / "info" /
                        (c.trashed.filename().string() + ".trashinfo");
        fs::create_directories(info.parent_path());
        if (c.withRecord)
            std::ofstream(info) << "[Trash Info]\n";
        EXPECT_EQ(LiesInTrash(c.trashed.string(), data.string(), uid), c.inTrash);
    }
}
