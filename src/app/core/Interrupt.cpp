#include "Interrupt.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

// The only state the handler touches; only async-signal-safe calls happen there.
volatile int signalFd = -1;
volatile std::sig_atomic_t lastSignal = 0;

void OnSignal(int signal) {
    int saved = errno;
    lastSignal = signal;
    std::uint64_t one = 1;
    if (signalFd >= 0) {
        [[maybe_unused]] auto written = ::write(signalFd, &one, sizeof one);
    }
    sys::RequestPromptLook();  // the loop looks between rows only now and then
    errno = saved;
}

struct sigaction Install(int signal) {
    struct sigaction action {
    }, old{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The first signal stops the program gently; the second one finds the default action.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(signal, &action, &old);
    return old;
}

}  // namespace

TInterrupt::TInterrupt(std::initializer_list<int> watched,
                       std::function<void(int signal)> onInterrupt)
    : onInterrupt_(std::move(onInterrupt)) {
    eventFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    window_ = sys::AllocateHWnd([this](sys::TMessage& m) { Taken(m); });
    watch_ = sys::WatchFdPost(eventFd_, EPOLLIN, window_, sys::WM_USER);
    lastSignal = 0;
    signalFd = eventFd_;
    for (int signal : watched)
        old_.emplace_back(signal, Install(signal));
}

TInterrupt::~TInterrupt() {
    for (const auto& [signal, old] : old_)
        ::sigaction(signal, &old, nullptr);
    signalFd = -1;
    sys::UnwatchFd(watch_);
    sys::DeallocateHWnd(window_);
    ::close(eventFd_);
}

void TInterrupt::Taken(sys::TMessage&) {
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(eventFd_, &count, sizeof count);
    sys::ModifyFdWatch(watch_, EPOLLIN);
    const int signal = lastSignal;
    if (signal_ == 0)
        signal_ = signal;
    if (onInterrupt_)
        onInterrupt_(signal);
}
