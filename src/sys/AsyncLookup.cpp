#include "AsyncLookup.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "HostEntry.h"

namespace sys::winsock {

namespace {

struct Task {
    HANDLE id = 0;
    HWND window = 0;
    UINT msg = 0;
    char* buf = nullptr;
    int buflen = 0;
    bool byAddr = false;
    ADDRESSLIST* list = nullptr;  // set for a look-up of both families
    std::string name;
    in_addr addr{};
};

std::mutex gateMutex;
std::function<void()> lookupGate;

void PassLookupGate() {
    std::function<void()> gate;
    {
        std::lock_guard lock(gateMutex);
        gate = lookupGate;
    }
    if (gate)
        gate();
}

// Workers are made on demand up to a small limit and then wait for more tasks for the rest of
// the process. The pool is never destroyed: a worker may still sit in a slow resolver call
// when the program ends.
class LookupPool {
  public:
    static LookupPool& Instance() {
        static LookupPool* pool = new LookupPool;
        return *pool;
    }

    HANDLE Submit(std::shared_ptr<Task> task) {
        std::lock_guard lock(mutex_);
        task->id = nextId_++;
        live_[task->id] = task;
        queue_.push_back(task);
        if (idle_ == 0 && threads_ < kMaxThreads) {
            ++threads_;
            std::thread([this] { Work(); }).detach();
        }
        wake_.notify_one();
        return task->id;
    }

    int Cancel(HANDLE id) {
        std::lock_guard lock(mutex_);
        if (id == 0 || id >= nextId_) {
            WSASetLastError(WSAEINVAL);
            return SOCKET_ERROR;
        }
        // A task that is queued or running is forgotten: its worker finds it gone and neither
        // writes nor posts. One that already completed has nothing more to do either.
        live_.erase(id);
        return 0;
    }

  private:
    // A check run has up to 256 rows in flight, each asking for its host's name: a name server
    // that is slow for a few names must not keep the others waiting behind them.
    static constexpr int kMaxThreads = 32;

    void Work() {
        for (;;) {
            std::shared_ptr<Task> task = NextTask();
            PassLookupGate();
            if (task->list) {
                ADDRESSLIST list;
                int error = detail::ResolveAll(task->name, list);
                CompleteList(*task, list, error);
                continue;
            }
            detail::HostResult result =
                task->byAddr ? detail::ResolveAddr(task->addr) : detail::ResolveName(task->name);
            Complete(*task, result);
        }
    }

    // The next task that is still wanted: one cancelled while it waited is dropped unresolved,
    // so that it holds up no worker.
    std::shared_ptr<Task> NextTask() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [this] { return !queue_.empty(); });
            --idle_;
            auto task = queue_.front();
            queue_.pop_front();
            if (live_.count(task->id) != 0)
                return task;
        }
    }

    void Complete(const Task& task, const detail::HostResult& result) {
        // Under the lock, so that a cancel either comes first (nothing written) or finds the
        // task completed.
        std::lock_guard lock(mutex_);
        if (live_.erase(task.id) == 0)
            return;
        int error = result.error;
        if (!error && !detail::WriteHostEntry(result, task.buf, task.buflen))
            error = WSAENOBUFS;
        PostMessage(task.window, task.msg, static_cast<WPARAM>(task.id),
                    WSAMAKESELECTREPLY(0, error));
    }

    void CompleteList(const Task& task, const ADDRESSLIST& list, int error) {
        std::lock_guard lock(mutex_);
        if (live_.erase(task.id) == 0)
            return;
        if (!error)
            *task.list = list;
        PostMessage(task.window, task.msg, static_cast<WPARAM>(task.id),
                    WSAMAKESELECTREPLY(0, error));
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Task>> queue_;
    std::unordered_map<HANDLE, std::shared_ptr<Task>> live_;
    HANDLE nextId_ = 1;
    int threads_ = 0;
    int idle_ = 0;
};

bool CanStart(HWND h, const char* buf, int buflen) {
    if (StartupCount() <= 0) {
        WSASetLastError(WSANOTINITIALISED);
        return false;
    }
    if (!IsWindow(h) || !buf || buflen <= 0) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return true;
}

std::shared_ptr<Task> NewTask(HWND h, UINT msg, char* buf, int buflen) {
    auto task = std::make_shared<Task>();
    task->window = h;
    task->msg = msg;
    task->buf = buf;
    task->buflen = buflen;
    return task;
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND h, UINT msg, const char* name, char* buf, int buflen) {
    if (!CanStart(h, buf, buflen))
        return 0;
    if (!name) {
        WSASetLastError(WSAEINVAL);
        return 0;
    }
    auto task = NewTask(h, msg, buf, buflen);
    task->name = name;
    return LookupPool::Instance().Submit(std::move(task));
}

HANDLE WSAAsyncGetAddrInfo(HWND h, UINT msg, const char* name, ADDRESSLIST* list) {
    if (!CanStart(h, reinterpret_cast<const char*>(list), list ? 1 : 0))
        return 0;
    if (!name) {
        WSASetLastError(WSAEINVAL);
        return 0;
    }
    auto task = NewTask(h, msg, nullptr, 0);
    task->list = list;
    task->name = name;
    return LookupPool::Instance().Submit(std::move(task));
}

HANDLE WSAAsyncGetHostByAddr(HWND h, UINT msg, const char* addr, int len, int type, char* buf,
                             int buflen) {
    if (!CanStart(h, buf, buflen))
        return 0;
    if (!addr || len != 4 || type != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return 0;
    }
    auto task = NewTask(h, msg, buf, buflen);
    task->byAddr = true;
    std::memcpy(&task->addr, addr, 4);
    return LookupPool::Instance().Submit(std::move(task));
}

int WSACancelAsyncRequest(HANDLE task) {
    return LookupPool::Instance().Cancel(task);
}

void detail::SetLookupGateForTest(std::function<void()> gate) {
    std::lock_guard lock(gateMutex);
    lookupGate = std::move(gate);
}

}  // namespace sys::winsock
