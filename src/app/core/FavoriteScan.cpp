#include "FavoriteScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "ShortcutFile.h"
#include "shell/ShellBrowser.h"
#include "shell/SystemIcons.h"
#include "sys/Application.h"

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
        if (!browser_.IsFolder() && HasUrlExtension(browser_.ObjectName()))
            return browser_.SmallIconIndex();
    }
    return shell::FileTypeIconIndex("Favorite.url");
}

void TFavoriteScanner::ScanFolder(const std::string& folder, int depth) {
    Batch([&] { Walk(folder, depth); });
}

void TFavoriteScanner::ReadURLFile(const std::string& path, const std::string& name) {
    Batch([&] { ReadOne(path, name, false); });
}

void TFavoriteScanner::Walk(const std::string& folder, int depth) {
    if (depth >= kMaxDepth)
        return;
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    TEntries entries;
    TFolderId id;
    if (!ReadDirectory(dir, id, entries) || !onPath_.insert(id).second)
        return;
    // Leaves the path again however the walk below ends (a handler may throw).
    struct TLeave {
        std::set<TFolderId>& path;
        TFolderId id;
        ~TLeave() { path.erase(id); }
    } leave{onPath_, id};
    auto& app = sys::Application::Instance();
    const char* next = entries.names.data();
    for (unsigned char type : entries.types) {
        std::string_view name(next);
        next += name.size() + 1;
        app.ProcessMessagesPaced();
        std::string path;
        path.reserve(dir.size() + name.size() + 1);
        path.append(dir).append(name);
        bool isDir = type == DT_DIR;
        if (type == DT_LNK || type == DT_UNKNOWN)
            isDir = IsDirectory(path);
        if (isDir)
            Walk(path + '/', depth + 1);
        else if (HasUrlExtension(name))
            ReadOne(std::move(path), name, type == DT_REG);
    }
}

// Reads a folder's entries in the order the file system gives them, and the folder's identity,
// and closes it again, so that deep nesting holds no descriptors. False for a folder that
// cannot be read.
bool TFavoriteScanner::ReadDirectory(const std::string& folder, TFolderId& id, TEntries& entries) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    struct stat st {};
    bool readable = fstat(dirfd(dir), &st) == 0;
    id = {st.st_dev, st.st_ino};
    while (readable) {
        dirent* entry = readdir(dir);
        if (!entry)
            break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        entries.names.append(name, std::strlen(name) + 1);
        entries.types.push_back(entry->d_type);
    }
    closedir(dir);
    return readable;
}

void TFavoriteScanner::ReadOne(std::string path, std::string_view name, bool regularEntry) {
    std::optional<std::string> address =
        regularEntry ? ReadBaseURLOfRegularEntry(path) : ReadBaseURL(path);
    if (!address || address->empty())
        return;
    TFavoriteRow& row = pending_.emplace_back();
    row.Name = name.substr(0, name.rfind('.'));
    // The folder part of the path, without as many leading characters as the root has.
    std::size_t folderEnd = path.rfind('/') + 1;
    if (folderEnd > root_.size())
        row.Pfad.assign(path, root_.size(), folderEnd - root_.size());
    row.URL = std::move(*address);
    row.Datei = std::move(path);
    row.ImageIndex = imageIndex_;
}
