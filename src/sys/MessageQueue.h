// The per-thread queue behind the message calls: posted messages, descriptor watches on epoll
// and a wake-up eventfd. Internal to sys; other layers use Messages.h and Poller.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Messages.h"

namespace sys {

class MessageQueue {
  public:
    using FdHandler = std::function<void(std::uint32_t events)>;

    // The calling thread's queue, made on first use and kept until the thread ends.
    static MessageQueue& Current();
    static std::shared_ptr<MessageQueue> CurrentShared();

    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // Any thread. Only a post from another thread wakes a sleeping owner; the owner must
    // look at the queue before it sleeps.
    void Post(const MSG& msg);

    // Owner thread only.
    bool Take(MSG& msg, HWND filter, UINT msgMin, UINT msgMax, bool remove);
    bool Empty() const;
    std::size_t Size() const;
    // A copy of the waiting messages, for the tests' count of what a test left behind.
    std::vector<MSG> Snapshot() const;
    // One epoll_wait (timeoutMs -1 blocks); runs the handlers of ready descriptors.
    void Poll(int timeoutMs);
    // True when a look without blocking could find something new: no Poll began within the
    // pace, or a signal handler asked for a prompt look (RequestPromptLook).
    bool LookDue(std::chrono::steady_clock::duration pace) const;
    int EpollFd() const { return epollFd_; }

    std::uint64_t AddWatch(int fd, std::uint32_t events, FdHandler handler);
    bool ModifyWatch(std::uint64_t id, std::uint32_t events);
    // unregister false: the caller closes the descriptor, which takes it off epoll. Events
    // still collected for it find no watch and are dropped.
    void RemoveWatch(std::uint64_t id, bool unregister = true);

    bool SetTimer(HWND h, std::uintptr_t id, unsigned ms);
    bool KillTimer(HWND h, std::uintptr_t id);
    void KillTimersOf(HWND h);

    // Watches besides those of the timers, and the timers.
    std::size_t WatchCount() const { return watches_.size() - timers_.size(); }
    std::size_t TimerCount() const { return timers_.size(); }

  private:
    struct Watch {
        int fd;
        std::shared_ptr<FdHandler> handler;
    };
    struct Timer {
        int fd;
        std::uint64_t watch;
    };

    void Wake();
    void DrainWakeFd();
    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

    const std::thread::id owner_;  // the thread that made the queue (it is thread_local)
    mutable std::mutex mutex_;
    std::deque<MSG> queue_;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::uint64_t nextWatch_ = 1;
    std::chrono::steady_clock::time_point lastPoll_{};
    std::unordered_map<std::uint64_t, Watch> watches_;
    std::map<std::pair<HWND, std::uintptr_t>, Timer> timers_;
};

// True when h is a live window of another thread: its timers belong to that thread's queue.
bool WindowOfOtherThread(HWND h);

}  // namespace sys
