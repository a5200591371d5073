#include "sys/ChangeNotify.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "AsNobody.h"
#include "TempDir.h"

namespace fs = std::filesystem;
using namespace sys;

namespace {

constexpr std::uint32_t kFileName = FILE_NOTIFY_CHANGE_FILE_NAME;
constexpr std::uint32_t kDirName = FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr std::uint32_t kAttributes = FILE_NOTIFY_CHANGE_ATTRIBUTES;
constexpr std::uint32_t kSize = FILE_NOTIFY_CHANGE_SIZE;
constexpr std::uint32_t kLastWrite = FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr std::uint32_t kSecurity = FILE_NOTIFY_CHANGE_SECURITY;
constexpr std::uint32_t kEveryKind =
    kFileName | kDirName | kAttributes | kSize | kLastWrite | kSecurity;

void WriteFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

bool Readable(const TChangeNotification& notification) {
    pollfd ready{notification.Fd(), POLLIN, 0};
    return poll(&ready, 1, 0) == 1;
}

// Collects until nothing waits any more; the first error ends it.
int CollectAll(TChangeNotification& notification, bool& changed) {
    int error = 0;
    while (error == 0 && Readable(notification))
        error = notification.Collect(changed);
    return error;
}

// Whether the changes collected now include one of the filter's kinds; any error fails.
bool Changed(TChangeNotification& notification) {
    bool changed = false;
    EXPECT_EQ(notification.Collect(changed), 0);
    return changed;
}

struct KindCase {
    const char* what;
    std::function<void(const fs::path& dir)> change;
    std::uint32_t kinds;  // what the change is, on this system
};

std::vector<KindCase> KindCases() {
    std::vector<KindCase> cases = {
        {"an empty file made", [](auto& d) { close(creat((d / "new").c_str(), 0644)); }, kFileName},
        {"a file removed", [](auto& d) { fs::remove(d / "f"); }, kFileName},
        {"a file renamed", [](auto& d) { fs::rename(d / "f", d / "g"); }, kFileName},
        {"a link made", [](auto& d) { fs::create_symlink("f", d / "l"); }, kFileName},
        {"a second name for a file", [](auto& d) { fs::create_hard_link(d / "f", d / "h"); },
         kFileName},
        {"a folder made", [](auto& d) { fs::create_directory(d / "e"); }, kDirName},
        {"a folder removed", [](auto& d) { fs::remove(d / "d"); }, kDirName},
        {"a folder renamed", [](auto& d) { fs::rename(d / "d", d / "e"); }, kDirName},
        {"a file's mode", [](auto& d) { chmod((d / "f").c_str(), 0444); }, kAttributes | kSecurity},
        {"a folder's mode", [](auto& d) { chmod((d / "d").c_str(), 0700); },
         kAttributes | kSecurity},
        {"bytes appended",
         [](auto& d) { std::ofstream(d / "f", std::ios::app | std::ios::binary) << "more"; },
         kSize | kLastWrite},
        {"a file cut short", [](auto& d) { truncate((d / "f").c_str(), 1); }, kSize | kLastWrite},
        {"bytes overwritten in place",
         [](auto& d) {
             int fd = open((d / "f").c_str(), O_WRONLY);
             EXPECT_EQ(pwrite(fd, "xyz", 3, 0), 3);
             close(fd);
         },
         kLastWrite},
        {"the modification time set",
         [](auto& d) {
             timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
             utimensat(AT_FDCWD, (d / "f").c_str(), times, 0);
         },
         kLastWrite},
        {"a file read", [](auto& d) { testsupport::ReadFileBytes(d / "f"); }, 0},
    };
    if (geteuid() == 0)  // only root may give a file to another group of its choice
        cases.push_back({"the owner changed",
                         [](auto& d) { EXPECT_EQ(chown((d / "f").c_str(), 0, 4242), 0); },
                         kSecurity});
    return cases;
}

TEST(ChangeNotifyTest, EachKindOfChangeIsReportedToItsFilterAndNoOther) {
    const std::vector<std::uint32_t> filters = {kFileName,  kDirName,  kAttributes, kSize,
                                                kLastWrite, kSecurity, kEveryKind};
    for (const auto& c : KindCases()) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        WriteFile(dir.Path() / "f", "abc");
        fs::create_directory(dir.Path() / "d");
        std::vector<TChangeNotification> notifications(filters.size());
        for (std::size_t i = 0; i < filters.size(); ++i)
            EXPECT_EQ(notifications[i].Open(dir.Path().string(), false, filters[i]), 0)
                << "filter 0x" << std::hex << filters[i];
        c.change(dir.Path());
        for (std::size_t i = 0; i < filters.size(); ++i)
            EXPECT_EQ(Changed(notifications[i]), (c.kinds & filters[i]) != 0)
                << "filter 0x" << std::hex << filters[i];
    }
}

TEST(ChangeNotifyTest, OpenReportsWhyItCannot) {
    testsupport::TempDir dir;
    WriteFile(dir.Path() / "file", "x");
    struct Case {
        const char* what;
        std::string folder;
        std::uint32_t filter;
        int error;
    } cases[] = {
        {"no such folder", (dir.Path() / "missing").string(), kFileName, ENOENT},
        {"a file", (dir.Path() / "file").string(), kFileName, ENOTDIR},
        {"no kind of change", dir.Path().string(), 0, EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TChangeNotification notification;
        EXPECT_EQ(notification.Open(c.folder, false, c.filter), c.error);
    }
}

TEST(ChangeNotifyTest, RunningOutOfDescriptorsIsReportedAsSuch) {
    std::string code = testsupport::RunAsNobody([&]() -> std::string {
        // No descriptor number is left above the ones open now.
        int lowestFree = dup(0);
        close(lowestFree);
        rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return "no limit";
        TChangeNotification notification;
        return std::to_string(notification.Open("/", false, kFileName));
    });
    EXPECT_EQ(code, std::to_string(EMFILE));
}

TEST(ChangeNotifyTest, AFolderTheUserMayNotReadIsRefusedAndLeftOutBelowTheRoot) {
    testsupport::TempDir dir;
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(dir.Path() / "open" / "closed");
    fs::permissions(dir.Path() / "open", fs::perms::all);
    fs::permissions(dir.Path() / "open" / "closed", fs::perms::none);
    std::string refused = testsupport::RunAsNobody([&] {
        TChangeNotification notification;
        return std::to_string(
            notification.Open((dir.Path() / "open" / "closed").string(), false, kFileName));
    });
    EXPECT_EQ(refused, std::to_string(EACCES));
    // Below the root such a folder is only left out; the rest is watched.
    std::string changed = testsupport::RunAsNobody([&]() -> std::string {
        TChangeNotification notification;
        if (int error = notification.Open((dir.Path() / "open").string(), true, kFileName))
            return "not opened: " + std::to_string(error);
        WriteFile(dir.Path() / "open" / "new", "x");
        bool seen = false;
        return notification.Collect(seen) == 0 && seen ? "changed" : "unchanged";
    });
    EXPECT_EQ(changed, "changed");
}

class SubtreeTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    fs::path root = dir.Path() / "root";
    TChangeNotification notification;

    void SetUp() override { fs::create_directory(root); }
    void Open(std::uint32_t filter) { ASSERT_EQ(notification.Open(root, true, filter), 0); }
};

TEST_F(SubtreeTest, NewFoldersAreWatchedWithWhatCameBeforeTheirWatch) {
    Open(kFileName);
    // The folders and the file are there before the notification hears of the first folder.
    fs::create_directories(root / "a" / "b" / "c");
    WriteFile(root / "a" / "b" / "c" / "early", "x");
    EXPECT_TRUE(Changed(notification));
    WriteFile(root / "a" / "b" / "c" / "late", "x");
    EXPECT_TRUE(Changed(notification));
    fs::create_directory(root / "a" / "empty");
    EXPECT_FALSE(Changed(notification));  // a folder name is not a file name
}

// The walk asks before every folder; a no ends Open with ECANCELED, holding nothing.
TEST_F(SubtreeTest, AWalkCutShortLeavesNothingOpen) {
    for (int i = 0; i < 20; ++i)
        fs::create_directories(root / std::to_string(i) / "x");
    for (int allowed : {0, 1, 7, 30}) {
        SCOPED_TRACE(allowed);
        TChangeNotification cut;
        int asked = 0;
        cut.SetKeepGoing([&] { return ++asked <= allowed; });
        EXPECT_EQ(cut.Open(root, true, kFileName), ECANCELED);
        EXPECT_EQ(cut.Fd(), -1);
        EXPECT_EQ(asked, allowed + 1);  // not one folder more
    }
}

// Open tells whether something in the tree changed at or after a given time, per kind.
TEST_F(SubtreeTest, OpenTellsOfChangesSinceATime) {
    fs::create_directories(root / "sub");
    WriteFile(root / "sub" / "f", "abc");
    timespec past{0, 0};
    timespec future{std::numeric_limits<time_t>::max() / 2, 0};
    struct Case {
        const char* what;
        timespec since;
        std::uint32_t filter;
        bool changed;
    } cases[] = {
        {"names, long ago", past, kFileName, true},
        {"names, to come", future, kFileName, false},
        {"size, long ago", past, kSize, true},
        {"attributes, to come", future, kAttributes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TChangeNotification since;
        since.SetReportChangesSince(c.since);
        ASSERT_EQ(since.Open(root, true, c.filter), 0);
        EXPECT_EQ(since.ChangedSince(), c.changed);
    }
    TChangeNotification plain;  // without a time, nothing is looked at
    ASSERT_EQ(plain.Open(root, true, kFileName), 0);
    EXPECT_FALSE(plain.ChangedSince());
}

TEST_F(SubtreeTest, OnlyTheFolderItselfWithoutSubtree) {
    fs::create_directory(root / "sub");
    ASSERT_EQ(notification.Open(root, false, kFileName), 0);
    WriteFile(root / "sub" / "inner", "x");
    EXPECT_FALSE(Changed(notification));
    WriteFile(root / "outer", "x");
    EXPECT_TRUE(Changed(notification));
}

TEST_F(SubtreeTest, LinksBelowTheRootAreNotFollowed) {
    testsupport::TempDir outside;
    fs::create_directory_symlink(outside.Path(), root / "link");
    Open(kFileName | kDirName);
    WriteFile(outside.Path() / "behind-the-link", "x");
    EXPECT_FALSE(Changed(notification));
    // The root itself may be a link.
    TChangeNotification throughLink;
    ASSERT_EQ(throughLink.Open((root / "link").string(), true, kFileName), 0);
    WriteFile(outside.Path() / "second", "x");
    EXPECT_TRUE(Changed(throughLink));
}

TEST_F(SubtreeTest, FoldersMovedOutAreLeftAndFoldersMovedInAreWatched) {
    testsupport::TempDir outside;
    fs::create_directories(root / "leaving" / "deeper");
    fs::create_directories(outside.Path() / "coming" / "deeper");
    Open(kFileName | kDirName);
    fs::rename(root / "leaving", outside.Path() / "left");
    fs::rename(outside.Path() / "coming", root / "came");
    EXPECT_TRUE(Changed(notification));
    WriteFile(outside.Path() / "left" / "deeper" / "x", "x");
    EXPECT_FALSE(Changed(notification));
    WriteFile(root / "came" / "deeper" / "x", "x");
    EXPECT_TRUE(Changed(notification));
    // Renamed inside the tree: still watched under its new name.
    fs::rename(root / "came", root / "renamed");
    EXPECT_TRUE(Changed(notification));
    WriteFile(root / "renamed" / "deeper" / "y", "x");
    EXPECT_TRUE(Changed(notification));
}

TEST_F(SubtreeTest, TheRootGoingAwayEndsTheNotification) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> remove;
    } cases[] = {
        {"removed", [](const fs::path& p) { fs::remove_all(p); }},
        {"moved", [](const fs::path& p) { fs::rename(p, p.string() + "-moved"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path folder = dir.Path() / c.what;
        fs::create_directories(folder / "sub");
        TChangeNotification watched;
        if (watched.Open(folder, true, kFileName) != 0) {
            ADD_FAILURE() << "cannot watch " << folder;
            continue;
        }
        c.remove(folder);
        bool changed = false;
        EXPECT_EQ(CollectAll(watched, changed), ENOENT);
        EXPECT_TRUE(changed);
    }
}

TEST_F(SubtreeTest, ALostQueueCountsAsAChangeAndFindsTheFoldersThatCameMeanwhile) {
    int limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit <= 0 || limit > 100000)
        GTEST_SKIP() << "queue limit " << limit;
    WriteFile(root / "a", "x");
    WriteFile(root / "b", "x");
    Open(kDirName | kAttributes);
    // Changes of two files in turn, so that the system cannot fold them into one.
    for (int i = 0; i <= limit; ++i)
        chmod((root / (i % 2 ? "a" : "b")).c_str(), i % 4 < 2 ? 0600 : 0644);
    fs::create_directory(root / "late");  // its creation is lost with the queue
    bool changed = false;
    ASSERT_EQ(CollectAll(notification, changed), 0);
    EXPECT_TRUE(changed);
    fs::create_directory(root / "late" / "inner");
    EXPECT_TRUE(Changed(notification));
}

// A chain of folders whose path is longer than the system takes in one call.
class LongPathTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::vector<std::string> names;

    void SetUp() override {
        int at = open(dir.Path().c_str(), O_DIRECTORY);
        for (int level = 0; level * 200 < PATH_MAX + 400; ++level) {
            names.push_back(std::string(199, static_cast<char>('a' + level % 26)));
            ASSERT_EQ(mkdirat(at, names.back().c_str(), 0755), 0);
            int next = openat(at, names.back().c_str(), O_DIRECTORY);
            close(at);
            at = next;
        }
        close(at);
    }
    void TearDown() override { RemoveBelow(open(dir.Path().c_str(), O_DIRECTORY), 0); }

    std::string Deepest() const {
        std::string path = dir.Path().string();
        for (const auto& name : names)
            path += "/" + name;
        return path;
    }
    // Makes a file in the deepest folder, or writes to it.
    void WriteDeep(const std::string& file, const char* bytes) {
        int at = open(dir.Path().c_str(), O_DIRECTORY);
        for (const auto& name : names) {
            int next = openat(at, name.c_str(), O_DIRECTORY);
            close(at);
            at = next;
        }
        int fd = openat(at, file.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_GT(write(fd, bytes, strlen(bytes)), 0);
        close(fd);
        close(at);
    }

  private:
    void RemoveBelow(int at, std::size_t level) {
        if (level < names.size()) {
            RemoveBelow(openat(at, names[level].c_str(), O_DIRECTORY), level + 1);
            unlinkat(at, names[level].c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(at, "file", 0);
        }
        close(at);
    }
};

TEST_F(LongPathTest, FoldersOfAnyLengthAreWatched) {
    ASSERT_GT(Deepest().size(), static_cast<std::size_t>(PATH_MAX));
    TChangeNotification subtree, deepest, sizeOnly;
    ASSERT_EQ(subtree.Open(dir.Path().string(), true, kFileName), 0);
    ASSERT_EQ(deepest.Open(Deepest(), false, kFileName), 0);
    WriteDeep("file", "abc");
    EXPECT_TRUE(Changed(subtree));
    EXPECT_TRUE(Changed(deepest));
    // Telling kinds apart looks at the entry through the long path as well.
    ASSERT_EQ(sizeOnly.Open(Deepest(), false, kSize), 0);
    WriteDeep("file", "xyz");  // the same size
    EXPECT_FALSE(Changed(sizeOnly));
    WriteDeep("file", "longer");
    EXPECT_TRUE(Changed(sizeOnly));
}

}  // namespace
