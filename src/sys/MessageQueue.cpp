#include "MessageQueue.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include "Assert.h"
#include "Poller.h"

namespace sys {

namespace {

constexpr std::uint64_t kWakeId = 0;  // watch ids start at 1

// Set from signal handlers: only a lock-free store may happen there.
std::atomic<bool> promptLook{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool Matches(const MSG& m, HWND filter, UINT msgMin, UINT msgMax) {
    if (filter != 0 && m.hwnd != filter)
        return false;
    if (msgMin == 0 && msgMax == 0)
        return true;
    return m.message >= msgMin && m.message <= msgMax;
}

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::CurrentShared() {
    thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
    return queue;
}

MessageQueue& MessageQueue::Current() {
    thread_local MessageQueue* cached = CurrentShared().get();
    return *cached;
}

MessageQueue::MessageQueue() : owner_(std::this_thread::get_id()) {
    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epollFd_ < 0 || wakeFd_ < 0)
        throw std::runtime_error("message queue: out of descriptors");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeId;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
}

MessageQueue::~MessageQueue() {
    for (auto& [key, timer] : timers_)
        close(timer.fd);
    close(wakeFd_);
    close(epollFd_);
}

void MessageQueue::Post(const MSG& msg) {
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        wasEmpty = queue_.empty();
        queue_.push_back(msg);
    }
    // Only the step from empty to non-empty needs a wake-up: a consumer always empties the
    // queue (or looks at it again) before it sleeps. The owner's own posts need none either,
    // for the same reason (the Qt host looks when Qt is about to block); skipping them saves a
    // write and a read of the eventfd for nearly every socket event.
    if (wasEmpty && std::this_thread::get_id() != owner_)
        Wake();
}

void MessageQueue::Wake() {
    std::uint64_t one = 1;
    while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void MessageQueue::DrainWakeFd() {
    std::uint64_t value;
    while (read(wakeFd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

bool MessageQueue::Take(MSG& msg, HWND filter, UINT msgMin, UINT msgMax, bool remove) {
    std::lock_guard lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (!Matches(*it, filter, msgMin, msgMax))
            continue;
        msg = *it;
        if (remove && it == queue_.begin())
            queue_.pop_front();  // the usual case, without erase's general shuffle
        else if (remove)
            queue_.erase(it);
        return true;
    }
    return false;
}

bool MessageQueue::Empty() const {
    std::lock_guard lock(mutex_);
    return queue_.empty();
}

std::size_t MessageQueue::Size() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

std::vector<MSG> MessageQueue::Snapshot() const {
    std::lock_guard lock(mutex_);
    return {queue_.begin(), queue_.end()};
}

void RequestPromptLook() {
    promptLook.store(true, std::memory_order_relaxed);
}

bool MessageQueue::LookDue(std::chrono::steady_clock::duration pace) const {
    return promptLook.load(std::memory_order_relaxed) ||
           std::chrono::steady_clock::now() - lastPoll_ >= pace;
}

void MessageQueue::Poll(int timeoutMs) {
    // Cleared before the wait, so that a signal during it asks for the next look too; the
    // time is that of the wait's end, what a later look could miss begins there.
    promptLook.store(false, std::memory_order_relaxed);
    epoll_event events[64];
    int n = epoll_wait(epollFd_, events, 64, timeoutMs);
    lastPoll_ = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        std::uint64_t id = events[i].data.u64;
        if (id == kWakeId) {
            DrainWakeFd();
            continue;
        }
        // A handler earlier in this batch may have removed this watch.
        auto it = watches_.find(id);
        if (it == watches_.end())
            continue;
        std::shared_ptr<FdHandler> handler = it->second.handler;
        (*handler)(events[i].events);
    }
}

std::uint64_t MessageQueue::AddWatch(int fd, std::uint32_t events, FdHandler handler) {
    QV_ASSERT(OnOwnerThread(), "a watch added from a thread that does not own the queue");
    std::uint64_t id = nextWatch_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) < 0)
        return 0;
    watches_.emplace(id, Watch{fd, std::make_shared<FdHandler>(std::move(handler))});
    return id;
}

bool MessageQueue::ModifyWatch(std::uint64_t id, std::uint32_t events) {
    QV_ASSERT(OnOwnerThread(), "a watch changed from a thread that does not own the queue");
    auto it = watches_.find(id);
    if (it == watches_.end())
        return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = id;
    return epoll_ctl(epollFd_, EPOLL_CTL_MOD, it->second.fd, &ev) == 0;
}

void MessageQueue::RemoveWatch(std::uint64_t id, bool unregister) {
    QV_ASSERT(OnOwnerThread(), "a watch removed from a thread that does not own the queue");
    auto it = watches_.find(id);
    if (it == watches_.end())
        return;
    // The descriptor may already be closed (epoll forgot it then); the error does not matter.
    if (unregister)
        epoll_ctl(epollFd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    watches_.erase(it);
}

bool MessageQueue::SetTimer(HWND h, std::uintptr_t id, unsigned ms) {
    QV_ASSERT(OnOwnerThread(), "a timer set from a thread that does not own the queue");
    QV_ASSERT(!WindowOfOtherThread(h), "a timer set for a window of another thread");
    KillTimer(h, id);
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0)
        return false;
    itimerspec timing{};
    timing.it_value.tv_sec = ms / 1000;
    timing.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    if (ms == 0)
        timing.it_value.tv_nsec = 1;  // zero would disarm the timer
    timing.it_interval = timing.it_value;
    timerfd_settime(fd, 0, &timing, nullptr);
    std::uint64_t watch = AddWatch(fd, EPOLLIN, [fd, h, id](std::uint32_t) {
        std::uint64_t expirations;
        if (read(fd, &expirations, sizeof expirations) > 0)
            PostMessage(h, WM_TIMER, id, 0);
    });
    if (watch == 0) {
        close(fd);
        return false;
    }
    timers_[{h, id}] = Timer{fd, watch};
    return true;
}

bool MessageQueue::KillTimer(HWND h, std::uintptr_t id) {
    QV_ASSERT(OnOwnerThread(), "a timer killed from a thread that does not own the queue");
    auto it = timers_.find({h, id});
    if (it == timers_.end())
        return false;
    RemoveWatch(it->second.watch);
    close(it->second.fd);
    timers_.erase(it);
    return true;
}

void MessageQueue::KillTimersOf(HWND h) {
    std::vector<std::uintptr_t> ids;
    for (auto& [key, timer] : timers_)
        if (key.first == h)
            ids.push_back(key.second);
    for (auto id : ids)
        KillTimer(h, id);
}

}  // namespace sys
