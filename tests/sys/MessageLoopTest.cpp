#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "RunLoop.h"
#include "sys/Application.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

using namespace sys;

namespace {

// Drops whatever earlier tests left in this thread's queue.
void DrainQueue() {
    MSG m;
    while (PeekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
}

struct Recorder {
    std::vector<std::pair<HWND, UINT>> seen;
    std::vector<HWND> windows;
    HWND Window() {
        auto self = std::make_shared<HWND>(0);
        *self = AllocateHWnd([this, self](TMessage& m) { seen.emplace_back(*self, m.Msg); });
        windows.push_back(*self);
        return *self;
    }
    ~Recorder() {
        for (HWND h : windows)
            DeallocateHWnd(h);
    }
};

}  // namespace

TEST(MessageLoop, DeliversInPostingOrderAcrossWindows) {
    DrainQueue();
    Recorder rec;
    std::vector<HWND> w;
    for (int i = 0; i < 3; ++i)
        w.push_back(rec.Window());
    std::vector<std::pair<HWND, UINT>> expected;
    for (UINT i = 0; i < 30; ++i) {
        HWND h = w[(i * 7) % 3];
        EXPECT_TRUE(PostMessage(h, WM_USER + i, 0, 0)) << "message " << i;
        expected.emplace_back(h, WM_USER + i);
    }
    MSG m;
    while (PeekMessage(m, 0, 0, 0, PM_REMOVE))
        DispatchMessage(m);
    EXPECT_EQ(rec.seen, expected);
}

TEST(MessageLoop, HandlesAreNeverReusedAndPostsToDestroyedWindowsAreDropped) {
    DrainQueue();
    int calls = 0;
    HWND a = AllocateHWnd([&](TMessage&) { ++calls; });
    ASSERT_TRUE(PostMessage(a, WM_USER, 0, 0));  // queued before the window goes
    DeallocateHWnd(a);
    EXPECT_FALSE(IsWindow(a));
    EXPECT_FALSE(PostMessage(a, WM_USER, 0, 0));
    HWND b = AllocateHWnd([](TMessage&) {});
    EXPECT_NE(a, b);
    Application::Instance().ProcessMessages();
    EXPECT_EQ(calls, 0);
    DeallocateHWnd(b);
}

TEST(MessageLoop, WindowMayDestroyItselfInsideItsProcedure) {
    DrainQueue();
    int calls = 0;
    HWND h = 0;
    h = AllocateHWnd([&](TMessage&) {
        ++calls;
        DeallocateHWnd(h);
    });
    PostMessage(h, WM_USER, 0, 0);
    PostMessage(h, WM_USER, 0, 0);
    Application::Instance().ProcessMessages();
    EXPECT_EQ(calls, 1);
}

TEST(MessageLoop, PostFromAnotherThreadWakesBlockedGetMessage) {
    DrainQueue();
    HWND h = AllocateHWnd([](TMessage&) {});
    std::atomic<bool> started{false};
    std::thread poster([&] {
        started = true;
        PostMessage(h, WM_USER + 7, 42, -1);
    });
    MSG m;
    ASSERT_TRUE(GetMessage(m, 0, 0, 0));
    poster.join();
    EXPECT_EQ(m.hwnd, h);
    EXPECT_EQ(m.message, WM_USER + 7);
    EXPECT_EQ(m.wParam, 42u);
    EXPECT_EQ(m.lParam, -1);
    DeallocateHWnd(h);
}

TEST(MessageLoop, ManyThreadsPostingKeepEachThreadsOrder) {
    DrainQueue();
    std::vector<std::vector<WPARAM>> got(4);
    HWND h = AllocateHWnd([&](TMessage& m) { got[m.LParam].push_back(m.WParam); });
    constexpr WPARAM kEach = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([h, t] {
            for (WPARAM i = 0; i < kEach; ++i)
                PostMessage(h, WM_USER, i, t);
        });
    auto complete = [&] {
        for (auto& g : got)
            if (g.size() < kEach)
                return false;
        return true;
    };
    EXPECT_TRUE(testsupport::RunLoopUntil(complete));
    for (auto& p : posters)
        p.join();
    std::vector<WPARAM> inOrder(kEach);
    std::iota(inOrder.begin(), inOrder.end(), WPARAM{0});
    for (std::size_t t = 0; t < got.size(); ++t)
        EXPECT_TRUE(got[t] == inOrder) << "thread " << t << " got its messages out of order";
    DeallocateHWnd(h);
}

TEST(MessageLoop, QuitMessageIsRecordedNotDispatched) {
    DrainQueue();
    int calls = 0;
    HWND h = AllocateHWnd([&](TMessage&) { ++calls; });
    PostMessage(h, WM_USER, 0, 0);
    PostQuitMessage(3);
    PostMessage(h, WM_USER, 0, 0);

    MSG m;
    ASSERT_TRUE(GetMessage(m, 0, 0, 0));
    DispatchMessage(m);
    EXPECT_FALSE(GetMessage(m, 0, 0, 0));  // the quit message ends a GetMessage pump
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);

    auto& app = Application::Instance();
    app.ResetTerminated();
    app.Terminate();
    app.Run();  // returns once the quit message is taken, after the message before it
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(calls, 2);
    app.ResetTerminated();
    DeallocateHWnd(h);
}

TEST(MessageLoop, PeekFiltersByWindowAndRangeAndCanLeaveTheMessage) {
    DrainQueue();
    HWND a = AllocateHWnd([](TMessage&) {});
    HWND b = AllocateHWnd([](TMessage&) {});
    PostMessage(a, WM_USER + 1, 0, 0);
    PostMessage(b, WM_USER + 2, 0, 0);
    PostMessage(b, WM_USER + 9, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessage(m, b, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.message, WM_USER + 2);
    ASSERT_TRUE(PeekMessage(m, 0, WM_USER + 5, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(m.message, WM_USER + 9);
    EXPECT_EQ(PendingMessageCount(), 2u);
    EXPECT_FALSE(PeekMessage(m, a, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    DrainQueue();
    DeallocateHWnd(a);
    DeallocateHWnd(b);
}

TEST(MessageLoop, DescriptorReadinessBecomesAPostedMessage) {
    DrainQueue();
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    std::vector<std::pair<WPARAM, LPARAM>> got;
    HWND h = AllocateHWnd([&](TMessage& m) { got.emplace_back(m.WParam, m.LParam); });
    FdWatchId id = WatchFdPost(fds[0], EPOLLIN, h, WM_USER + 3);
    ASSERT_NE(id, 0u);

    std::thread writer([fd = fds[1]] { (void)!write(fd, "x", 1); });
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return !got.empty(); }));
    writer.join();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, static_cast<WPARAM>(fds[0]));
    EXPECT_TRUE(got[0].second & EPOLLIN);

    // Silent until re-armed, although the byte is still unread.
    Application::Instance().ProcessMessages();
    EXPECT_EQ(got.size(), 1u);
    ModifyFdWatch(id, EPOLLIN);
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return got.size() == 2; }));

    UnwatchFd(id);
    DeallocateHWnd(h);
    close(fds[0]);
    close(fds[1]);
}

TEST(MessageLoop, TimerPostsUntilKilledAndDiesWithItsWindow) {
    DrainQueue();
    int ticks = 0;
    HWND h = AllocateHWnd([&](TMessage& m) {
        if (m.Msg == WM_TIMER && m.WParam == 5)
            ++ticks;
    });
    ASSERT_TRUE(SetTimer(h, 5, 1));
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(KillTimer(h, 5));
    EXPECT_FALSE(KillTimer(h, 5));
    ASSERT_TRUE(SetTimer(h, 6, 1));
    DeallocateHWnd(h);
    EXPECT_FALSE(KillTimer(h, 6));
}
