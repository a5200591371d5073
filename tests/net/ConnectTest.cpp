#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

std::string JoinEvents(const TEventLog& log) {
    std::string all;
    for (const auto& e : log.Events)
        all += e + " ";
    return all;
}

}  // namespace

// The client talks first; the server answers once and closes; the client sees the answer before
// its one OnSessionClosed.
TEST(Connect, ExchangesDataAndSeesServerCloseOnce) {
    LoopbackServer server([](int fd) {
        char buf[5];
        std::size_t got = 0;
        while (got < 5) {
            ssize_t n = ::recv(fd, buf + got, 5 - got, 0);
            if (n <= 0)
                return;
            got += static_cast<std::size_t>(n);
        }
        testsupport::WriteAll(fd, "pong:" + std::string(buf, 5));
    });
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    std::string received;
    s.OnDataAvailable = [&](sys::TObject* sender, sys::Word) {
        EXPECT_EQ(sender, &s);
        received += s.ReceiveString();
    };
    s.OnSessionConnected = [&, prev = s.OnSessionConnected](sys::TObject* o, sys::Word e) {
        prev(o, e);
        s.SendString("hello");
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); })) << JoinEvents(log);
    EXPECT_EQ(received, "pong:hello");
    EXPECT_EQ(s.State(), wsClosed);
    std::vector<std::string> expected = {"Closed>Opened", "Opened>Connecting",
                                         "Connecting>Connected", "Connected(0)"};
    ASSERT_GE(log.Events.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.Events.begin(), log.Events.begin() + 4), expected);
    EXPECT_EQ(log.Count("Closed("), 1);
    // The peer's close is announced first, then the socket closes its side.
    EXPECT_EQ(log.Events[log.Events.size() - 2], "Closed(0)");
    EXPECT_EQ(log.Events.back(), "Connected>Closed");
}
