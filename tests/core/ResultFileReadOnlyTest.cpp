// The result file of a program whose folder takes no writes (an installed program, a shared
// folder): where it lives, how it is written over in place, and that every failure is told.
// The code runs as nobody in a child process, since root may write anywhere.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AsNobody.h"
#include "TempDir.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"

namespace {

namespace fs = std::filesystem;
using testsupport::GiveToNobody;
using testsupport::RunAsNobody;

TFavoriteList Rows(int count, const std::string& status) {
    TFavoriteList list;
    for (int i = 0; i < count; ++i) {
        TFavoriteRow row;
        row.Datum = status;
        row.Datei = "/fav/row" + std::to_string(i) + ".url";
        list.Append(row);
    }
    return list;
}

// What a save of the list writes, made where anyone may write.
std::string SavedBytes(const TFavoriteList& list) {
    testsupport::TempDir scratch;
    SaveURLs(list, (scratch.Path() / ResultFileName).string());
    return testsupport::ReadFileBytes(scratch.Path() / ResultFileName);
}

std::string SaveAsNobody(const TFavoriteList& list, const fs::path& file) {
    return RunAsNobody([&]() -> std::string {
        try {
            SaveURLs(list, file.string());
            return "saved";
        } catch (const EResultFileError& e) {
            return e.what();
        }
    });
}

std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// A program folder that belongs to root (read-only for nobody) and a home of nobody's.
class ReadOnlyProgramFolder : public testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path bin = dir.Path() / "bin";
    fs::path home = dir.Path() / "home";
    fs::path beside = bin / ResultFileName;

    void SetUp() override {
        fs::permissions(dir.Path(), fs::perms(0755));
        fs::create_directories(bin);
        fs::create_directories(home);
        fs::permissions(bin, fs::perms(0755));
        GiveToNobody(home);
    }

    // An old result file beside the program that nobody may write to.
    void WritableOldFile(const std::string& bytes) {
        dir.Write("bin/urls.dat", bytes);
        GiveToNobody(beside);
    }

    std::string LocationAsNobody(const char* dataHome) {
        return RunAsNobody([&] {
            ::setenv("HOME", home.c_str(), 1);
            if (dataHome)
                ::setenv("XDG_DATA_HOME", dataHome, 1);
            else
                ::unsetenv("XDG_DATA_HOME");
            return ResultFilePath(bin.string() + "/");
        });
    }
};

}  // namespace

TEST_F(ReadOnlyProgramFolder, TheResultFileStaysBesideTheProgramWhileItCanBeWrittenThere) {
    const std::string xdg = (dir.Path() / "xdg").string();
    const std::string defaultData = (home / ".local/share/quorvane" / ResultFileName).string();
    struct Case {
        const char* name;
        bool folderOfNobody;
        const char* fileMode;  // "nobody": nobody's file; "root": root's file; none
        const char* dataHome;
        std::string expected;
    } cases[] = {
        {"a writable program folder", true, nullptr, nullptr, beside.string()},
        {"a read-only folder with a writable urls.dat", false, "nobody", nullptr, beside.string()},
        {"a read-only folder with a read-only urls.dat", false, "root", nullptr, defaultData},
        {"a read-only folder without urls.dat", false, nullptr, nullptr, defaultData},
        {"XDG_DATA_HOME names the data folder", false, nullptr, xdg.c_str(),
         xdg + "/quorvane/" + ResultFileName},
        {"a relative XDG_DATA_HOME counts as unset", false, nullptr, "rel/data", defaultData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(beside);
        fs::remove_all(home / ".local");
        ::chown(bin.c_str(), c.folderOfNobody ? testsupport::kNobody : 0,
                c.folderOfNobody ? testsupport::kNobody : 0);
        if (c.fileMode) {
            dir.Write("bin/urls.dat", "");
            if (std::string(c.fileMode) == "nobody")
                GiveToNobody(beside);
        }
        EXPECT_EQ(LocationAsNobody(c.dataHome), c.expected);
        if (c.expected == defaultData) {
            struct stat st {};
            EXPECT_EQ(::stat((home / ".local/share/quorvane").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << "the data folder is the user's alone";
            EXPECT_EQ(st.st_uid, testsupport::kNobody);
        }
    }
}

TEST_F(ReadOnlyProgramFolder, WritesTheFileOverInPlaceAndCutsItToItsNewLength) {
    WritableOldFile(SavedBytes(Rows(300, "FAILED")));  // longer than what follows
    const struct stat before = [&] {
        struct stat st {};
        ::stat(beside.c_str(), &st);
        return st;
    }();
    const TFavoriteList list = Rows(3, "OK");

    EXPECT_EQ(SaveAsNobody(list, beside), "saved");
    EXPECT_EQ(testsupport::ReadFileBytes(beside), SavedBytes(list));
    struct stat after {};
    ASSERT_EQ(::stat(beside.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file itself was written over";
    EXPECT_EQ(after.st_uid, testsupport::kNobody);
    EXPECT_EQ(EntriesIn(bin), 1u) << "nothing left beside the file";
}

// The file-size limit stands in for a full disk: the room is reserved before the first byte
// of the old content is overwritten, so the old results survive.
TEST_F(ReadOnlyProgramFolder, AFullDiskLeavesTheOldFileWholeAndIsReported) {
    const std::string old = SavedBytes(Rows(3, "FAILED"));
    WritableOldFile(old);
    const TFavoriteList many = Rows(2000, "OK");
    std::string outcome = RunAsNobody([&]() -> std::string {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveURLs(many, beside.string());
            return "saved";
        } catch (const EResultFileError& e) {
            return e.what();
        }
    });
    EXPECT_EQ(outcome, "Die Datei ist zu groß");
    EXPECT_EQ(testsupport::ReadFileBytes(beside), old);
}

TEST_F(ReadOnlyProgramFolder, ASaveThatCannotWriteAnythingIsReported) {
    EXPECT_EQ(SaveAsNobody(Rows(1, "OK"), beside),
              "Die Ergebnisdatei " + beside.string() +
                  " kann nicht gespeichert werden: Zugriff verweigert");
    EXPECT_FALSE(fs::exists(beside));
    WritableOldFile("old");
    ::chmod(beside.c_str(), 0444);
    EXPECT_EQ(SaveAsNobody(Rows(1, "OK"), beside),
              "Die Ergebnisdatei " + beside.string() +
                  " kann nicht gespeichert werden: Zugriff verweigert");
    EXPECT_EQ(testsupport::ReadFileBytes(beside), "old");
}

// Results saved in the data folder come back from there at the next start.
TEST_F(ReadOnlyProgramFolder, ResultsInTheDataFolderComeBackAtTheNextStart) {
    const TFavoriteList list = Rows(2, "OK");
    std::string restored = RunAsNobody([&] {
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        SaveURLs(list, ResultFilePath(bin.string() + "/"));
        TFavoriteList next = Rows(2, "???");
        OpenURLs(next, ResultFilePath(bin.string() + "/"));
        return next[0].Datum + " " + next[1].Datum;
    });
    EXPECT_EQ(restored, "OK OK");
    EXPECT_FALSE(fs::exists(beside));
    EXPECT_TRUE(fs::exists(home / ".local/share/quorvane" / ResultFileName));
}
