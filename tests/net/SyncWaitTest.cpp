// The synchronous wait: it returns when a handler sets the flag, gives up at the time-out or
// when the application or the socket's own pump takes a quit message, and costs no CPU.
#include <sys/socket.h>
#include <time.h>

#include <gtest/gtest.h>

#include <chrono>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Application.h"
#include "sys/Poller.h"

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

// A window whose timer sets a flag, so that a wait that would block for ever ends after a bound
// (and the test then fails on what the wait returned); and whose posted messages run a step.
class TProbe {
  public:
    TProbe() : window_(sys::AllocateHWnd([this](sys::TMessage& m) { Handle(m); })) {}
    ~TProbe() { sys::DeallocateHWnd(window_); }
    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    void SetAfter(bool& flag, unsigned ms) {
        guarded_ = &flag;
        sys::SetTimer(window_, 1, ms);
    }
    void Post(std::function<void()> step) {
        steps_.push_back(std::move(step));
        sys::PostMessage(window_, sys::WM_USER, 0, 0);
    }

  private:
    void Handle(sys::TMessage& m) {
        if (m.Msg == sys::WM_TIMER) {
            sys::KillTimer(window_, 1);
            *guarded_ = true;
        } else if (m.Msg == sys::WM_USER && !steps_.empty()) {
            auto step = std::move(steps_.front());
            steps_.erase(steps_.begin());
            step();
        }
    }

    sys::HWND window_;
    bool* guarded_ = nullptr;
    std::vector<std::function<void()>> steps_;
};

void ResetOnClose(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

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

// A handler run by an outer wait waits on the same socket; the outer wait keeps its own time-out
// however the inner one ends.
TEST(SyncWait, ANestedWaitLeavesTheOuterTimeOutInForce) {
    struct TCase {
        const char* Name;
        bool InnerFlagSet;  // the inner wait ends by its flag, otherwise by its own time-out
    };
    for (const TCase c : {TCase{"inner ends by its flag", true}, {"inner gives up", false}}) {
        SCOPED_TRACE(c.Name);
        TWSocket s;
        TProbe probe;
        bool outer = false;
        bool inner = false;
        int innerResult = -1;
        probe.SetAfter(outer, 5000);  // bounds a wait whose time-out was lost
        probe.Post([&] {
            if (c.InnerFlagSet)
                probe.Post([&] { inner = true; });
            s.SetWaitTimeout(100);
            innerResult = s.WaitForFlag(inner);
            s.SetWaitTimeout(400);
        });
        s.SetWaitTimeout(400);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(s.WaitForFlag(outer), WSOCKET_WAIT_GIVEN_UP);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(innerResult, c.InnerFlagSet ? 0 : WSOCKET_WAIT_GIVEN_UP);
        EXPECT_FALSE(outer);
    }
}

// A flag that a handler of a socket was to set: once the socket is closed nothing sets it, and
// a wait without time-out ends with the close's error code.
TEST(SyncWait, AWaitWithoutTimeOutEndsWhenTheSocketCloses) {
    struct TCase {
        const char* Name;
        LoopbackServer::Script Server;  // null: nothing listens
        int Expected;
    };
    const TCase cases[] = {
        {"the peer closes", [](int) {}, sys::winsock::WSAENOTCONN},
        {"the peer resets", ResetOnClose, sys::winsock::WSAECONNRESET},
        {"the connect is refused", nullptr, sys::winsock::WSAECONNREFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<LoopbackServer> server;
        if (c.Server)
            server = std::make_unique<LoopbackServer>(c.Server);
        const std::uint16_t port = server ? server->Port() : testsupport::UnusedPort();
        TWSocket s;
        TProbe probe;
        bool never = false;
        probe.SetAfter(never, 5000);  // bounds a wait that does not end at the close
        const int result = s.RunAndWait(never, [&] {
            s.SetAddr("127.0.0.1");
            s.SetPort(std::to_string(port));
            s.Connect();
        });
        EXPECT_EQ(result, c.Expected);
        EXPECT_FALSE(never);
        EXPECT_EQ(s.State(), wsClosed);
    }
}

TEST(SyncWait, AWaitEndsWhenAHandlerClosesTheSocketButNotWhenItOpensAnotherConnection) {
    LoopbackServer first([](int fd) { testsupport::ReadAll(fd); });
    LoopbackServer second([](int fd) { testsupport::ReadAll(fd); });
    TWSocket s;
    ConnectTo(s, first);
    TProbe probe;
    bool done = false;
    probe.SetAfter(done, 5000);
    // A handler of another component closes the first connection; its OnSessionClosed opens
    // the second, which the wait then serves until its own handler sets the flag.
    s.OnSessionClosed = [&](sys::TObject*, sys::Word) {
        s.OnSessionClosed = nullptr;
        s.OnSessionConnected = [&](sys::TObject*, sys::Word) { done = true; };
        s.SetPort(second.PortText());
        s.Connect();
    };
    probe.Post([&] { s.Close(); });
    EXPECT_EQ(s.WaitForFlag(done), 0);
    EXPECT_EQ(s.State(), wsConnected);
    // Closed for good while the wait runs.
    TProbe guard;
    bool never = false;
    guard.SetAfter(never, 5000);
    probe.Post([&] { s.Close(); });
    EXPECT_EQ(s.WaitForFlag(never), sys::winsock::WSAENOTCONN);
    EXPECT_FALSE(never);
}
