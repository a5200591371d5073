#include <gtest/gtest.h>

#include <future>
#include <random>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

// Reads exactly count bytes from a blocking descriptor (fewer when the peer goes).
std::string ReadExactly(int fd, std::size_t count) {
    std::string got;
    char buf[65536];
    while (got.size() < count) {
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

std::string Pattern(std::size_t size) {
    std::mt19937 gen(42);
    std::string bytes(size, '\0');
    for (auto& c : bytes)
        c = static_cast<char>(gen());
    return bytes;
}

// A probe socket connected to a server script, with its events logged.
struct Connected {
    explicit Connected(LoopbackServer::Script script) : server(std::move(script)) {
        log.Attach(s);
        s.SetAddr("127.0.0.1");
        s.SetPort(server.PortText());
        s.Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return s.State() == wsConnected; }));
        // The first FD_WRITE of a new connection reports an empty queue; let it pass.
        EXPECT_TRUE(RunLoopUntil([&] { return log.Has("Sent(0)"); }));
        log.Events.clear();
    }
    LoopbackServer server;
    TProbeSocket s;
    TEventLog log;
};

}  // namespace

TEST(Send, QueuesBlocksOfFixedSizeAndReportsDataSentFromTheLoop) {
    std::promise<std::string> got;
    Connected c([&](int fd) { got.set_value(ReadExactly(fd, 5000)); });
    std::vector<int> reportedSends;
    c.s.OnSendData = [&](sys::TObject*, int n) { reportedSends.push_back(n); };
    std::string data = Pattern(5000);
    EXPECT_EQ(c.s.Send(data.data(), 5000), 5000);
    EXPECT_TRUE(c.log.Events.empty());  // never inside Send
    EXPECT_EQ(c.s.Sends, (std::vector<std::pair<int, int>>{
                             {1514, 1514}, {1514, 1514}, {1514, 1514}, {458, 458}}));
    EXPECT_EQ(reportedSends, (std::vector<int>{1514, 1514, 1514, 458}));
    // All but the last block are gone; the last one stays, empty, for the next Send.
    EXPECT_EQ(c.s.QueuedBlockSizes(), std::vector<int>{0});
    ASSERT_TRUE(RunLoopUntil([&] { return c.log.Has("Sent(0)"); }));
    EXPECT_EQ(got.get_future().get(), data);
}

TEST(Send, PartialSendsContinueWhereTheyStopped) {
    std::promise<std::string> got;
    Connected c([&](int fd) { got.set_value(ReadExactly(fd, 3000)); });
    c.s.SendLimit = 1000;  // the stack takes at most 1000 bytes per call
    std::string data = Pattern(3000);
    c.s.Send(data.data(), 1514);
    c.s.Send(data.data() + 1514, 1486);
    ASSERT_TRUE(RunLoopUntil([&] { return c.log.Has("Sent(0)"); }));
    EXPECT_EQ(got.get_future().get(), data);
    ASSERT_GE(c.s.Sends.size(), 2u);
    EXPECT_EQ(c.s.Sends[0], (std::pair<int, int>{1514, 1000}));
    EXPECT_EQ(c.s.Sends[1].first, 514);  // the rest of the first block, nothing skipped
}

TEST(Send, SlowReaderLosesNothing) {
    constexpr std::size_t kTotal = 4 << 20;
    std::promise<void> go;
    std::promise<std::string> got;
    auto goSignal = go.get_future();
    Connected c([&](int fd) {
        goSignal.wait();
        got.set_value(ReadExactly(fd, kTotal));
    });
    int small = 16384;
    sys::winsock::setsockopt(c.s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string data = Pattern(kTotal);
    for (std::size_t at = 0; at < kTotal; at += 65536)
        EXPECT_EQ(c.s.Send(data.data() + at, 65536), 65536) << "at " << at;
    // The reader has not started: the stack took what it could and the rest waits in blocks.
    EXPECT_FALSE(c.s.AllSent());
    EXPECT_GT(c.s.QueueBlocks(), 10u);
    go.set_value();
    auto result = got.get_future();
    ASSERT_TRUE(RunLoopUntil(
        [&] {
            return c.log.Has("Sent(0)") &&
                   result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        },
        std::chrono::seconds(60)));
    std::string received = result.get();
    ASSERT_EQ(received.size(), kTotal);
    EXPECT_TRUE(received == data) << "bytes lost, duplicated or reordered";
    EXPECT_EQ(c.log.Count("Sent("), 1);
}

TEST(Send, NothingToSendStillLeadsToOneDataSent) {
    Connected c([](int fd) { testsupport::ReadAll(fd); });
    EXPECT_EQ(c.s.Send(nullptr, 0), 0);
    EXPECT_EQ(c.s.QueueBlocks(), 0u);
    ASSERT_TRUE(RunLoopUntil([&] { return c.log.Has("Sent(0)"); }));
    Settle();
    EXPECT_EQ(c.log.Count("Sent("), 1);
    c.s.Abort();
}

// The queue's first block outlives a connection, emptied; what the old connection could not
// send must never reach the next one.
TEST(Send, BytesLeftFromAnEarlierConnectionNeverReachTheNextOne) {
    Connected c([](int fd) { testsupport::ReadAll(fd); });
    c.s.SendLimit = 1000;
    const std::string old = Pattern(3000);
    c.s.Send(old.data(), static_cast<int>(old.size()));
    ASSERT_EQ(c.s.QueuedBlockSizes(), (std::vector<int>{514, 1486}));  // 1,000 sent, the rest waits
    c.s.Abort();
    EXPECT_EQ(c.s.QueuedBlockSizes(), std::vector<int>{0});

    std::promise<std::string> got;
    LoopbackServer next([&](int fd) { got.set_value(testsupport::ReadAll(fd)); });
    c.s.SendLimit = 0;
    c.s.SetAddr("127.0.0.1");
    c.s.SetPort(next.PortText());
    c.s.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return c.s.State() == wsConnected; }));
    c.s.SendString("fresh");
    ASSERT_TRUE(RunLoopUntil([&] { return c.s.AllSent(); }));
    c.s.Close();
    EXPECT_EQ(got.get_future().get(), "fresh");
}

TEST(Send, WhileNotConnectedFailsAndClosesTheSocket) {
    LoopbackServer server([](int) {});
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    ASSERT_EQ(s.State(), wsConnecting);
    EXPECT_EQ(ReportedText([&] { s.SendString("early"); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), TWSocket::INVALID_SOCKET);
    EXPECT_EQ(log.Count("Closed("), 0);  // no OnSessionClosed for this kind of close
    int errors = 0;
    s.OnError = [&](sys::TObject*) { ++errors; };
    EXPECT_EQ(s.SendString("still closed"), -1);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10057);
}

TEST(Send, LostConnectionIsAnnouncedOnceWithItsError) {
    std::promise<void> reset;
    auto resetSignal = reset.get_future();
    Connected c([&](int fd) {
        resetSignal.wait();
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    });           // the script's end closes with a reset
    c.s.Pause();  // so that only the send can find out
    reset.set_value();
    ASSERT_TRUE(c.server.WaitDone());
    int rc = 0;
    for (int i = 0; i < 3 && c.s.State() == wsConnected; ++i)
        rc = c.s.SendString("anyone there?");
    EXPECT_GT(rc, 0);
    EXPECT_EQ(c.s.State(), wsClosed);
    EXPECT_EQ(c.log.Count("Closed("), 1);
    EXPECT_TRUE(c.log.Has("Closed(10054)"));
}

TEST(SendFlags, NormalAndUrgentAreTheOnlyValues) {
    TWSocket s;
    EXPECT_EQ(s.SendFlags(), wsSendNormal);
    s.SetSendFlags(wsSendUrgent);
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
    EXPECT_EQ(ReportedText([&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }),
              "Invalid SendFlags");
    EXPECT_EQ(s.SendFlags(), wsSendUrgent);
}

TEST(Send, SendThatFindsTheConnectionLostRaisesNoDataSent) {
    std::promise<void> reset;
    auto resetSignal = reset.get_future();
    Connected c([&](int fd) {
        resetSignal.wait();
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    });
    c.s.Pause();  // so that only the send can find out
    reset.set_value();
    ASSERT_TRUE(c.server.WaitDone());
    for (int i = 0; i < 3 && c.s.State() == wsConnected; ++i)
        c.s.SendString("anyone there?");
    ASSERT_EQ(c.s.State(), wsClosed);
    Settle();
    EXPECT_EQ(c.log.Count("Sent("), 0);
    EXPECT_EQ(c.log.Count("Closed("), 1);
}
