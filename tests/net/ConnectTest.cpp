#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LoopbackServer.h"
#include "ServerThread.h"
#include "SocketTestSupport.h"
#include "UniqueFd.h"

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
    s.OnSessionConnected = [&, prev = s.OnSessionConnected.Take()](sys::TObject* o, sys::Word e) {
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

// A listener on 127.0.0.1 whose accept queue is full: it drops every further SYN, so a client's
// connect stays in its handshake for as long as the test looks at it.
class FullListener {
  public:
    FullListener() {
        listener_.Reset(testsupport::BindLoopback("127.0.0.1", port_));
        // A backlog of 0 holds one connection: the one made here fills it.
        EXPECT_EQ(::listen(listener_.Get(), 0), 0);
        filler_.Reset(testsupport::ConnectTo(port_));
        EXPECT_GE(filler_.Get(), 0);
        pollfd queued{listener_.Get(), POLLIN, 0};
        EXPECT_EQ(::poll(&queued, 1, 5000), 1);
    }
    std::uint16_t Port() const { return port_; }

  private:
    std::uint16_t port_ = 0;
    testsupport::TFd listener_;
    testsupport::TFd filler_;
};

// With wsoAckWithFirstData the handshake's last ACK waits for the first data: the connecting
// socket is in delayed-ACK mode before the server has answered its SYN. Without the option it
// acknowledges at once, so the server can accept a connection that has nothing to read yet;
// either way the request arrives.
TEST(Connect, AckWithFirstDataHoldsTheHandshakeAckUntilTheRequest) {
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "ack with first data" : "default");
        {
            FullListener full;
            TWSocket s;
            if (held)
                s.SetComponentOptions({wsoAckWithFirstData});
            s.SetAddr("127.0.0.1");
            s.SetPort(std::to_string(full.Port()));
            s.Connect();
            ASSERT_EQ(s.State(), wsConnecting);
            int quickAck = -1;
            socklen_t size = sizeof quickAck;
            ASSERT_EQ(::getsockopt(s.HSocket(), IPPROTO_TCP, TCP_QUICKACK, &quickAck, &size), 0);
            EXPECT_EQ(quickAck == 0, held);
            s.Abort();
        }
        std::uint16_t port = 0;
        testsupport::TFd listener(testsupport::BindLoopback("127.0.0.1", port));
        ASSERT_EQ(::listen(listener.Get(), 4), 0);
        TWSocket s;
        if (held)
            s.SetComponentOptions({wsoAckWithFirstData});
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(port));
        s.Connect();
        ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsConnected; }));
        pollfd acceptable{listener.Get(), POLLIN, 0};
        if (!held) {
            ASSERT_EQ(::poll(&acceptable, 1, 5000), 1);  // before any data
        }
        s.SendString("HEAD / HTTP/1.0\r\n\r\n");
        ASSERT_EQ(::poll(&acceptable, 1, 5000), 1);
        testsupport::TFd conn(::accept(listener.Get(), nullptr, nullptr));
        ASSERT_GE(conn.Get(), 0);
        pollfd readable{conn.Get(), POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 5000), 1);
        char buf[64];
        EXPECT_GT(::recv(conn.Get(), buf, sizeof buf, 0), 0);  // the request is there
        s.Abort();
    }
}
