#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "RunLoop.h"
#include "sys/Poller.h"
#include "sys/WinSock.h"

using namespace sys;
namespace ws = sys::winsock;
using testsupport::RunLoopUntil;
using ws::FD_ACCEPT;
using ws::FD_CLOSE;
using ws::FD_CONNECT;
using ws::FD_READ;
using ws::FD_WRITE;
using ws::HANDLE;
using ws::INVALID_SOCKET;
using ws::SOCKET;
using ws::SOCKET_ERROR;
using ws::WSAECONNREFUSED;
using ws::WSAECONNRESET;
using ws::WSAEINVAL;
using ws::WSAENOBUFS;
using ws::WSAENOTSOCK;
using ws::WSAEWOULDBLOCK;
using ws::WSAHOST_NOT_FOUND;
using ws::WSANOTINITIALISED;

namespace {

constexpr UINT kMsg = WM_USER + 7;

struct Note {
    SOCKET socket;
    long event;
    int error;
};

// Starts the layer and records the notifications that reach one window.
class AsyncSelect : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ws::WSAStartup(0x0101, nullptr), 0);
        window_ = AllocateHWnd([this](TMessage& m) {
            if (m.Msg == kMsg)
                notes_.push_back(
                    {m.WParam, ws::WSAGETSELECTEVENT(m.LParam), ws::WSAGETSELECTERROR(m.LParam)});
        });
    }
    void TearDown() override {
        for (SOCKET s : sockets_)
            ws::closesocket(s);
        DeallocateHWnd(window_);
        ws::WSACleanup();
    }

    SOCKET Track(SOCKET s) {
        sockets_.push_back(s);
        return s;
    }
    // A listening socket on 127.0.0.1 and its port.
    SOCKET ListenOn(std::uint16_t& port) {
        SOCKET l = Track(ws::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(ws::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(ws::listen(l, 4), 0);
        int len = sizeof a;
        ws::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        return l;
    }
    // An accepted socket whose plain peer descriptor is returned in peer.
    SOCKET AcceptedPair(int& peer, long mask) {
        std::uint16_t port;
        SOCKET l = ListenOn(port);
        peer = testsupport::ConnectTo(port);
        SOCKET s = Track(ws::accept(l, nullptr, nullptr));
        EXPECT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, mask), 0);
        return s;
    }
    int Count(long event) const {
        int n = 0;
        for (const auto& note : notes_)
            n += note.event == event;
        return n;
    }
    bool WaitFor(long event, int count = 1) {
        return RunLoopUntil([&] { return Count(event) >= count; }, std::chrono::seconds(5));
    }
    // Runs the loop a little, so that notifications that must not come had their chance.
    void Settle() {
        RunLoopUntil([] { return false; }, std::chrono::milliseconds(100));
    }

    HWND window_ = 0;
    std::vector<Note> notes_;
    std::vector<SOCKET> sockets_;
};

}  // namespace

// A socket that stays readable and hung up while its notifications are used up must leave the
// loop quiet after one look, or every wait would return at once.
TEST_F(AsyncSelect, UnreadDataAndHangUpLeaveTheLoopQuiet) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ | FD_CLOSE);
    ASSERT_TRUE(testsupport::WriteAll(peer, "abc"));
    ASSERT_TRUE(WaitFor(FD_READ));
    ::close(peer);
    CollectReadiness();
    pollfd wait{QueueWaitFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&wait, 1, 0), 0);
    EXPECT_EQ(PendingMessageCount(), 0u);
    char buf[8];
    ASSERT_EQ(ws::recv(s, buf, sizeof buf, 0), 3);  // re-enables the read side
    ASSERT_TRUE(WaitFor(FD_CLOSE));
    EXPECT_EQ(Count(FD_READ), 1);
}

TEST_F(AsyncSelect, ReadIsSignalledOnceUntilTheNextRecv) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ);
    ASSERT_TRUE(testsupport::WriteAll(peer, "abcdef"));
    ASSERT_TRUE(WaitFor(FD_READ));
    EXPECT_EQ(notes_[0].socket, s);
    ASSERT_TRUE(testsupport::WriteAll(peer, "more"));
    Settle();
    EXPECT_EQ(Count(FD_READ), 1);
    char c;
    ASSERT_EQ(ws::recv(s, &c, 1, 0), 1);  // data remains: the notification comes again
    ASSERT_TRUE(WaitFor(FD_READ, 2));
    ::close(peer);
}

TEST_F(AsyncSelect, CloseIsSignalledOnceAfterTheDataIsRead) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ | FD_CLOSE);
    ASSERT_TRUE(testsupport::WriteAll(peer, "last words"));
    ::close(peer);
    ASSERT_TRUE(WaitFor(FD_READ));
    char buf[64];
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), 10);
    // The peer's end had come, so the read that emptied the socket leads to the close, not to
    // another read notification.
    ASSERT_TRUE(WaitFor(FD_CLOSE));
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), 0);
    Settle();
    EXPECT_EQ(Count(FD_READ), 1);
    EXPECT_EQ(Count(FD_CLOSE), 1);
    EXPECT_EQ(notes_.back().error, 0);
}

// The peer's end alone may come as FD_READ (only a read or a peek tells it from data). An owner
// that does not read then must still be told the close, and only once.
TEST_F(AsyncSelect, CloseReachesAnOwnerThatDoesNotReadAgain) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ | FD_CLOSE);
    ASSERT_TRUE(testsupport::WriteAll(peer, "abc"));
    ASSERT_TRUE(WaitFor(FD_READ));
    char buf[8];
    ASSERT_EQ(ws::recv(s, buf, sizeof buf, 0), 3);
    ::close(peer);
    ASSERT_TRUE(WaitFor(FD_CLOSE));  // whatever came first, without another read
    Settle();
    EXPECT_EQ(Count(FD_CLOSE), 1);
    EXPECT_LE(Count(FD_READ), 2);
    EXPECT_EQ(notes_.back().event, FD_CLOSE);
}

TEST_F(AsyncSelect, WriteComesAfterConnectAndAgainOnlyAfterASendThatWouldBlock) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_WRITE);
    ASSERT_TRUE(WaitFor(FD_WRITE));
    int small = 4096;
    ws::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string chunk(65536, 'x');
    ASSERT_EQ(ws::send(s, "hi", 2, 0), 2);  // a send that is taken whole re-enables nothing
    Settle();
    EXPECT_EQ(Count(FD_WRITE), 1);
    int rc;
    while ((rc = ws::send(s, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0) {
    }
    EXPECT_EQ(ws::WSAGetLastError(), WSAEWOULDBLOCK);
    // Once the peer reads, there is room again and FD_WRITE says so.
    char buf[65536];
    while (::recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    EXPECT_TRUE(WaitFor(FD_WRITE, 2));
    ::close(peer);
}

TEST_F(AsyncSelect, AcceptIsSignalledOnceUntilTheNextAccept) {
    std::uint16_t port;
    SOCKET l = ListenOn(port);
    ASSERT_EQ(ws::WSAAsyncSelect(l, window_, kMsg, FD_ACCEPT), 0);
    int c1 = testsupport::ConnectTo(port), c2 = testsupport::ConnectTo(port);
    ASSERT_TRUE(WaitFor(FD_ACCEPT));
    Settle();
    EXPECT_EQ(Count(FD_ACCEPT), 1);
    Track(ws::accept(l, nullptr, nullptr));
    ASSERT_TRUE(WaitFor(FD_ACCEPT, 2));  // the second connection is still waiting
    ::close(c1);
    ::close(c2);
}

TEST_F(AsyncSelect, ConnectOutcomeArrivesAsConnectEvent) {
    struct Case {
        const char* name;
        bool listening;
        int error;
        int typeFlags;
    };
    for (Case c : {Case{"listening peer", true, 0, 0},
                   Case{"listening peer, socket made non-blocking", true, 0, SOCK_NONBLOCK},
                   Case{"nobody listening", false, WSAECONNREFUSED, 0}}) {
        SCOPED_TRACE(c.name);
        notes_.clear();
        std::uint16_t port = testsupport::UnusedPort();
        if (c.listening)
            ListenOn(port);
        SOCKET s = Track(ws::socket(AF_INET, SOCK_STREAM | c.typeFlags, 0));
        EXPECT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, FD_CONNECT | FD_WRITE), 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(ws::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
        EXPECT_EQ(ws::WSAGetLastError(), WSAEWOULDBLOCK);
        EXPECT_TRUE(WaitFor(FD_CONNECT));
        EXPECT_EQ(notes_.empty() ? -1 : notes_[0].error, c.error);
        if (c.error == 0) {
            EXPECT_TRUE(WaitFor(FD_WRITE));
        }
        Settle();
        EXPECT_EQ(Count(FD_CONNECT), 1);
    }
}

// A connect on this host has mostly ended (made or refused) before the call returns. Its
// outcome is then posted at once, so the loop needs no wait for it: over a few tries, some
// outcome must be queued before the loop has run, and each is still told once, in order.
TEST_F(AsyncSelect, ConnectThatEndedInTheCallIsToldWithoutAWait) {
    for (bool listening : {true, false}) {
        SCOPED_TRACE(listening ? "listening peer" : "nobody listening");
        notes_.clear();
        std::vector<SOCKET> tried;
        int queuedAtOnce = 0;
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::uint16_t port = testsupport::UnusedPort();
            if (listening)
                ListenOn(port);
            SOCKET s = Track(ws::socket(AF_INET, SOCK_STREAM, 0));
            tried.push_back(s);
            ASSERT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, FD_CONNECT | FD_WRITE | FD_READ), 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            EXPECT_EQ(ws::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
            queuedAtOnce += PendingMessageCount() > 0;
            ASSERT_TRUE(WaitFor(listening ? FD_WRITE : FD_CONNECT, attempt + 1));
        }
        EXPECT_GT(queuedAtOnce, 0);
        Settle();
        // Per socket: FD_CONNECT once with the outcome, then FD_WRITE after a success.
        for (SOCKET s : tried) {
            std::vector<Note> own;
            for (const Note& n : notes_)
                if (n.socket == s)
                    own.push_back(n);
            ASSERT_EQ(own.size(), listening ? 2u : 1u);
            EXPECT_EQ(own[0].event, FD_CONNECT);
            EXPECT_EQ(own[0].error, listening ? 0 : WSAECONNREFUSED);
            if (listening) {
                EXPECT_EQ(own[1].event, FD_WRITE);
            }
        }
    }
}

// The layer keeps each socket's mode instead of asking the system: a selected socket must be
// non-blocking however it was made and whatever FIONBIO did to it before.
TEST_F(AsyncSelect, SelectedSocketsNeverBlock) {
    const auto nonBlocking = [](SOCKET s) {
        return (::fcntl(ws::DescriptorOf(s), F_GETFL) & O_NONBLOCK) != 0;
    };
    struct Case {
        const char* name;
        int typeFlags;
        ws::u_long fionbio;  // 2: no FIONBIO call
    };
    for (Case c : {Case{"made blocking", 0, 2}, Case{"made non-blocking", SOCK_NONBLOCK, 2},
                   Case{"made non-blocking, then blocking", SOCK_NONBLOCK, 0},
                   Case{"made blocking, then non-blocking", 0, 1}}) {
        SCOPED_TRACE(c.name);
        SOCKET s = Track(ws::socket(AF_INET, SOCK_STREAM | c.typeFlags, 0));
        ASSERT_NE(s, INVALID_SOCKET);
        bool expected = c.typeFlags != 0;
        if (c.fionbio != 2) {
            ws::u_long on = c.fionbio;
            EXPECT_EQ(ws::ioctlsocket(s, FIONBIO, &on), 0);
            expected = on != 0;
        }
        EXPECT_EQ(nonBlocking(s), expected);
        ASSERT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, FD_CONNECT), 0);
        EXPECT_TRUE(nonBlocking(s));
    }
}

TEST_F(AsyncSelect, MaskZeroStopsNotifications) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ);
    ASSERT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, 0), 0);
    ASSERT_TRUE(testsupport::WriteAll(peer, "x"));
    Settle();
    EXPECT_EQ(Count(FD_READ), 0);
    ASSERT_EQ(ws::WSAAsyncSelect(s, window_, kMsg, FD_READ), 0);
    EXPECT_TRUE(WaitFor(FD_READ));
    ::close(peer);
}

TEST_F(AsyncSelect, SendToAClosedPeerFailsWithoutSignal) {
    int peer;
    SOCKET s = AcceptedPair(peer, FD_READ | FD_CLOSE);
    linger hard{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(peer);  // reset
    ASSERT_TRUE(WaitFor(FD_CLOSE));
    int rc = 0;
    for (int i = 0; i < 3 && rc >= 0; ++i)
        rc = ws::send(s, "x", 1, 0);
    EXPECT_EQ(rc, SOCKET_ERROR);  // the process is still here: no SIGPIPE
    EXPECT_EQ(ws::WSAGetLastError(), WSAECONNRESET);
}

TEST(SocketHandles, AreNeverReusedAndNeedTheLayerStarted) {
    EXPECT_EQ(ws::socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), WSANOTINITIALISED);
    ASSERT_EQ(ws::WSAStartup(0x0101, nullptr), 0);
    SOCKET first = ws::socket(AF_INET, SOCK_STREAM, 0);
    int fd = ws::DescriptorOf(first);
    ASSERT_EQ(ws::closesocket(first), 0);
    SOCKET second = ws::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(ws::DescriptorOf(second), fd);  // the system hands out the same descriptor...
    EXPECT_NE(second, first);                 // ...under a new handle
    EXPECT_EQ(ws::closesocket(first), SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), WSAENOTSOCK);
    ws::closesocket(second);
    long before = ws::TotalStartups();
    ASSERT_EQ(ws::WSACleanup(), 0);
    EXPECT_EQ(ws::WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), WSANOTINITIALISED);
    ASSERT_EQ(ws::WSAStartup(0x0101, nullptr), 0);
    EXPECT_EQ(ws::TotalStartups(), before + 1);
    ws::WSACleanup();
}
