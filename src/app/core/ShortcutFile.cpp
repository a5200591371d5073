#include "ShortcutFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include "ProfileText.h"
#include "ShortcutProfile.h"
#include "sys/AsciiText.h"
#include "sys/LongPath.h"

namespace {

// Shortcut files are a few hundred bytes; whatever lies beyond this is not read.
constexpr std::size_t kMostBytes = 1 << 20;
constexpr std::size_t kSmall = 16384;  // read without an allocation

// Non-blocking, so that a FIFO put in a file's place cannot stall the scan.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

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

// Reads up to kMostBytes into small, or into large when they do not fit; returns a view of
// them, or nothing when a read fails. For a regular file a short read is its end, which saves
// the read that would only say so.
std::optional<std::string_view> ReadAll(int fd, std::array<char, kSmall>& small,
                                        std::string& large) {
    std::size_t got = 0;
    while (got < small.size()) {
        ssize_t n = read(fd, small.data() + got, small.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0 || (got += static_cast<std::size_t>(n)) < small.size())
            return std::string_view(small.data(), got);
    }
    large.assign(small.data(), got);
    char buffer[kSmall];
    while (large.size() < kMostBytes) {
        ssize_t n = read(fd, buffer, std::min(sizeof buffer, kMostBytes - large.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        large.append(buffer, static_cast<std::size_t>(n));
    }
    return large;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

TShortcut ReadOpened(int fd, TShortcutKind kind, bool knownRegular) {
    if (fd < 0 || (!knownRegular && !IsRegularFile(fd)))
        return {};
    std::array<char, kSmall> small;
    std::string large;
    std::optional<std::string_view> bytes = ReadAll(fd, small, large);
    return bytes ? ShortcutIn(*bytes, kind) : TShortcut{};
}

bool IsAddressText(std::string_view value) {
    for (char c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return !value.empty();
}

TShortcut Found(std::optional<std::string> address) {
    if (address && IsAddressText(*address))
        return {TShortcutState::Address, std::move(*address)};
    return {TShortcutState::NoAddress, {}};
}

// Keeps the first value that a key line offers.
void KeepFirst(std::optional<std::string_view>& kept, std::string_view value) {
    if (!kept)
        kept = value;
}

TShortcut UrlShortcut(std::string_view text) {
    using profile::SameName;
    std::optional<std::string_view> url, wide, base;
    profile::ForEachEntry(
        text, [&](std::string_view section, std::string_view key, std::string_view value) {
            if (SameName(key, "URL") && SameName(section, "InternetShortcut"))
                KeepFirst(url, value);
            else if (SameName(key, "URL") && SameName(section, "InternetShortcut.W"))
                KeepFirst(wide, value);
            else if (SameName(key, "BASEURL"))
                KeepFirst(base, value);
            return true;
        });
    if (wide)
        if (std::string decoded = DecodeUtf7(*wide); IsAddressText(decoded))
            return {TShortcutState::Address, std::move(decoded)};
    if (url && IsAddressText(*url))
        return {TShortcutState::Address, std::string(*url)};
    return Found(base ? std::optional<std::string>(*base) : std::nullopt);
}

TShortcut DesktopShortcut(std::string_view text) {
    using profile::SameName;
    std::optional<std::string_view> type, url;
    profile::ForEachEntry(
        text, [&](std::string_view section, std::string_view key, std::string_view value) {
            if (SameName(section, "Desktop Entry")) {
                if (SameName(key, "Type"))
                    KeepFirst(type, value);
                else if (SameName(key, "URL"))
                    KeepFirst(url, value);
            }
            return true;
        });
    if (!type || !SameName(*type, "Link"))
        return {TShortcutState::NotALink, {}};
    return Found(url ? std::optional<std::string>(DesktopUnescaped(*url)) : std::nullopt);
}

}  // namespace

TShortcutKind ShortcutKindOf(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return TShortcutKind::None;
    const std::string_view extension = name.substr(dot);
    if (profile::SameName(extension, ".url"))
        return TShortcutKind::Url;
    if (profile::SameName(extension, ".desktop"))
        return TShortcutKind::Desktop;
    return TShortcutKind::None;
}

TShortcut ShortcutIn(std::string_view bytes, TShortcutKind kind) {
    if (kind == TShortcutKind::None)
        return {TShortcutState::NotALink, {}};
    std::string decoded;
    const std::string_view text = ProfileText(bytes, decoded);
    return kind == TShortcutKind::Url ? UrlShortcut(text) : DesktopShortcut(text);
}

TShortcut ReadShortcut(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    TShortcutKind kind = ShortcutKindOf(name);
    if (path.size() < PATH_MAX) {
        TFd fd(open(path.c_str(), kOpenFlags));
        return ReadOpened(fd.Get(), kind, false);
    }
    TFd dir(sys::OpenFolder(path.substr(0, slash), O_PATH));
    return dir.Get() < 0 ? TShortcut{} : ReadShortcutAt(dir.Get(), name.c_str(), kind, false);
}

TShortcut ReadShortcutAt(int dirFd, const char* name, TShortcutKind kind, bool regularEntry) {
    TFd fd(openat(dirFd, name, kOpenFlags | (regularEntry ? O_NOFOLLOW : 0)));
    return ReadOpened(fd.Get(), kind, regularEntry);
}
