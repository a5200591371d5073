// The synchronous wait: it returns when a handler sets the flag, gives up at the time-out or
// when the application or the socket's own pump takes a quit message, and costs no CPU.
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Application.h"

using namespace nettest;
using testsupport::LoopbackServer;

namespace {

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The application's quit flag is process-wide: every test leaves it cleared.
struct TerminatedGuard {
    ~TerminatedGuard() { sys::Application::Instance().ResetTerminated(); }
};

}  // namespace

TEST(SyncWait, FlagSetByASocketEventEndsTheWait) {
    LoopbackServer server([](int fd) { testsupport::ReadAll(fd); });
    TWSocket s;
    bool connected = false;
    s.OnSessionConnected = [&](sys::TObject*, sys::Word) { connected = true; };
    s.SetWaitTimeout(10000);
    const int result = s.RunAndWait(connected, [&] {
        s.SetAddr("127.0.0.1");
        s.SetPort(server.PortText());
        s.Connect();
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(s.State(), wsConnected);
}

TEST(SyncWait, FlagAlreadySetReturnsAtOnceWithoutHandlingMessages) {
    TWSocket s;
    bool handled = false;
    sys::HWND probe = sys::AllocateHWnd([&](sys::TMessage&) { handled = true; });
    sys::PostMessage(probe, sys::WM_USER, 0, 0);
    bool done = true;
    EXPECT_EQ(s.WaitForFlag(done), 0);
    EXPECT_FALSE(handled);
    Settle(10);
    EXPECT_TRUE(handled);
    sys::DeallocateHWnd(probe);
}

TEST(SyncWait, GivesUpAtTheTimeOutOrWhenTheLoopIsToEnd) {
    TerminatedGuard guard;
    struct TCase {
        const char* Name;
        bool MultiThreaded;
        bool Quit;  // a quit message is posted before the wait
    };
    const TCase cases[] = {
        {"time-out", false, false},
        {"application terminating", false, true},
        {"own pump takes the quit message", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TWSocket s;
        s.SetMultiThreaded(c.MultiThreaded);
        s.SetWaitTimeout(c.Quit ? 10000 : 150);
        if (c.Quit)
            sys::PostQuitMessage(0);
        bool never = false;
        const auto start = std::chrono::steady_clock::now();
        const double cpuBefore = ThreadCpuMs();
        EXPECT_EQ(s.WaitForFlag(never), WSOCKET_WAIT_GIVEN_UP);
        const auto took = std::chrono::steady_clock::now() - start;
        if (c.Quit) {
            EXPECT_LT(took, std::chrono::seconds(5));
        } else {
            EXPECT_GE(took, std::chrono::milliseconds(150));
            EXPECT_LT(ThreadCpuMs() - cpuBefore, 50.0);  // it slept in the loop, no polling
        }
        if (c.MultiThreaded) {
            EXPECT_TRUE(s.Terminated());
            // Every later wait of that socket gives up at once.
            s.SetWaitTimeout(0);
            EXPECT_EQ(s.RunAndWait(never, nullptr), WSOCKET_WAIT_GIVEN_UP);
        }
        sys::Application::Instance().ResetTerminated();
    }
}
