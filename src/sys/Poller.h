// Descriptor watches and timers of the calling thread's message loop. Readiness is collected
// whenever the loop looks for messages; handlers run on the owning thread and should only
// post messages, so that everything else happens in dispatch order.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "Messages.h"

namespace sys {

using FdWatchId = std::uint64_t;
using FdHandler = std::function<void(std::uint32_t epollEvents)>;

// events are epoll bits (EPOLLIN, EPOLLOUT, ...), level-triggered. 0 on failure (errno set).
FdWatchId WatchFd(int fd, std::uint32_t events, FdHandler handler);
// Changes the watched bits; 0 leaves the descriptor registered but silent.
bool ModifyFdWatch(FdWatchId id, std::uint32_t events);
// Stops the watch; safe from inside any handler, including its own.
void UnwatchFd(FdWatchId id);
// The same for a descriptor that the caller closes right after: closing takes it off epoll,
// which spares a system call. Only for descriptors opened close-on-exec and never duplicated,
// so that no other reference keeps the registration alive.
void ForgetFdWatch(FdWatchId id);
// A watch that posts msg to h with wParam = fd and lParam = the ready epoll bits, then stays
// silent until the receiver re-arms it with ModifyFdWatch.
FdWatchId WatchFdPost(int fd, std::uint32_t events, HWND h, UINT msg);

// Readable whenever the calling thread's loop has something to collect: a post from another
// thread, a ready watch or an expired timer. The Qt host sleeps on it; posts made by the
// thread itself do not make it readable, so a host must check PendingMessageCount() before
// it sleeps.
int QueueWaitFd();
// Collects readiness without blocking (what PeekMessage does when the queue is empty).
void CollectReadiness();
// How often a caller between many short steps (every scanned file, every checked row) asks the
// kernel for readiness; a loop that has just waited has nothing new to find.
inline constexpr std::chrono::milliseconds kLookPace{1};
// Whether CollectReadiness could find something new: no look within kLookPace, or a prompt
// look was requested since the last one.
bool ReadinessLookDue();
// Async-signal-safe: the next paced look asks the kernel whatever the pace, so that a signal
// whose handler wrote to a watched descriptor is seen at once.
void RequestPromptLook();

// Posts WM_TIMER (wParam = id) to h every ms milliseconds until KillTimer. Owner thread only.
bool SetTimer(HWND h, std::uintptr_t id, unsigned ms);
bool KillTimer(HWND h, std::uintptr_t id);

}  // namespace sys
