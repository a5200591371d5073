#include "Interrupt.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

// The one descriptor the handler may touch; only async-signal-safe calls happen there.
volatile int signalFd = -1;

void OnSignal(int) {
    int saved = errno;
    std::uint64_t one = 1;
    if (signalFd >= 0) {
        [[maybe_unused]] auto written = ::write(signalFd, &one, sizeof one);
    }
    errno = saved;
}

void Install(int signal, struct sigaction* old) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The first signal stops the run gently; the second one finds the default action again.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(signal, &action, old);
}

}  // namespace

TInterrupt::TInterrupt(std::function<void()> onInterrupt) : onInterrupt_(std::move(onInterrupt)) {
    eventFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    window_ = sys::AllocateHWnd([this](sys::TMessage& m) { Taken(m); });
    watch_ = sys::WatchFdPost(eventFd_, EPOLLIN, window_, sys::WM_USER);
    signalFd = eventFd_;
    Install(SIGINT, &oldInt_);
    Install(SIGTERM, &oldTerm_);
}

TInterrupt::~TInterrupt() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    signalFd = -1;
    sys::UnwatchFd(watch_);
    sys::DeallocateHWnd(window_);
    ::close(eventFd_);
}

void TInterrupt::Taken(sys::TMessage&) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(eventFd_, &count, sizeof count);
    sys::ModifyFdWatch(watch_, EPOLLIN);
    happened_ = true;
    if (onInterrupt_)
        onInterrupt_();
}
