// Change notifications on a folder, and optionally on every folder below it, on inotify. The
// kinds of change are the shell's flags; each change the system reports is sorted into them:
//
//   FILE_NAME    a file (or a link) made, removed or renamed
//   DIR_NAME     a folder made, removed or renamed
//   ATTRIBUTES   the mode of an entry changed, or metadata that stat() does not show
//   SIZE         a file's size changed
//   LAST_WRITE   a file was written or its modification time set
//   SECURITY     the mode or the owner of an entry changed, or metadata stat() does not show
//
// A subtree notification watches every folder below the root and each new one as it comes,
// and looks into a new folder at once, since files may appear in it before its watch exists.
// Links below the root are not followed. The root itself may be reached through a link.
//
// A walk through the tree (at Open, after a lost queue, into a new folder) asks KeepGoing before
// each folder it enters, so that another thread may cut a long walk short.
//
// Not thread-safe: one thread opens it, and one thread at a time collects its changes.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "LongPath.h"

namespace sys {

constexpr std::uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;
constexpr std::uint32_t FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;
constexpr std::uint32_t FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x4;
constexpr std::uint32_t FILE_NOTIFY_CHANGE_SIZE = 0x8;
constexpr std::uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;
constexpr std::uint32_t FILE_NOTIFY_CHANGE_SECURITY = 0x100;

class TChangeNotification {
  public:
    TChangeNotification() = default;
    ~TChangeNotification();
    TChangeNotification(const TChangeNotification&) = delete;
    TChangeNotification& operator=(const TChangeNotification&) = delete;

    // Asked before each folder a walk enters; false ends the walk, and Open or Collect return
    // ECANCELED. Open then holds nothing.
    void SetKeepGoing(std::function<bool()> keepGoing) { keepGoing_ = std::move(keepGoing); }
    // Makes the next Open look at the change times of what it watches: ChangedSince() then tells
    // whether a folder (for the name kinds) or an entry (for the other kinds) changed at or after
    // since, which may have come before its watch. Changes of other kinds may count too.
    void SetReportChangesSince(const timespec& since) {
        since_ = since;
        checkSince_ = true;
    }
    bool ChangedSince() const { return changedSince_; }

    // 0, or the errno that kept the notification from opening: EINVAL for an empty filter,
    // EMFILE when the process or the user has no inotify instance left, ENOSPC when the user
    // has no watch left, ENOENT or ENOTDIR for a folder that is not there. A notification that
    // failed to open holds nothing: no descriptor, no watch.
    int Open(const std::string& folder, bool subtree, std::uint32_t filter);
    // Gives back the descriptor and every watch; Open may follow.
    void Close();
    // Readable while changes wait to be collected; -1 before Open.
    int Fd() const { return fd_; }

    // Reads the changes that wait (as many as one read takes), without blocking. changed turns true
    // when one of them is of a kind in the filter; so does a lost queue (too many changes at once),
    // since then nobody knows what changed. Returns 0, or the errno that ends the notification:
    // ENOENT when the root folder was removed, moved away or unmounted, ENOSPC (or ENOMEM) when a
    // new folder below could not be watched, or the error of the read.
    int Collect(bool& changed);

  private:
    // What the notification remembers of an entry, to tell the kinds of a change apart.
    struct TStamp {
        mode_t mode;
        uid_t uid;
        gid_t gid;
        nlink_t links;
        off_t size;
        timespec mtime;
    };
    struct TWatchedFolder {
        std::string path;
        std::unordered_map<std::string, TStamp> stamps;  // only when telling kinds apart
    };

    int AddWatch(const std::string& path, bool followLink);
    int ScanBelow(int wd, std::uint32_t& found, std::unordered_set<int>& seen);
    int WatchNewFolder(const std::string& path, std::uint32_t& kinds);
    int Rescan();
    void Unwatch(const std::string& path);
    int HandleEvent(int wd, std::uint32_t mask, const std::string& name, bool& changed);
    int HandleOwnEvent(int wd, std::uint32_t mask, bool& changed);
    std::uint32_t KindsOf(TWatchedFolder& folder, std::uint32_t mask, const std::string& name);
    std::uint32_t KindsOfMetadataChange(TWatchedFolder& folder, std::uint32_t mask,
                                        const std::string& name);
    void Remember(TWatchedFolder& folder, const std::string& name);
    bool KeepGoing() const { return !keepGoing_ || keepGoing_(); }
    void NoteChangesSince(const TWatchedFolder& folder, const std::vector<TFolderEntry>& entries);
    bool IsSince(const timespec& time) const;

    int fd_ = -1;
    int rootWd_ = -1;
    bool subtree_ = false;
    bool tellKindsApart_ = false;
    std::uint32_t filter_ = 0;
    std::uint32_t mask_ = 0;
    std::unordered_map<int, TWatchedFolder> folders_;
    std::function<bool()> keepGoing_;
    timespec since_{};
    bool checkSince_ = false;
    bool changedSince_ = false;
    alignas(8) std::array<char, 16384> buffer_{};
};

}  // namespace sys
