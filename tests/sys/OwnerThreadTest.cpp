// Debug builds stop at once when a watch, a timer or a window procedure is touched from a
// thread that does not own it: the handler would otherwise run on the wrong thread, or the
// timer tick in a queue nobody pumps, long after the cause.
#include <gtest/gtest.h>
#include <sys/epoll.h>

#include <functional>
#include <thread>

#include "sys/MessageQueue.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

namespace {

struct OwnerCase {
    const char* name;
    const char* message;
    std::function<void()> fromOtherThread;
};

void OnOtherThread(const std::function<void()>& step) {
    std::thread(step).join();
}

TEST(OwnerThreadDeathTest, ForeignThreadAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out in this build";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto queue = sys::MessageQueue::CurrentShared();
    const sys::HWND window = sys::AllocateHWnd([](sys::TMessage&) {});
    const OwnerCase cases[] = {
        {"AddWatch", "a watch added from a thread that does not own the queue",
         [&] { queue->AddWatch(0, EPOLLIN, [](std::uint32_t) {}); }},
        {"ModifyWatch", "a watch changed from a thread that does not own the queue",
         [&] { queue->ModifyWatch(1, 0); }},
        {"RemoveWatch", "a watch removed from a thread that does not own the queue",
         [&] { queue->RemoveWatch(1); }},
        {"SetTimer", "a timer set from a thread that does not own the queue",
         [&] { queue->SetTimer(window, 1, 1000); }},
        {"KillTimer", "a timer killed from a thread that does not own the queue",
         [&] { queue->KillTimer(window, 1); }},
        {"TimerForForeignWindow", "a timer set for a window of another thread",
         [&] { sys::SetTimer(window, 1, 1000); }},
        {"WindowProcedure", "a window procedure run on a thread that does not own the window",
         [&] {
             sys::DispatchMessage(sys::MSG{window, sys::WM_USER, 0, 0});
         }},
    };
    for (const OwnerCase& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_DEATH(OnOtherThread(row.fromOtherThread), row.message);
    }
    sys::DeallocateHWnd(window);
}

TEST(OwnerThreadDeathTest, OtherThreadsMayStillPost) {
    const sys::HWND window = sys::AllocateHWnd([](sys::TMessage&) {});
    bool posted = false;
    OnOtherThread([&] { posted = sys::PostMessage(window, sys::WM_USER, 0, 0); });
    EXPECT_TRUE(posted);
    sys::MSG msg;
    EXPECT_TRUE(sys::PeekMessage(msg, window, 0, 0, sys::PM_REMOVE));
    sys::DeallocateHWnd(window);
}

}  // namespace
