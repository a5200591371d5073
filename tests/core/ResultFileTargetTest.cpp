// Where a save of the result file writes when its name is a symbolic link, a FIFO or a device:
// through links to their target, which a save replaces in its own folder, and never over
// anything that is not a plain file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "StoredResults.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"

namespace {

namespace fs = std::filesystem;

TFavoriteList OneCheckedRow() {
    TFavoriteList list;
    TFavoriteRow row;
    row.Datum = "OK";
    row.Datei = "/f/a.url";
    list.Append(row);
    return list;
}

std::string RestoredStatus(const fs::path& file) {
    TFavoriteList list;
    TFavoriteRow row;
    row.Datum = "???";
    row.Datei = "/f/a.url";
    list.Append(row);
    OpenURLs(list, file.string());
    return list[0].Datum;
}

std::string SaveError(const fs::path& file) {
    try {
        SaveURLs(OneCheckedRow(), file.string());
    } catch (const EResultFileError& e) {
        return e.what();
    }
    return "(saved)";
}

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ResultFileTarget : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path links = dir.Path() / "links";  // where the names given to the save live
    fs::path data = dir.Path() / "data";    // where the links point

    void SetUp() override {
        fs::create_directory(links);
        fs::create_directory(data);
    }
};

TEST_F(ResultFileTarget, ASaveThroughALinkWritesItsTargetAndKeepsTheLink) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // in links/: name -> target
        bool targetThere;
    } cases[] = {
        {"absolute link to a file", {{"urls.dat", "DATA/urls.dat"}}, true},
        {"relative link to a file", {{"urls.dat", "../data/urls.dat"}}, true},
        {"chain of links", {{"urls.dat", "second"}, {"second", "DATA/urls.dat"}}, true},
        {"dangling link: the target is made", {{"urls.dat", "../data/urls.dat"}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(links);
        fs::remove_all(data);
        SetUp();
        if (c.targetThere)
            dir.Write("data/urls.dat", "old");
        for (const auto& [name, target] : c.links) {
            std::string to = target;
            if (to.rfind("DATA/", 0) == 0)
                to = (data / to.substr(5)).string();
            fs::create_symlink(to, links / name);
        }
        const fs::path name = links / "urls.dat";
        EXPECT_EQ(SaveError(name), "(saved)");
        EXPECT_TRUE(fs::is_symlink(name));
        for (const auto& [link, target] : c.links)
            EXPECT_TRUE(fs::is_symlink(links / link)) << link;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(data / "urls.dat")));
        EXPECT_EQ(RestoredStatus(name), "OK");
        EXPECT_EQ(Entries(data), std::vector<std::string>{"urls.dat"}) << "no new file left";
        EXPECT_EQ(Entries(links).size(), c.links.size());
    }
}

TEST_F(ResultFileTarget, ALoopOfLinksIsReported) {
    fs::create_symlink("b", links / "a");
    fs::create_symlink("a", links / "b");
    EXPECT_NE(SaveError(links / "a").find("kann nicht gespeichert werden"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(links / "a"));
}

// A FIFO, directly or behind a link: the save refuses it and leaves it, without blocking on
// it; the restore takes nothing from it, also without blocking.
TEST_F(ResultFileTarget, AFifoIsRefusedAndLeftAsItIs) {
    const fs::path fifo = data / "urls.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, links / "urls.dat");
    for (const fs::path& name : {fifo, links / "urls.dat"}) {
        SCOPED_TRACE(name.string());
        EXPECT_EQ(SaveError(name), "Die Ergebnisdatei " + name.string() +
                                       " kann nicht gespeichert werden: Sie ist keine "
                                       "gewöhnliche Datei");
        EXPECT_THROW(RequirePlainResultFile(name.string()), EResultFileError);
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_EQ(RestoredStatus(name), "???");
    }
    EXPECT_EQ(Entries(data), std::vector<std::string>{"urls.fifo"});
    EXPECT_NO_THROW(RequirePlainResultFile((data / "missing.dat").string()));
}

// As root a rename would replace even a device node (once, /dev/null itself).
TEST_F(ResultFileTarget, ACharacterDeviceIsRefusedAndLeftAsItIs) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root makes device nodes, and only root could rename over one";
    const fs::path device = data / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no device node can be made here: " << std::strerror(errno);
    EXPECT_EQ(SaveError(device), "Die Ergebnisdatei " + device.string() +
                                     " kann nicht gespeichert werden: Sie ist keine gewöhnliche "
                                     "Datei");
    EXPECT_TRUE(fs::is_character_file(device));
    EXPECT_EQ(Entries(data), std::vector<std::string>{"null"});
}

}  // namespace
