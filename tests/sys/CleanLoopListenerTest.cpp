// The clean-loop check run against a test that leaves something behind: it must name each kind
// of leak with its counts, stay quiet once the leak is freed, and not count what the loop would
// drop anyway (messages for a window that is gone).
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "CleanLoopListener.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

using testsupport::CleanLoopListener;

namespace {

struct LeakCase {
    const char* name;
    const char* clause;  // what the failure must say, without the counts
    std::function<std::size_t(const testsupport::LoopCounts&)> countOf;
    std::function<void()> leak;
    std::function<void()> free;
};

// One window lives through the whole test, so that only the leak itself changes the counts.
class CleanLoopListenerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = sys::AllocateHWnd([](sys::TMessage&) {});
    }
    void TearDown() override { sys::DeallocateHWnd(window_); }

    void Drain(sys::HWND filter, sys::UINT msgMin, sys::UINT msgMax) {
        sys::MSG msg;
        while (sys::PeekMessage(msg, filter, msgMin, msgMax, sys::PM_REMOVE)) {
        }
    }

    sys::HWND window_ = 0;
    sys::HWND extra_ = 0;
    sys::FdWatchId watch_ = 0;
    int fd_ = -1;
};

TEST_F(CleanLoopListenerTest, NamesEveryKindOfLeakWithItsCounts) {
    const LeakCase cases[] = {
        {"WindowLeft", "window(s)", [](auto& c) { return c.windows; },
         [&] { extra_ = sys::AllocateHWnd([](sys::TMessage&) {}); },
         [&] { sys::DeallocateHWnd(extra_); }},
        {"TimerLeftRunning", "timer(s)", [](auto& c) { return c.timers; },
         [&] { ASSERT_TRUE(sys::SetTimer(window_, 7, 60000)); },
         [&] { sys::KillTimer(window_, 7); }},
        {"WatchLeftOnDescriptor", "watch(es)", [](auto& c) { return c.watches; },
         [&] {
             fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
             watch_ = sys::WatchFd(fd_, EPOLLIN, [](std::uint32_t) {});
             ASSERT_NE(watch_, 0u);
         },
         [&] {
             sys::UnwatchFd(watch_);
             close(fd_);
         }},
        {"MessageLeftForLiveWindow", "pending message(s)", [](auto& c) { return c.messages; },
         [&] { ASSERT_TRUE(sys::PostMessage(window_, sys::WM_USER, 0, 0)); },
         [&] { Drain(window_, 0, 0); }},
        {"QuitMessageLeft", "pending message(s)", [](auto& c) { return c.messages; },
         [] { sys::PostQuitMessage(0); }, [&] { Drain(0, sys::WM_QUIT, sys::WM_QUIT); }},
    };
    for (const LeakCase& row : cases) {
        SCOPED_TRACE(row.name);
        CleanLoopListener probe;
        probe.TakeBaseline();
        const std::size_t before = row.countOf(testsupport::ReadLoopCounts());
        row.leak();
        const std::string expected =
            std::string("Fake.") + row.name + " left the message loop unclean: 1 " + row.clause +
            " (before " + std::to_string(before) + ", after " + std::to_string(before + 1) + ")";
        EXPECT_NONFATAL_FAILURE(probe.CheckClean(std::string("Fake.") + row.name), expected);
        row.free();
        probe.CheckClean(row.name);  // freed: a failure here fails this test
    }
}

TEST_F(CleanLoopListenerTest, MessagesForAFreedWindowDoNotCount) {
    CleanLoopListener probe;
    probe.TakeBaseline();
    const sys::HWND gone = sys::AllocateHWnd([](sys::TMessage&) {});
    ASSERT_TRUE(sys::PostMessage(gone, sys::WM_USER, 0, 0));
    sys::DeallocateHWnd(gone);
    ASSERT_GT(sys::PendingMessageCount(), 0u);
    probe.CheckClean("Fake.PostsToFreedWindow");
    Drain(gone, 0, 0);
}

}  // namespace
