#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "RunLoop.h"
#include "sys/AsyncLookup.h"

using namespace sys;
namespace ws = sys::winsock;
using testsupport::RunLoopUntil;
using ws::FD_ACCEPT;
using ws::FD_CLOSE;
using ws::FD_CONNECT;
using ws::FD_READ;
using ws::FD_WRITE;
using ws::HANDLE;
using ws::INVALID_SOCKET;
using ws::SOCKET;
using ws::SOCKET_ERROR;
using ws::WSAECONNREFUSED;
using ws::WSAECONNRESET;
using ws::WSAEINVAL;
using ws::WSAENOBUFS;
using ws::WSAENOTSOCK;
using ws::WSAEWOULDBLOCK;
using ws::WSAHOST_NOT_FOUND;
using ws::WSANOTINITIALISED;

namespace {

constexpr UINT kMsg = WM_USER + 9;

class AsyncLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        ws::WSAStartup(0x0101, nullptr);
        window_ = AllocateHWnd([this](TMessage& m) {
            if (m.Msg == kMsg)
                done_.emplace_back(m.WParam, ws::WSAGETASYNCERROR(m.LParam));
        });
    }
    void TearDown() override {
        DeallocateHWnd(window_);
        ws::WSACleanup();
    }
    HWND window_ = 0;
    std::vector<std::pair<HANDLE, int>> done_;
    alignas(8) char buf_[1025];
};

}  // namespace

TEST_F(AsyncLookup, NameLookupFillsTheHostEntryAndPostsItsHandle) {
    HANDLE task = ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, sizeof buf_);
    ASSERT_NE(task, 0u);
    ASSERT_TRUE(RunLoopUntil([&] { return !done_.empty(); }));
    EXPECT_EQ(done_[0], (std::pair<HANDLE, int>{task, 0}));
    auto* entry = reinterpret_cast<const hostent*>(buf_);
    EXPECT_EQ(entry->h_addrtype, AF_INET);
    EXPECT_EQ(entry->h_length, 4);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    in_addr first;
    std::memcpy(&first, entry->h_addr_list[0], 4);
    EXPECT_STREQ(ws::inet_ntoa(first), "127.0.0.1");
}

TEST_F(AsyncLookup, FailuresCarryTheErrorAndTooSmallBuffersAreRefused) {
    HANDLE missing = ws::WSAAsyncGetHostByName(window_, kMsg, "nothing.invalid", buf_, sizeof buf_);
    HANDLE cramped = ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, 16);
    ASSERT_TRUE(RunLoopUntil([&] { return done_.size() == 2; }));
    for (auto [task, error] : done_)
        EXPECT_EQ(error, task == missing ? WSAHOST_NOT_FOUND : WSAENOBUFS);
    EXPECT_NE(missing, cramped);
}

TEST_F(AsyncLookup, CancelledTaskPostsNothing) {
    // The worker is held before it resolves, so the cancel surely comes while the task runs.
    // Shared, so that the held worker never touches this test's frame after it ends.
    auto entered = std::make_shared<std::promise<void>>();
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    auto first = std::make_shared<std::atomic<bool>>(true);
    ws::detail::SetLookupGateForTest([entered, released, first] {
        if (!first->exchange(false))
            return;
        entered->set_value();
        released.wait_for(std::chrono::seconds(10));
    });
    HANDLE task =
        ws::WSAAsyncGetHostByAddr(window_, kMsg, "\x7f\0\0\x01", 4, AF_INET, buf_, sizeof buf_);
    ASSERT_NE(task, 0u);
    ASSERT_EQ(entered->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(ws::WSACancelAsyncRequest(task), 0);
    ws::detail::SetLookupGateForTest(nullptr);
    release->set_value();
    HANDLE marker = ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, sizeof buf_);
    ASSERT_TRUE(RunLoopUntil([&] { return !done_.empty(); }));
    RunLoopUntil([] { return false; }, std::chrono::milliseconds(200));
    ASSERT_EQ(done_.size(), 1u);
    EXPECT_EQ(done_[0].first, marker);
    EXPECT_GT(marker, task);
    EXPECT_EQ(ws::WSACancelAsyncRequest(marker + 1000), SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), WSAEINVAL);
}

namespace {

// Counts the workers that reached the resolver and holds them there until released.
struct TGate {
    std::mutex mutex;
    std::condition_variable changed;
    int passes = 0;
    bool released = false;

    void Pass() {
        std::unique_lock lock(mutex);
        ++passes;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
    }
    // True when passes reaches count within the bound.
    bool WaitPasses(int count, std::chrono::milliseconds bound) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, bound, [&] { return passes >= count; });
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
};

}  // namespace

TEST_F(AsyncLookup, TasksCancelledWhileQueuedAreNeverResolved) {
    // Every worker of the pool is held at the gate by one task; a task that no worker takes up
    // within a moment waits in the queue. Tasks cancelled there must never reach the resolver.
    auto gate = std::make_shared<TGate>();
    ws::detail::SetLookupGateForTest([gate] { gate->Pass(); });
    std::vector<HANDLE> held, cancelled;
    for (;;) {
        HANDLE task = ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, sizeof buf_);
        const int heldBefore = static_cast<int>(held.size());
        if (!gate->WaitPasses(heldBefore + 1, std::chrono::milliseconds(200))) {
            cancelled.push_back(task);  // all workers are busy: this one waits
            break;
        }
        held.push_back(task);
        ASSERT_LE(held.size(), 64u) << "the pool should be bounded";
    }
    for (int i = 0; i < 8; ++i)
        cancelled.push_back(
            ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, sizeof buf_));
    for (HANDLE task : cancelled)
        EXPECT_EQ(ws::WSACancelAsyncRequest(task), 0);
    gate->Release();
    HANDLE marker = ws::WSAAsyncGetHostByName(window_, kMsg, "localhost", buf_, sizeof buf_);
    ASSERT_TRUE(RunLoopUntil([&] { return done_.size() == held.size() + 1; }));
    ws::detail::SetLookupGateForTest(nullptr);
    EXPECT_EQ(gate->passes, static_cast<int>(held.size()) + 1);  // the held tasks and the marker
    for (auto [task, error] : done_)
        EXPECT_EQ(std::count(cancelled.begin(), cancelled.end(), task), 0) << task;
    EXPECT_TRUE(
        std::any_of(done_.begin(), done_.end(), [&](auto& d) { return d.first == marker; }));
}
