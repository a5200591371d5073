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

// Reads that ask for more than ever waits come back short every time: what comes after each
// must still arrive, and all of it before the close.
TEST(Receive, ReadsThatComeBackShortLoseNothing) {
    std::string data;
    for (int i = 0; data.size() < 3000000; ++i)
        data += std::to_string(i) + ' ';
    LoopbackServer server([&](int fd) {
        for (std::size_t at = 0; at < data.size(); at += 4000)  // many small writes
            testsupport::WriteAll(fd, data.substr(at, 4000));
    });
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    std::string got;
    bool dataAfterClose = false;
    static char buf[1 << 20];  // more than ever waits: every read is short
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
        int n = s.Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, static_cast<std::size_t>(n));
        dataAfterClose = dataAfterClose || (n > 0 && log.Count("Closed(") > 0);
    };
    ConnectTo(s, server);
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Closed(") > 0; }));
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    EXPECT_FALSE(dataAfterClose);
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

// A reset is reported once by the read that meets it and is gone from the system after that:
// the close must still carry it, not look like a clean end. A handler that reads until nothing
// is left meets it that way; line mode, whose reads no longer ask the count first, must not
// lose it either.
TEST(Receive, ResetMetByAReadIsTheCloseError) {
    for (const bool lineMode : {false, true}) {
        SCOPED_TRACE(lineMode ? "line mode" : "handler reads until nothing is left");
        std::promise<void> reset;
        LoopbackServer server([&](int fd) {
            testsupport::WriteAll(fd, "partial line");  // no line end: line mode keeps it
            reset.get_future().wait();
            const linger hard{1, 0};  // the close below becomes a reset
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        });
        TWSocket s;
        TEventLog log;
        log.Attach(s);
        s.SetLineMode(lineMode);
        bool first = true;
        s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buf[100];
            while (s.Receive(buf, sizeof buf) > 0) {
            }
        };
        s.OnChangeState = [&, logged = s.OnChangeState.Take()](sys::TObject* o, TSocketState was,
                                                               TSocketState now) {
            logged(o, was, now);
            if (now == wsConnected && std::exchange(first, false)) {
                reset.set_value();
                EXPECT_TRUE(server.WaitDone());  // the reset has reached this side
            }
        };
        ConnectTo(s, server);
        ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Closed(") > 0; }));
        EXPECT_TRUE(log.Has("Closed(10054)")) << log.Events.back();
    }
}
