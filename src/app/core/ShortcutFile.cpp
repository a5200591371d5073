#include "ShortcutFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "ProfileText.h"
#include "ShortcutProfile.h"
#include "sys/AsciiText.h"
#include "sys/LongPath.h"

namespace {

// Shortcut files are a few hundred bytes; whatever lies beyond this is not read.
constexpr std::size_t kMostBytes = 1 << 20;

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

bool ReadAll(int fd, std::string& bytes) {
    char buffer[16384];
    while (bytes.size() < kMostBytes) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

TShortcut ReadOpened(int fd, TShortcutKind kind, bool knownRegular) {
    std::string bytes;
    if (fd < 0 || (!knownRegular && !IsRegularFile(fd)) || !ReadAll(fd, bytes))
        return {};
    return ShortcutIn(bytes, kind);
}

bool IsAddressText(const std::string& value) {
    return !value.empty() &&
           value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

TShortcut Found(std::optional<std::string> address) {
    if (address && IsAddressText(*address))
        return {TShortcutState::Address, std::move(*address)};
    return {TShortcutState::NoAddress, {}};
}

TShortcut UrlShortcut(const TProfile& profile) {
    if (auto wide = profile.Value("InternetShortcut.W", "URL"))
        if (std::string decoded = DecodeUtf7(*wide); IsAddressText(decoded))
            return {TShortcutState::Address, std::move(decoded)};
    if (auto url = profile.Value("InternetShortcut", "URL"); url && IsAddressText(*url))
        return {TShortcutState::Address, std::move(*url)};
    return Found(profile.AnyValue("BASEURL"));
}

TShortcut DesktopShortcut(const TProfile& profile) {
    auto type = profile.Value("Desktop Entry", "Type");
    if (!type || sys::UpperAscii(*type) != "LINK")
        return {TShortcutState::NotALink, {}};
    auto url = profile.Value("Desktop Entry", "URL");
    return Found(url ? std::optional(DesktopUnescaped(*url)) : std::nullopt);
}

}  // namespace

TShortcutKind ShortcutKindOf(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return TShortcutKind::None;
    std::string extension = sys::UpperAscii(name.substr(dot));
    if (extension == ".URL")
        return TShortcutKind::Url;
    if (extension == ".DESKTOP")
        return TShortcutKind::Desktop;
    return TShortcutKind::None;
}

TShortcut ShortcutIn(std::string_view bytes, TShortcutKind kind) {
    if (kind == TShortcutKind::None)
        return {TShortcutState::NotALink, {}};
    const TProfile profile(ProfileText(bytes));
    return kind == TShortcutKind::Url ? UrlShortcut(profile) : DesktopShortcut(profile);
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
