#include "ShortcutFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "sys/AsciiText.h"

namespace {

using sys::UpperAscii;

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
                return stop < end;
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

std::optional<std::string> ReadBaseURLFrom(int fd) {
    TBaseUrlFinder finder;
    std::array<char, 16384> buffer;
    for (;;) {
        ssize_t got = ReadSome(fd, buffer.data(), buffer.size());
        if (got < 0)
            return std::nullopt;
        if (got == 0 || finder.Feed(buffer.data(), static_cast<std::size_t>(got)))
            break;
    }
    if (!finder.Found())
        return std::nullopt;
    return finder.Take();
}

// Non-blocking, so that a FIFO put in a file's place cannot stall the scan.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

}  // namespace

std::optional<std::string> ReadBaseURLOfRegularEntry(const std::string& path) {
    TFd fd(open(path.c_str(), kOpenFlags | O_NOFOLLOW));
    return fd.Get() < 0 ? std::nullopt : ReadBaseURLFrom(fd.Get());
}

std::optional<std::string> ReadBaseURL(const std::string& path) {
    TFd fd(open(path.c_str(), kOpenFlags));
    struct stat st {};
    if (fd.Get() < 0 || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return ReadBaseURLFrom(fd.Get());
}

bool HasUrlExtension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4)
        return false;
    return UpperAscii(name[dot + 1]) == 'U' && UpperAscii(name[dot + 2]) == 'R' &&
           UpperAscii(name[dot + 3]) == 'L';
}
