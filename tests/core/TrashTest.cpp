#include "app/core/Trash.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "AsNobody.h"
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
            return QByteArray::fromPercentEncoding(QByteArray::fromStdString(line.substr(5)))
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

TEST(FreedesktopTrash, TrashInfoPathEncodesEveryByteButThePlainOnes) {
    const std::pair<std::string, std::string> cases[] = {
        {"/home/u/Favorites/a-b_c.d~e.url", "/home/u/Favorites/a-b_c.d~e.url"},
        {"/f/Die Bahn.url", "/f/Die%20Bahn.url"},
        {"/f/\xC3\xA4rger.url", "/f/%C3%A4rger.url"},          // UTF-8
        {"/f/\xE4rger.url", "/f/%E4rger.url"},                 // Latin-1, not UTF-8
        {"/f/100%&a=b?#.url", "/f/100%25%26a%3Db%3F%23.url"},  // what a URL would read
        {std::string("/f/\n\x01\xFF", 6), "/f/%0A%01%FF"},
    };
    for (const auto& [path, encoded] : cases)
        EXPECT_EQ(TrashInfoPath(path), encoded) << path;
}

// A name copied from an old Windows disk: Latin-1 bytes, not UTF-8. It goes to the trash under
// the same bytes, and its record gives them back, so that restoring brings back the name.
TEST(FreedesktopTrash, TakesANameThatIsNotUtf8AndRecordsItsBytes) {
    testsupport::ScopedHome home;
    const std::string name =
        "\xC4rger mit \xDC"
        "berweisung.url";
    fs::path file = home.Write("Favorites/Alt/" + name, "[InternetShortcut]\nURL=x\n");
    ASSERT_TRUE(TFreedesktopTrash().DeleteURLFile(file.string()));
    EXPECT_FALSE(fs::exists(file));
    fs::path trashDir = home.Home() / ".local/share/Trash";
    EXPECT_EQ(testsupport::ReadFileBytes(trashDir / "files" / name), "[InternetShortcut]\nURL=x\n");
    EXPECT_EQ(RecordedPath(trashDir / "info" / (name + ".trashinfo")), file.string());
    EXPECT_TRUE(
        std::regex_search(testsupport::ReadFileBytes(trashDir / "info" / (name + ".trashinfo")),
                          std::regex(R"(\nDeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\n$)")));

    // What a file manager does to restore it: the recorded path, decoded, is the old name.
    fs::rename(trashDir / "files" / name, RecordedPath(trashDir / "info" / (name + ".trashinfo")));
    EXPECT_EQ(testsupport::ReadFileBytes(file), "[InternetShortcut]\nURL=x\n");
}

TEST(FreedesktopTrash, ASecondFileOfTheSameNameGetsANameOfItsOwn) {
    testsupport::ScopedHome home;
    fs::path first = home.Write("Favorites/a/Seite.url", "1");
    fs::path second = home.Write("Favorites/b/Seite.url", "2");
    fs::path third = home.Write("Favorites/c/Seite", "3");
    fs::path fourth = home.Write("Favorites/d/Seite", "4");
    TFreedesktopTrash trash;
    for (const fs::path& file : {first, second, third, fourth})
        EXPECT_TRUE(trash.DeleteURLFile(file.string())) << file;
    fs::path trashDir = home.Home() / ".local/share/Trash";
    const std::pair<const char*, fs::path> expected[] = {
        {"Seite.url", first}, {"Seite (2).url", second}, {"Seite", third}, {"Seite (2)", fourth}};
    for (const auto& [trashed, original] : expected) {
        SCOPED_TRACE(trashed);
        EXPECT_EQ(RecordedPath(trashDir / "info" / (std::string(trashed) + ".trashinfo")),
                  original.string());
    }
    EXPECT_EQ(testsupport::ReadFileBytes(trashDir / "files/Seite (2).url"), "2");
    EXPECT_EQ(testsupport::ReadFileBytes(trashDir / "files/Seite (2)"), "4");
}

// A file on another file system (a USB stick, a mounted Windows disk) cannot be renamed into
// the home trash; it goes to the trash at the top of its own volume, with a path relative to
// that top. A small tmpfs in a mount namespace of its own stands in for the volume.
TEST(FreedesktopTrash, AFileOnAnotherVolumeGoesToThatVolumesTrash) {
    testsupport::ScopedHome home;
    const fs::path volume = home.Cwd().parent_path() / "stick";
    struct Case {
        const char* name;
        bool sharedTrash;  // the administrator made a sticky .Trash at the top
        std::string trash;
    } cases[] = {
        {"a trash of the user's own", false, ".Trash-" + std::to_string(::getuid())},
        {"the volume's shared trash", true, ".Trash/" + std::to_string(::getuid())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(volume);
        std::string outcome = testsupport::RunInChild([&]() -> std::string {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=1m") != 0)
                return "no mount";
            if (c.sharedTrash) {
                fs::create_directory(volume / ".Trash");
                fs::permissions(volume / ".Trash", fs::perms(01777));
            }
            fs::create_directories(volume / "Favorites");
            std::ofstream(volume / "Favorites/a b.url") << "a";
            if (!TFreedesktopTrash().DeleteURLFile((volume / "Favorites/a b.url").string()))
                return "not deleted";
            const fs::path trash = volume / c.trash;
            std::string record = testsupport::ReadFileBytes(trash / "info/a b.url.trashinfo");
            return testsupport::ReadFileBytes(trash / "files/a b.url") + "|" +
                   record.substr(0, record.find("\nDeletionDate"));
        });
        if (outcome == "no mount")
            GTEST_SKIP() << "this machine allows no mount namespace";
        EXPECT_EQ(outcome, "a|[Trash Info]\nPath=Favorites/a%20b.url");
        EXPECT_TRUE(fs::is_empty(volume)) << "the mount stayed in the child";
        EXPECT_FALSE(fs::exists(home.Home() / ".local/share/Trash/files/a b.url"));
    }
}
