#include "ChangeNotify.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "LongPath.h"

namespace sys {

namespace {

constexpr std::uint32_t kNameKinds = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr std::uint32_t kMetadataKinds = FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                         FILE_NOTIFY_CHANGE_LAST_WRITE |
                                         FILE_NOTIFY_CHANGE_SECURITY;
// What inotify cannot tell apart without looking at the entry.
constexpr std::uint32_t kAttribGuess =
    FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SECURITY;
constexpr std::uint32_t kModifyGuess = FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

std::uint32_t InotifyMask(std::uint32_t filter, bool needNames) {
    std::uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | IN_EXCL_UNLINK;
    if ((filter & kNameKinds) || needNames)
        mask |= kNameEvents;
    if (filter & kAttribGuess)
        mask |= IN_ATTRIB;
    if (filter & kModifyGuess)
        mask |= IN_MODIFY;
    return mask;
}

// Running out of these ends the notification; any other failure to watch a folder below the
// root (gone again, not readable) only leaves that folder out.
bool IsExhaustion(int error) {
    return error == ENOSPC || error == ENOMEM || error == EMFILE || error == ENFILE;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

TChangeNotification::~TChangeNotification() {
    Close();
}

void TChangeNotification::Close() {
    if (fd_ >= 0)
        close(fd_);  // takes every watch with it
    fd_ = -1;
    rootWd_ = -1;
    folders_.clear();
}

int TChangeNotification::Open(const std::string& folder, bool subtree, std::uint32_t filter) {
    if (fd_ >= 0)
        return EBUSY;
    if (filter == 0)
        return EINVAL;  // a notification of no kind of change is refused, as the shell does
    subtree_ = subtree;
    filter_ = filter;
    changedSince_ = false;
    std::uint32_t metadata = filter & kMetadataKinds;
    tellKindsApart_ = metadata != 0 && metadata != kMetadataKinds;
    mask_ = InotifyMask(filter, subtree || tellKindsApart_);
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0)
        return errno;
    int wd = AddWatch(folder, true);
    if (wd < 0) {
        Close();
        return -wd;
    }
    rootWd_ = wd;
    folders_[wd].path = folder;
    std::uint32_t found = 0;
    std::unordered_set<int> seen;
    int error = ScanBelow(wd, found, seen);
    checkSince_ = false;  // only the walk of Open looks at the times
    if (error)
        Close();  // the watches made before the failure would otherwise stay
    return error;
}

// The watch descriptor, or minus the errno.
int TChangeNotification::AddWatch(const std::string& path, bool followLink) {
    std::uint32_t mask = mask_ | IN_ONLYDIR | (followLink ? 0 : IN_DONT_FOLLOW);
    if (path.size() < PATH_MAX) {
        int wd = inotify_add_watch(fd_, path.c_str(), mask);
        return wd < 0 ? -errno : wd;
    }
    // Too long for one call: the folder is opened in pieces and watched under its
    // descriptor's name, a link that must be followed.
    int dir = OpenFolder(path, O_PATH | (followLink ? 0 : O_NOFOLLOW));
    if (dir < 0)
        return -errno;
    std::string byDescriptor = "/proc/self/fd/" + std::to_string(dir);
    int wd = inotify_add_watch(fd_, byDescriptor.c_str(), mask & ~IN_DONT_FOLLOW);
    int error = wd < 0 ? errno : 0;
    close(dir);
    return wd < 0 ? -error : wd;
}

// Reads the folder of wd and, for a subtree, every folder below it that this scan has not
// met yet (a folder mounted below itself is met twice): each gets a watch. Remembers the
// entries when kinds are told apart; found gets the kinds of the entries met. 0, or the
// errno that ends the notification.
int TChangeNotification::ScanBelow(int wd, std::uint32_t& found, std::unordered_set<int>& seen) {
    if (!subtree_ && !tellKindsApart_ && !checkSince_)
        return 0;
    std::deque<int> todo{wd};
    seen.insert(wd);
    while (!todo.empty()) {
        if (!KeepGoing())
            return ECANCELED;
        auto it = folders_.find(todo.front());
        todo.pop_front();
        std::vector<TFolderEntry> entries;
        if (it == folders_.end() || !ReadFolder(it->second.path, entries))
            continue;                         // gone again, or not readable: nothing to watch in it
        TWatchedFolder& folder = it->second;  // references survive insertions
        folder.stamps.clear();
        if (checkSince_)
            NoteChangesSince(folder, entries);
        for (const auto& entry : entries) {
            found |= entry.isFolder ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
            if (tellKindsApart_)
                Remember(folder, entry.name);
            if (!entry.isFolder || !subtree_)
                continue;
            if (!KeepGoing())
                return ECANCELED;  // a folder of many folders is cut short too
            std::string path = JoinName(folder.path, entry.name);
            int child = AddWatch(path, false);
            if (child < 0 && IsExhaustion(-child))
                return -child;
            if (child < 0 || !seen.insert(child).second)
                continue;
            folders_[child].path = std::move(path);
            todo.push_back(child);
        }
    }
    return 0;
}

// The folder's watch exists already: a change after this look is an event of its own.
void TChangeNotification::NoteChangesSince(const TWatchedFolder& folder,
                                           const std::vector<TFolderEntry>& entries) {
    if (changedSince_)
        return;
    struct stat st {};
    // Names coming and going change the folder's modification time.
    if ((filter_ & kNameKinds) && StatEntry(folder.path, ".", st) && IsSince(st.st_mtim)) {
        changedSince_ = true;
        return;
    }
    if (!(filter_ & kMetadataKinds))
        return;
    // A size change shows in the modification time; the other kinds only in the change time.
    bool bySize = (filter_ & kMetadataKinds) == FILE_NOTIFY_CHANGE_SIZE;
    for (const auto& entry : entries) {
        if (!StatEntry(folder.path, entry.name, st))
            continue;
        if (IsSince(bySize ? st.st_mtim : st.st_ctim)) {
            changedSince_ = true;
            return;
        }
    }
}

bool TChangeNotification::IsSince(const timespec& time) const {
    return time.tv_sec > since_.tv_sec ||
           (time.tv_sec == since_.tv_sec && time.tv_nsec >= since_.tv_nsec);
}

int TChangeNotification::Collect(bool& changed) {
    // One read per call: under a steady stream of changes the caller still gets to report
    // them between reads.
    ssize_t got = read(fd_, buffer_.data(), buffer_.size());
    if (got < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : errno;
    for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(got);) {
        inotify_event event;
        std::memcpy(&event, buffer_.data() + at, sizeof event);
        const char* name = buffer_.data() + at + sizeof event;
        at += sizeof event + event.len;
        int error = 0;
        if (event.mask & IN_Q_OVERFLOW) {
            changed = true;  // nobody knows what was lost, so it counts as a change
            error = Rescan();
        } else {
            error = HandleEvent(event.wd, event.mask, std::string(name, strnlen(name, event.len)),
                                changed);
        }
        if (error)
            return error;
    }
    return 0;
}

// After lost changes: folders that came meanwhile get their watches, and folders that left
// the tree meanwhile lose theirs.
int TChangeNotification::Rescan() {
    std::uint32_t found = 0;
    std::unordered_set<int> seen;
    int error = ScanBelow(rootWd_, found, seen);
    if (error || !subtree_)
        return error;
    for (auto it = folders_.begin(); it != folders_.end();) {
        if (seen.count(it->first)) {
            ++it;
            continue;
        }
        inotify_rm_watch(fd_, it->first);
        it = folders_.erase(it);
    }
    return 0;
}

int TChangeNotification::HandleEvent(int wd, std::uint32_t mask, const std::string& name,
                                     bool& changed) {
    auto it = folders_.find(wd);
    if (it == folders_.end())
        return 0;  // a watch given up already
    if (name.empty())
        return HandleOwnEvent(wd, mask, changed);
    std::uint32_t kinds = KindsOf(it->second, mask, name);
    int error = 0;
    if ((mask & IN_ISDIR) && subtree_) {
        std::string path = JoinName(it->second.path, name);
        if (mask & (IN_MOVED_FROM | IN_DELETE))
            Unwatch(path);
        if (mask & (IN_CREATE | IN_MOVED_TO))
            error = WatchNewFolder(path, kinds);
    }
    if (kinds & filter_)
        changed = true;
    return error;
}

// Events of a watched folder itself. The notification watches what is in a folder, so only
// the root's going away matters: the notification then has nothing left to watch.
int TChangeNotification::HandleOwnEvent(int wd, std::uint32_t mask, bool& changed) {
    if (wd != rootWd_) {
        if (mask & IN_IGNORED)
            folders_.erase(wd);
        return 0;
    }
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) {
        changed = true;
        return ENOENT;
    }
    return 0;
}

// A folder that came into the tree: watched, and looked into at once, since entries may have
// come before the watch did; they count as changes of their kinds.
int TChangeNotification::WatchNewFolder(const std::string& path, std::uint32_t& kinds) {
    int wd = AddWatch(path, false);
    if (wd < 0)
        return IsExhaustion(-wd) ? -wd : 0;
    auto [it, inserted] = folders_.try_emplace(wd);
    if (!inserted)
        return 0;  // a folder that is watched already (mounted here a second time)
    it->second.path = path;
    std::unordered_set<int> seen;
    return ScanBelow(wd, kinds, seen);
}

// Drops the watches of a folder that left the tree and of every folder below it.
void TChangeNotification::Unwatch(const std::string& path) {
    const std::string below = path + '/';
    for (auto it = folders_.begin(); it != folders_.end();) {
        const std::string& at = it->second.path;
        bool inside = at == path || at.compare(0, below.size(), below) == 0;
        if (!inside || it->first == rootWd_) {
            ++it;
            continue;
        }
        inotify_rm_watch(fd_, it->first);
        it = folders_.erase(it);
    }
}

std::uint32_t TChangeNotification::KindsOf(TWatchedFolder& folder, std::uint32_t mask,
                                           const std::string& name) {
    if (mask & kNameEvents) {
        if (tellKindsApart_ && (mask & (IN_CREATE | IN_MOVED_TO)))
            Remember(folder, name);
        else if (tellKindsApart_)
            folder.stamps.erase(name);
        return (mask & IN_ISDIR) ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
    }
    if (mask & (IN_ATTRIB | IN_MODIFY))
        return KindsOfMetadataChange(folder, mask, name);
    return 0;
}

// Tells the kinds of a metadata change apart by what stat() shows now against what it showed
// before. Without an earlier look, every kind the event may stand for is reported.
std::uint32_t TChangeNotification::KindsOfMetadataChange(TWatchedFolder& folder, std::uint32_t mask,
                                                         const std::string& name) {
    std::uint32_t guess = (mask & IN_MODIFY) ? kModifyGuess : kAttribGuess;
    if (!tellKindsApart_)
        return guess;
    auto old = folder.stamps.find(name);
    struct stat st {};
    if (!StatEntry(folder.path, name, st)) {
        folder.stamps.erase(name);
        return guess;
    }
    TStamp now{st.st_mode, st.st_uid, st.st_gid, st.st_nlink, st.st_size, st.st_mtim};
    if (old == folder.stamps.end()) {
        folder.stamps.emplace(name, now);
        return guess;
    }
    TStamp was = std::exchange(old->second, now);
    std::uint32_t kinds = 0;
    if (now.size != was.size)
        kinds |= FILE_NOTIFY_CHANGE_SIZE;
    if ((mask & IN_MODIFY) || !SameTime(now.mtime, was.mtime))
        kinds |= FILE_NOTIFY_CHANGE_LAST_WRITE;  // a write counts even where the time stayed
    if (now.mode != was.mode)
        kinds |= FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY;
    if (now.uid != was.uid || now.gid != was.gid)
        kinds |= FILE_NOTIFY_CHANGE_SECURITY;
    if (kinds || now.links != was.links)
        return kinds;  // a new or removed link is reported as the name change it is
    // Extended attributes and access lists leave stat() as it was.
    return FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SECURITY;
}

void TChangeNotification::Remember(TWatchedFolder& folder, const std::string& name) {
    struct stat st {};
    if (StatEntry(folder.path, name, st))
        folder.stamps[name] = {st.st_mode,  st.st_uid,  st.st_gid,
                               st.st_nlink, st.st_size, st.st_mtim};
    else
        folder.stamps.erase(name);
}

}  // namespace sys
