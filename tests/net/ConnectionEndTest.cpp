// How a connection ends: what a close delivers, a new connection opened from the close
// handler, and a close that came while the socket was paused.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Messages.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// A peer that reads only after the client has closed, so that at the close most of the data
// still sits in the client's kernel buffers.
struct LateReader {
    std::promise<void> closed;
    std::shared_future<void> closedSignal = closed.get_future().share();
    std::promise<std::size_t> got;
    LoopbackServer server{[this](int fd) {
        closedSignal.wait_for(std::chrono::seconds(10));
        got.set_value(testsupport::ReadAll(fd).size());
    }};
};

}  // namespace

TEST(ConnectionEnd, CloseDeliversEverythingFlushedUnlessTheCallerChoseLingerZero) {
    struct TCase {
        const char* Name;
        bool HardClose;  // the caller asks for linger on with 0 s
    };
    for (const TCase& c : {TCase{"default linger", false}, TCase{"linger on, 0 s", true}}) {
        SCOPED_TRACE(c.Name);
        LateReader peer;
        TWSocket s;
        if (c.HardClose) {
            s.SetLingerOnOff(wsLingerOn);
            s.SetLingerTimeout(0);
        }
        ConnectTo(s, peer.server);
        s.SendString(std::string(kMiB, 'q'));
        s.Flush();
        s.Close();
        peer.closed.set_value();
        auto got = peer.got.get_future();
        if (got.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "the peer never finished reading";
            continue;
        }
        if (c.HardClose)
            EXPECT_LT(got.get(), kMiB);  // a reset drops what the peer had not taken yet
        else
            EXPECT_EQ(got.get(), kMiB);
    }
}

TEST(ConnectionEnd, ConnectionOpenedFromTheCloseHandlerGetsItsOwnClose) {
    LoopbackServer first([](int fd) { testsupport::ReadAll(fd); });
    LoopbackServer second([](int) {});  // closes at once
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.OnSessionClosed = [&](sys::TObject*, sys::Word e) {
        log.Events.push_back("Closed(" + std::to_string(e) + ")");
        if (log.Count("Closed(") == 1) {
            s.SetAddr("127.0.0.1");
            s.SetPort(second.PortText());
            s.Connect();
        }
    };
    ConnectTo(s, first);
    s.Close();
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Closed(") == 2; }));
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(ConnectionEnd, PeerCloseQueuedBeforePauseArrivesAfterResume) {
    std::promise<void> closeNow;
    LoopbackServer server([signal = closeNow.get_future().share()](int) {
        signal.wait_for(std::chrono::seconds(10));
    });
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    ConnectTo(s, server);
    Settle();  // the first write notification has passed
    closeNow.set_value();
    ASSERT_TRUE(server.WaitDone());
    // Runs the loop until the close notification is queued (the read notification that may
    // come first finds the end), without taking it.
    auto closeQueued = [&] {
        sys::MSG peeked;
        return sys::PeekMessage(peeked, s.Handle(), WM_SOCKET_SELECT, WM_SOCKET_SELECT,
                                sys::PM_NOREMOVE) &&
               (sys::winsock::WSAGETSELECTEVENT(peeked.lParam) & sys::winsock::FD_CLOSE);
    };
    ASSERT_TRUE(RunLoopUntil(closeQueued));
    s.Pause();
    Settle();  // the close notification is taken while paused
    EXPECT_EQ(log.Count("Closed("), 0);
    s.Resume();
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(log.Count("Closed("), 1);
}
