#include "FavoriteScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "NameOrder.h"
#include "SystemFolders.h"
#include "shell/ShellBrowser.h"
#include "shell/SystemIcons.h"
#include "sys/Application.h"
#include "sys/LongPath.h"

namespace {

// A folder open for reading; closed when it goes, or earlier.
class TOpenFolder {
  public:
    explicit TOpenFolder(int fd) : fd_(fd), dir_(fd >= 0 ? fdopendir(fd) : nullptr) {
        if (fd >= 0 && !dir_)
            ::close(fd);
    }
    ~TOpenFolder() { Close(); }
    TOpenFolder(const TOpenFolder&) = delete;
    TOpenFolder& operator=(const TOpenFolder&) = delete;
    bool IsOpen() const { return dir_ != nullptr; }
    int Fd() const { return fd_; }
    DIR* Dir() const { return dir_; }
    void Close() {
        if (dir_)
            closedir(dir_);
        dir_ = nullptr;
    }

  private:
    int fd_;
    DIR* dir_;
};

// A folder, or a link to one; a link is followed.
bool IsFolderEntry(int dirFd, const char* name, unsigned char type) {
    if (type != DT_LNK && type != DT_UNKNOWN)
        return type == DT_DIR;
    struct stat st {};
    return fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

TFavoriteScanner::TFavoriteScanner(TFavoriteList& list, TShellBrowser* browser)
    : list_(list),
      ownBrowser_(browser ? nullptr : std::make_unique<TShellBrowser>()),
      browser_(browser ? *browser : *ownBrowser_) {
    if (ownBrowser_) {
        ownBrowser_->SetFileSystemOnly(true);
        ownBrowser_->SetFilter("*");
    }
}

TFavoriteScanner::~TFavoriteScanner() = default;

// Runs one public call: the rows it finds reach the list together when it ends, even when it
// ends by an exception (from a message handler, say).
template <typename Fn>
void TFavoriteScanner::Batch(Fn&& walk) {
    if (batching_) {
        walk();
        return;
    }
    batching_ = true;
    walks_.clear();
    noAddress_.clear();
    foldersLimited_ = systemFoldersSkipped_ = false;
    auto finish = [this] {
        batching_ = false;
        list_.AppendRows(std::exchange(pending_, {}));
    };
    try {
        walk();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TFavoriteScanner::FavoritenEinlesen() {
    Batch([this] {
        if (!browser_.SelectSpecialFolder(shell::kFavoritesKind))
            return;  // no Favorites folder: listing nothing is the sound result
        WalkCurrentFolder();
    });
}

void TFavoriteScanner::ReadFolder(const std::string& folder) {
    Batch([&] {
        try {
            browser_.SetFolder(folder);
        } catch (const EShellBrowserError&) {
            return;
        }
        WalkCurrentFolder();
    });
}

void TFavoriteScanner::WalkCurrentFolder() {
    imageIndex_ = ChooseIcon();
    root_ = browser_.Folder();
    Walk(root_, 0);
}

// The icon of the first shortcut file at the top level, else the icon of the file type.
int TFavoriteScanner::ChooseIcon() {
    while (browser_.Next()) {
        if (!browser_.IsFolder() && ShortcutKindOf(browser_.ObjectName()) == TShortcutKind::Url)
            return browser_.SmallIconIndex();
    }
    return shell::FileTypeIconIndex("Favorite.url");
}

void TFavoriteScanner::ScanFolder(const std::string& folder, int depth) {
    Batch([&] { Walk(folder, depth); });
}

void TFavoriteScanner::ReadURLFile(const std::string& path, const std::string& name) {
    Batch([&] { Take(ReadShortcut(path), path, name); });
}

// The folder's files are read while it is open (relative to it, so that no path length
// limits the depth); its subfolders are walked after it is closed again, so that deep nesting
// holds no descriptors.
void TFavoriteScanner::Walk(const std::string& folder, int depth) {
    if (depth >= kMaxDepth)
        return;
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    TOpenFolder open(sys::OpenFolder(dir, O_RDONLY));
    TFolderId id;
    if (!open.IsOpen() || !Admit(open.Fd(), id))
        return;
    onPath_.insert(id);
    // Leaves the path again however the walk below ends (a handler may throw).
    struct TLeave {
        std::set<TFolderId>& path;
        TFolderId id;
        ~TLeave() { path.erase(id); }
    } leave{onPath_, id};
    std::vector<std::string> folders;
    ReadEntries(open.Dir(), dir, folders);
    open.Close();
    for (const std::string& sub : folders)
        Walk(sub, depth + 1);
}

// Whether the folder is walked: not a system folder, not one on the way down to it (a loop),
// and not one walked kMaxWalksPerFolder times already.
bool TFavoriteScanner::Admit(int fd, TFolderId& id) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    id = {st.st_dev, st.st_ino};
    if (onPath_.count(id) != 0)
        return false;
    if (IsSystemFolder(fd)) {
        systemFoldersSkipped_ = true;
        return false;
    }
    if (++walks_[id] > kMaxWalksPerFolder) {
        foldersLimited_ = true;
        return false;
    }
    return true;
}

// Reads the shortcut files of an open folder in name order, and collects the paths of its
// subfolders in name order.
void TFavoriteScanner::ReadEntries(DIR* folder, const std::string& dir,
                                   std::vector<std::string>& folders) {
    std::string names;
    std::vector<TEntry> entries;
    while (dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        std::size_t length = std::strlen(name);
        entries.push_back({names.size(), length, entry->d_type});
        names.append(name, length + 1);
    }
    auto nameOf = [&names](const TEntry& entry) {
        return std::string_view(names.data() + entry.offset, entry.length);
    };
    SortByName(entries, nameOf);
    const int fd = dirfd(folder);
    auto& app = sys::Application::Instance();
    for (const TEntry& entry : entries) {
        app.ProcessMessagesPaced();
        const char* name = names.data() + entry.offset;
        if (IsFolderEntry(fd, name, entry.type)) {
            folders.push_back(dir + name + '/');
        } else if (TShortcutKind kind = ShortcutKindOf(nameOf(entry));
                   kind != TShortcutKind::None) {
            TShortcut shortcut = ReadShortcutAt(fd, name, kind, entry.type == DT_REG);
            Take(std::move(shortcut), dir + name, nameOf(entry));
        }
    }
}

void TFavoriteScanner::Take(TShortcut shortcut, std::string path, std::string_view name) {
    if (shortcut.State == TShortcutState::NoAddress)
        noAddress_.push_back(std::move(path));
    if (shortcut.State != TShortcutState::Address)
        return;
    TFavoriteRow& row = pending_.emplace_back();
    row.Name = name.substr(0, name.rfind('.'));
    // The folder part of the path, without as many leading characters as the root has.
    std::size_t folderEnd = path.rfind('/') + 1;
    if (folderEnd > root_.size())
        row.Pfad.assign(path, root_.size(), folderEnd - root_.size());
    row.URL = std::move(shortcut.Address);
    row.Datei = std::move(path);
    row.ImageIndex = imageIndex_;
}
