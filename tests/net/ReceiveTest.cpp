#include <gtest/gtest.h>

#include <future>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

// A server that writes its bytes (after the test says go) and closes.
struct Writer {
    explicit Writer(std::string bytes)
        : data(std::move(bytes)), server([this](int fd) {
              go.get_future().wait();
              testsupport::WriteAll(fd, data);
          }) {}
    std::string data;
    std::promise<void> go;
    LoopbackServer server;
};

}  // namespace

TEST(Receive, EverythingArrivesBeforeTheOneSessionClosed) {
    Writer w(std::string(200000, 'r'));
    TProbeSocket s;
    TEventLog log;
    log.Attach(s);
    std::string got;
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        char buf[1000];  // smaller than what waits: the loop calls again at once
        int n = s.Receive(buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
            log.Events.push_back("Data");
        }
    };
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); }));
    EXPECT_EQ(got, w.data);
    EXPECT_EQ(s.ReadCount(), 0);  // back to 0 with the close
    EXPECT_EQ(log.Count("Closed("), 1);
    auto closed = std::find(log.Events.begin(), log.Events.end(), "Closed(0)");
    EXPECT_EQ(std::count(closed, log.Events.end(), "Data"), 0);
    // The reads of one notification happen in one pass: far fewer notifications than reads.
    EXPECT_LT(s.ReadNotifications * 4, static_cast<int>(s.ReceiveSizes.size()));
}

// The count a handler asks for after a read is what is left: the count the receive loop asked
// for before calling the handler must not come back once the handler has read.
TEST(Receive, RcvdCountAfterAReadIsWhatIsLeft) {
    Writer w(std::string(5000, 'c'));
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    int read = 0;
    std::vector<int> wrongCounts;
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        char buf[100];
        const int n = s.Receive(buf, sizeof buf);
        if (n <= 0)
            return;
        read += n;
        if (const int left = s.RcvdCount(); left != 5000 - read)
            wrongCounts.push_back(left);
    };
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(w.server.WaitDone());  // every byte is in the socket before the first read
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); }));
    EXPECT_EQ(read, 5000);
    EXPECT_TRUE(wrongCounts.empty()) << "first wrong count: " << wrongCounts.front();
}

TEST(Receive, CloseNotificationDeliversWhatIsStillBuffered) {
    Writer w("tail");
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    std::string got;
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        got += s.ReceiveString();
        log.Events.push_back("Data:" + got);
    };
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(w.server.WaitDone());
    // The close notification is handled before the loop has even seen the data.
    sys::PostMessage(s.Handle(), WM_SOCKET_SELECT, static_cast<sys::WPARAM>(s.HSocket()),
                     sys::winsock::WSAMAKESELECTREPLY(sys::winsock::FD_CLOSE, 0));
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); }));
    auto closed = std::find(log.Events.begin(), log.Events.end(), "Closed(0)");
    ASSERT_NE(closed, log.Events.begin());
    EXPECT_EQ(*(closed - 1), "Data:tail");
    Settle();
    EXPECT_EQ(log.Count("Closed("), 1);
}

TEST(Receive, WithoutHandlerDataIsReadInKilobytesAndDropped) {
    Writer w(std::string(5000, 'x'));
    TProbeSocket s;
    TEventLog log;
    log.Attach(s);
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); }));
    ASSERT_FALSE(s.ReceiveSizes.empty());
    for (int size : s.ReceiveSizes)
        EXPECT_EQ(size, 1024);
}

TEST(Receive, HandlerIsCalledOncePerNotificationWhenTheLoopIsOff) {
    for (bool loopOff : {false, true}) {
        SCOPED_TRACE(loopOff ? "receive loop off" : "receive loop on");
        Writer w(std::string(100, 'y'));
        TProbeSocket s;
        if (loopOff)
            s.SetComponentOptions({wsoNoReceiveLoop});
        int calls = 0;
        std::string got;
        s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            ++calls;
            char buf[10];
            int n = s.Receive(buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
        };
        ConnectTo(s, w.server);
        w.go.set_value();
        EXPECT_TRUE(w.server.WaitDone());
        EXPECT_TRUE(RunLoopUntil([&] { return got.size() == 100; }));
        if (loopOff)
            EXPECT_EQ(calls, s.ReadNotifications);
        else
            EXPECT_LT(s.ReadNotifications, calls);
    }
}

TEST(Receive, HandlerThatReadsNothingIsNotCalledForever) {
    Writer w("waiting");
    TWSocket s;
    int calls = 0;
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) { ++calls; };
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(RunLoopUntil([&] { return calls > 0; }));
    Settle();
    EXPECT_EQ(calls, 1);
    // The data is still there for a later read, and reading brings the events back.
    EXPECT_EQ(s.ReceiveString(), "waiting");
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsClosed; }));
}

TEST(Receive, ExceptionInDataHandlerIsSwallowed) {
    Writer w("boom");
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    int background = 0;
    s.OnBgException = [&](sys::TObject*, const std::exception&, bool&) { ++background; };
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        s.ReceiveString();
        throw ESocketException("handler failed");
    };
    ConnectTo(s, w.server);
    w.go.set_value();
    ASSERT_TRUE(RunLoopUntil([&] { return log.Has("Closed(0)"); }));
    EXPECT_EQ(background, 0);  // the peer's close, not an abort, ended the connection
}

TEST(Receive, ReceiveStringWithNothingWaitingDoesNotRead) {
    Writer w("");
    TProbeSocket s;
    ConnectTo(s, w.server);
    EXPECT_EQ(s.ReceiveString(), "");
    EXPECT_TRUE(s.ReceiveSizes.empty());
    w.go.set_value();
}
