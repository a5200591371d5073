// A descriptor that is closed when its owner goes.
#pragma once

#include <unistd.h>

namespace testsupport {

class TFd {
  public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    void Close() { Reset(-1); }
    // Hands the descriptor over without closing it.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

}  // namespace testsupport
