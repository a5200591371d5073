#include "Poller.h"

#include <memory>

#include "MessageQueue.h"

namespace sys {

FdWatchId WatchFd(int fd, std::uint32_t events, FdHandler handler) {
    return MessageQueue::Current().AddWatch(fd, events, std::move(handler));
}

bool ModifyFdWatch(FdWatchId id, std::uint32_t events) {
    return MessageQueue::Current().ModifyWatch(id, events);
}

void UnwatchFd(FdWatchId id) {
    MessageQueue::Current().RemoveWatch(id);
}

void ForgetFdWatch(FdWatchId id) {
    MessageQueue::Current().RemoveWatch(id, false);
}

FdWatchId WatchFdPost(int fd, std::uint32_t events, HWND h, UINT msg) {
    auto self = std::make_shared<FdWatchId>(0);
    *self = WatchFd(fd, events, [fd, h, msg, self](std::uint32_t ready) {
        // Silence the watch until the receiver re-arms it, so that a descriptor that stays
        // ready does not flood the queue before the message is handled.
        ModifyFdWatch(*self, 0);
        PostMessage(h, msg, static_cast<WPARAM>(fd), static_cast<LPARAM>(ready));
    });
    return *self;
}

int QueueWaitFd() {
    return MessageQueue::Current().EpollFd();
}

void CollectReadiness() {
    MessageQueue::Current().Poll(0);
}

bool ReadinessLookDue() {
    return MessageQueue::Current().LookDue(kLookPace);
}

bool SetTimer(HWND h, std::uintptr_t id, unsigned ms) {
    return MessageQueue::Current().SetTimer(h, id, ms);
}

bool KillTimer(HWND h, std::uintptr_t id) {
    return MessageQueue::Current().KillTimer(h, id);
}

}  // namespace sys
