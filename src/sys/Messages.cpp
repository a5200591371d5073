#include "Messages.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "Assert.h"
#include "MessageQueue.h"

namespace sys {

namespace {

struct WindowEntry {
    std::weak_ptr<MessageQueue> queue;
    std::thread::id owner;
    std::shared_ptr<TWndMethod> proc;
};

struct WindowTable {
    std::mutex mutex;
    std::unordered_map<HWND, WindowEntry> windows;
    HWND next = 1;
};

WindowTable& Windows() {
    static WindowTable* table = new WindowTable;  // lives as long as any thread may post
    return *table;
}

}  // namespace

HWND AllocateHWnd(TWndMethod proc) {
    auto queue = MessageQueue::CurrentShared();
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    HWND h = table.next++;
    table.windows.emplace(h, WindowEntry{queue, std::this_thread::get_id(),
                                         std::make_shared<TWndMethod>(std::move(proc))});
    return h;
}

void DeallocateHWnd(HWND h) {
    if (h == 0)
        return;
    auto& table = Windows();
    bool ownedHere = false;
    {
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(h);
        if (it == table.windows.end())
            return;
        ownedHere = it->second.owner == std::this_thread::get_id();
        table.windows.erase(it);
    }
    if (ownedHere)
        MessageQueue::Current().KillTimersOf(h);
}

bool IsWindow(HWND h) {
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    return table.windows.count(h) != 0;
}

bool PostMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    {
        auto& table = Windows();
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(h);
        if (it == table.windows.end())
            return false;
        queue = it->second.queue.lock();
    }
    if (!queue)
        return false;
    queue->Post(MSG{h, msg, wParam, lParam});
    return true;
}

void PostQuitMessage(int exitCode) {
    MessageQueue::Current().Post(MSG{0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}

bool PeekMessage(MSG& msg, HWND filter, UINT msgMin, UINT msgMax, UINT removeFlag) {
    auto& queue = MessageQueue::Current();
    bool remove = (removeFlag & PM_REMOVE) != 0;
    if (queue.Take(msg, filter, msgMin, msgMax, remove))
        return true;
    queue.Poll(0);
    return queue.Take(msg, filter, msgMin, msgMax, remove);
}

bool GetMessage(MSG& msg, HWND filter, UINT msgMin, UINT msgMax) {
    auto& queue = MessageQueue::Current();
    while (!queue.Take(msg, filter, msgMin, msgMax, true))
        queue.Poll(-1);
    return msg.message != WM_QUIT;
}

void WaitMessage() {
    auto& queue = MessageQueue::Current();
    while (queue.Empty())
        queue.Poll(-1);
}

LRESULT DispatchMessage(const MSG& msg) {
    std::shared_ptr<TWndMethod> proc;
    {
        auto& table = Windows();
        std::lock_guard lock(table.mutex);
        auto it = table.windows.find(msg.hwnd);
        if (it == table.windows.end())
            return 0;
        QV_ASSERT(it->second.owner == std::this_thread::get_id(),
                  "a window procedure run on a thread that does not own the window");
        proc = it->second.proc;  // the copy keeps the procedure alive if it deallocates itself
    }
    TMessage m{msg.message, msg.wParam, msg.lParam, 0};
    if (*proc)
        (*proc)(m);
    return m.Result;
}

std::size_t PendingMessageCount() {
    return MessageQueue::Current().Size();
}

bool WindowOfOtherThread(HWND h) {
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    auto it = table.windows.find(h);
    return it != table.windows.end() && it->second.owner != std::this_thread::get_id();
}

std::size_t LiveWindowCount() {
    auto& table = Windows();
    std::lock_guard lock(table.mutex);
    return table.windows.size();
}

std::size_t WatchCount() {
    return MessageQueue::Current().WatchCount();
}

std::size_t TimerCount() {
    return MessageQueue::Current().TimerCount();
}

std::size_t PendingLiveMessageCount() {
    std::size_t count = 0;
    for (const MSG& msg : MessageQueue::Current().Snapshot())
        if (msg.hwnd == 0 || IsWindow(msg.hwnd))
            ++count;
    return count;
}

}  // namespace sys
