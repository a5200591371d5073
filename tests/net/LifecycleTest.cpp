#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"
#include "sys/Application.h"
#include "sys/Poller.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

// A server that holds the connection until the client closes it.
struct Holder {
    LoopbackServer server{[](int fd) { testsupport::ReadAll(fd); }};
};

}  // namespace

TEST(Lifecycle, RefusedConnectReportsTheErrorThenClosesOnce) {
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(testsupport::UnusedPort()));
    s.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return log.Count("Closed(") > 0; }));
    Settle();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"Closed>Opened", "Opened>Connecting",
                                                    "Connecting>Connected", "Connected(10061)",
                                                    "Connected>Closed", "Closed(0)"}));
    EXPECT_EQ(s.State(), wsClosed);
}

TEST(Lifecycle, OwnCloseAnnouncesInsideTheCallAndThePeerSeesTheEnd) {
    std::promise<std::string> peerGot;
    LoopbackServer server([&](int fd) { peerGot.set_value(testsupport::ReadAll(fd)); });
    TWSocket s;
    TEventLog log;
    log.Attach(s);
    ConnectTo(s, server);
    s.SendString("bye");
    log.Events.clear();
    s.Close();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"Connected>Closed", "Closed(0)"}));
    EXPECT_EQ(peerGot.get_future().get(), "bye");
    s.Close();  // a second close changes nothing
    Settle();
    EXPECT_EQ(log.Count("Closed("), 1);
}

TEST(Lifecycle, AbortSwitchesLingerOffForTheCloseOnly) {
    Holder h;
    TWSocket s;
    ConnectTo(s, h.server);
    TSocketLingerOnOff duringClose = wsLingerNoSet;
    s.OnChangeState = [&](sys::TObject*, TSocketState, TSocketState now) {
        if (now == wsClosed)
            duringClose = s.LingerOnOff();
    };
    s.DnsLookup("localhost");
    int lookups = 0;
    s.OnDnsLookupDone = [&](sys::TObject*, sys::Word e) { lookups += e == 10004; };
    s.Abort();
    EXPECT_EQ(duringClose, wsLingerOff);
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(lookups, 1);  // the pending lookup was cancelled too
}

TEST(Lifecycle, DestroyingAnOpenSocketClosesItSilently) {
    std::promise<std::string> peerGot;
    LoopbackServer server([&](int fd) { peerGot.set_value(testsupport::ReadAll(fd)); });
    int events = 0;
    {
        TWSocket s;
        ConnectTo(s, server);
        s.OnSessionClosed = [&](sys::TObject*, sys::Word) { ++events; };
        s.OnChangeState = [&](sys::TObject*, TSocketState, TSocketState) { ++events; };
    }
    EXPECT_EQ(peerGot.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(events, 0);
}

TEST(Lifecycle, HandlerMayFreeItsOwnSocketAndGoOnPumping) {
    Holder h;
    sys::TComponent owner(nullptr);
    auto* s = new TWSocket(&owner);
    bool handlerReturned = false;
    s->OnSessionConnected = [&](sys::TObject* sender, sys::Word) {
        auto* self = static_cast<TWSocket*>(sender);
        self->FreeDeferred();
        self->PumpMessages();  // the free arrives here, but waits until the handler is done
        self->SendString("still alive");
        handlerReturned = true;
    };
    s->SetAddr("127.0.0.1");
    s->SetPort(h.server.PortText());
    s->Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return owner.Components().empty(); }));
    EXPECT_TRUE(handlerReturned);
}

TEST(Lifecycle, ExceptionInAHandlerGoesToBgExceptionAndAborts) {
    for (bool canClose : {true, false}) {
        SCOPED_TRACE(canClose ? "handler closes" : "handler keeps the connection");
        Holder h;
        TWSocket s;
        std::string caught;
        s.OnBgException = [&](sys::TObject* sender, const std::exception& e, bool& close) {
            EXPECT_EQ(sender, &s);
            caught = e.what();
            close = canClose;
        };
        s.OnSessionConnected = [](sys::TObject*, sys::Word) {
            throw ESocketException("connected handler failed");
        };
        s.SetAddr("127.0.0.1");
        s.SetPort(h.server.PortText());
        s.Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return !caught.empty(); }));
        EXPECT_EQ(caught, "connected handler failed");
        EXPECT_EQ(s.State(), canClose ? wsClosed : wsConnected);
        s.Abort();
    }
}

TEST(Lifecycle, TestExceptionMessageReachesBgException) {
    TWSocket s;
    std::string caught;
    s.OnBgException = [&](sys::TObject*, const std::exception& e, bool&) { caught = e.what(); };
    sys::PostMessage(s.Handle(), WM_SOCKET_TEST_EXCEPTION, 0, 0);
    ASSERT_TRUE(RunLoopUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "Test exception in WSocket");
}

TEST(Lifecycle, PausedSocketHearsNothingUntilResumed) {
    LoopbackServer server([](int fd) { testsupport::WriteAll(fd, "news"); });
    TWSocket s;
    std::string got;
    s.OnDataAvailable = [&](sys::TObject*, sys::Word) { got += s.ReceiveString(); };
    ConnectTo(s, server);
    EXPECT_EQ(s.Pause(), 0);
    ASSERT_TRUE(server.WaitDone());
    Settle();
    EXPECT_EQ(got, "");
    // A stale notification, like one for an old handle, changes nothing either.
    sys::PostMessage(s.Handle(), WM_SOCKET_SELECT, static_cast<sys::WPARAM>(s.HSocket()),
                     sys::winsock::WSAMAKESELECTREPLY(sys::winsock::FD_CLOSE, 0));
    sys::PostMessage(s.Handle(), WM_SOCKET_SELECT, 12345,
                     sys::winsock::WSAMAKESELECTREPLY(sys::winsock::FD_CLOSE, 0));
    Settle();
    EXPECT_EQ(s.State(), wsConnected);
    EXPECT_EQ(s.Resume(), 0);
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(got, "news");
}

TEST(Lifecycle, CloseDeferredClosesFromTheLoop) {
    Holder h;
    TWSocket s;
    ConnectTo(s, h.server);
    s.CloseDeferred();
    EXPECT_EQ(s.State(), wsConnected);
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsClosed; }));
}

TEST(Lifecycle, LayerStartsOnFirstUseAndStopsWithTheLastSocket) {
    ASSERT_EQ(WSocketInstanceCount(), 0);
    long startups = sys::winsock::TotalStartups();
    {
        TWSocket a;
        TWSocket b;
        EXPECT_EQ(WSocketInstanceCount(), 2);
        EXPECT_FALSE(WSocketLayerStarted());  // creating a socket does not start it
        a.DnsLookup("127.0.0.1");
        EXPECT_TRUE(WSocketLayerStarted());
        EXPECT_EQ(sys::winsock::TotalStartups(), startups + 1);
    }
    EXPECT_EQ(WSocketInstanceCount(), 0);
    EXPECT_FALSE(WSocketLayerStarted());
    EXPECT_EQ(sys::winsock::StartupCount(), 0);
    TWSocket c;
    c.DnsLookup("127.0.0.1");
    EXPECT_EQ(sys::winsock::TotalStartups(), startups + 2);  // started again
}

TEST(Lifecycle, OwnPumpRecordsAQuitMessage) {
    TWSocket s;
    s.SetMultiThreaded(true);
    sys::PostQuitMessage(0);
    s.PumpMessages();
    EXPECT_TRUE(s.Terminated());
    EXPECT_FALSE(sys::Application::Instance().Terminated());
}

TEST(Lifecycle, FlushAndWaitUntilClosedWaitInTheLoop) {
    std::promise<void> go;
    auto goSignal = go.get_future();
    std::promise<std::size_t> peerGot;
    LoopbackServer server([&](int fd) {
        goSignal.wait();
        std::size_t n = testsupport::ReadAll(fd).size();
        peerGot.set_value(n);
    });
    TWSocket s;
    ConnectTo(s, server);
    int small = 16384;
    sys::winsock::setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string big(1 << 20, 'f');
    s.SendString(big);
    ASSERT_FALSE(s.AllSent());
    go.set_value();
    s.Flush();
    EXPECT_TRUE(s.AllSent());
    s.Shutdown(1);
    EXPECT_EQ(peerGot.get_future().get(), big.size());
    s.WaitUntilClosed();  // the peer closes after reading everything
    EXPECT_EQ(s.State(), wsClosed);
}

// A socket belongs to the thread that made it: its events come through that thread's queue,
// served here by the own pump.
TEST(Lifecycle, SocketOnAnotherThreadIsServedByThatThreadsPump) {
    Holder h;
    std::promise<std::string> outcome;
    std::thread worker([&] {
        TWSocket s;
        s.SetMultiThreaded(true);
        std::string seen;
        s.OnDnsLookupDone = [&](sys::TObject*, sys::Word e) {
            seen += "dns" + std::to_string(e) + ";";
            s.SetAddr(s.DnsResult());
            s.SetPort(h.server.PortText());
            s.Connect();
        };
        s.OnSessionConnected = [&](sys::TObject*, sys::Word e) {
            seen += "connected" + std::to_string(e) + ";";
            s.Close();
        };
        bool timedOut = false;  // the bound of this thread's wait
        sys::HWND guard = sys::AllocateHWnd([&](sys::TMessage&) { timedOut = true; });
        sys::SetTimer(guard, 1, 10000);
        s.DnsLookup("localhost");
        while (!timedOut && (s.State() != wsClosed || seen.find("connected") == seen.npos)) {
            sys::WaitMessage();
            s.PumpMessages();
        }
        sys::DeallocateHWnd(guard);
        outcome.set_value(seen);
    });
    worker.join();
    EXPECT_EQ(outcome.get_future().get(), "dns0;connected0;");
}
