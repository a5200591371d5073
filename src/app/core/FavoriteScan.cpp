#include "FavoriteScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "shell/ShellBrowser.h"
#include "shell/SystemIcons.h"
#include "sys/Application.h"

namespace {

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

class TFd {
  public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

// Finds the first line that begins with the key, fed the file's bytes in chunks. Lines end at
// LF, CR or CR LF.
class TBaseUrlFinder {
  public:
    // True once the address line is complete.
    bool Feed(const char* data, std::size_t size) {
        const char* end = data + size;
        for (const char* at = data; at < end;) {
            if (capturing_) {
                const char* stop = FindLineEnd(at, end);
                address_.append(at, stop);
                if (stop < end)
                    return true;
                return false;
            }
            char c = *at++;
            if (c == '\n' || c == '\r') {
                matched_ = 0;
                dead_ = false;
            } else if (!dead_) {
                if (UpperAscii(c) == kKey[matched_])
                    capturing_ = ++matched_ == kKeyLength;
                else
                    dead_ = true;
            }
        }
        return false;
    }
    bool Found() const { return capturing_; }
    std::string Take() { return std::move(address_); }

  private:
    static const char* FindLineEnd(const char* at, const char* end) {
        while (at < end && *at != '\n' && *at != '\r')
            ++at;
        return at;
    }
    static constexpr const char* kKey = "BASEURL=";
    static constexpr std::size_t kKeyLength = 8;
    std::size_t matched_ = 0;
    bool dead_ = false;  // the line has stopped matching the key
    bool capturing_ = false;
    std::string address_;
};

ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<std::string> ReadBaseURL(const std::string& path) {
    // Non-blocking, so that a FIFO put in its place cannot stall the scan.
    TFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st {};
    if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    TBaseUrlFinder finder;
    std::array<char, 16384> buffer;
    for (;;) {
        ssize_t got = ReadSome(fd.Get(), buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0 || finder.Feed(buffer.data(), static_cast<std::size_t>(got)))
            break;
    }
    if (!finder.Found())
        return std::nullopt;
    return finder.Take();
}

bool HasUrlExtension(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4)
        return false;
    return UpperAscii(name[dot + 1]) == 'U' && UpperAscii(name[dot + 2]) == 'R' &&
           UpperAscii(name[dot + 3]) == 'L';
}

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
    visited_.clear();
    auto finish = [this] {
        batching_ = false;
        visited_.clear();
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
        imageIndex_ = ChooseIcon();
        root_ = browser_.Folder();
        Walk(root_, 0);
    });
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
    Batch([&] { ReadOne(path, name); });
}

void TFavoriteScanner::Walk(const std::string& folder, int depth) {
    if (depth >= kMaxDepth)
        return;
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    std::vector<TEntry> entries;
    if (!ReadDirectory(dir, entries))
        return;
    auto& app = sys::Application::Instance();
    for (const TEntry& entry : entries) {
        app.ProcessMessages();
        std::string path = dir + entry.name;
        bool isDir = entry.type == DT_DIR;
        if (entry.type == DT_LNK || entry.type == DT_UNKNOWN)
            isDir = IsDirectory(path);
        if (isDir)
            Walk(path + '/', depth + 1);
        else if (HasUrlExtension(entry.name))
            ReadOne(path, entry.name);
    }
}

// Reads a folder's entries in the order the file system gives them and closes it again, so
// that deep nesting holds no descriptors. False for a folder that cannot be read or that this
// call has entered before (through a link).
bool TFavoriteScanner::ReadDirectory(const std::string& folder, std::vector<TEntry>& entries) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    struct stat st {};
    bool fresh = fstat(dirfd(dir), &st) == 0 && visited_.emplace(st.st_dev, st.st_ino).second;
    while (fresh) {
        errno = 0;
        dirent* entry = readdir(dir);
        if (!entry)
            break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
            entries.push_back({name, entry->d_type});
    }
    closedir(dir);
    return fresh;
}

void TFavoriteScanner::ReadOne(const std::string& path, const std::string& name) {
    std::optional<std::string> address = ReadBaseURL(path);
    if (!address || address->empty())
        return;
    TFavoriteRow row;
    row.Name = name.substr(0, name.rfind('.'));
    std::string folderPart = path.substr(0, path.rfind('/') + 1);
    row.Pfad = folderPart.size() > root_.size() ? folderPart.substr(root_.size()) : std::string();
    row.URL = std::move(*address);
    row.Datei = path;
    row.ImageIndex = imageIndex_;
    pending_.push_back(std::move(row));
}
