// The socket's TLS layer against a TLS server on loopback: the handshake and what the server
// learns from it, plain text both ways however the network splits it, the close_notify, session
// resumption, failures with their own error numbers, and handlers that free the socket.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>

#include "RunLoop.h"
#include "ScopedEnv.h"
#include "ScriptedServer.h"
#include "TestCa.h"
#include "net/WSocket.h"
#include "sys/Application.h"

namespace {

using testsupport::RunLoopUntil;
using testsupport::ScriptedServer;
using testsupport::TestCa;
using testsupport::TScript;

const std::string kRequest = "GET / HTTP/1.0\r\n\r\n";

class SslSocketTest : public testing::Test {
  protected:
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
    TWSocket socket;
    std::string received;
    std::vector<std::string> events;

    SslSocketTest() {
        socket.OnSessionConnected = [this](sys::TObject*, sys::Word e) {
            events.push_back("connected " + std::to_string(e));
            if (e == 0)
                socket.SendString(kRequest);
        };
        socket.OnDataAvailable = [this](sys::TObject*, sys::Word) {
            char buffer[100];  // smaller than a record: the rest waits in the layer
            const int n = socket.Receive(buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, static_cast<std::size_t>(n));
        };
        socket.OnSessionClosed = [this](sys::TObject*, sys::Word e) {
            events.push_back("closed " + std::to_string(e));
        };
    }

    void Connect(const ScriptedServer& server, const std::string& name = "") {
        socket.SetSslEnable(true);
        socket.SetSslServerName(name);
        socket.SetAddr("127.0.0.1");
        socket.SetPort(server.PortText());
        socket.Connect();
    }
    // Runs the loop until the socket has closed; aborts it when that never comes, so that a
    // table's next row starts from a closed socket.
    bool Closed() {
        if (RunLoopUntil([this] { return socket.State() == wsClosed; }))
            return true;
        socket.Abort();
        return false;
    }
};

TEST_F(SslSocketTest, PlainTextArrivesWholeHoweverItIsSplit) {
    const std::string big(200000, 'x');
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7000)}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        received.clear();
        events.clear();
        const std::string answer = piece == 1 ? "HTTP/1.0 200 OK\r\n\r\nsmall" : big;
        ScriptedServer server(TScript().ReadRequest().Send(answer, piece).Close(),
                              TestCa::Shared().Valid());
        Connect(server, "localhost");
        EXPECT_TRUE(Closed());
        EXPECT_EQ(received, answer);
        EXPECT_THAT(events, testing::ElementsAre("connected 0", "closed 0"));
        EXPECT_THAT(server.Received(), testing::ElementsAre(kRequest));
    }
}

TEST_F(SslSocketTest, NameGoesToTheServerAddressesDoNot) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"), TestCa::Shared().Valid());
    Connect(server, "localhost");
    ASSERT_TRUE(Closed());
    Connect(server, "127.0.0.1");
    ASSERT_TRUE(Closed());
    Connect(server);  // the address is the name
    ASSERT_TRUE(Closed());
    EXPECT_THAT(server.ServerNames(), testing::ElementsAre("localhost", "", ""));
    EXPECT_THAT(events, testing::Each(testing::AnyOf("connected 0", "closed 0")));
}

TEST_F(SslSocketTest, GracefulCloseSaysGoodbyeAbortDoesNot) {
    for (bool graceful : {true, false}) {
        SCOPED_TRACE(graceful ? "Close" : "Abort");
        // The server tells the loop once the request is in, so the wait ends on an event.
        bool asked = false;
        const sys::HWND told = sys::AllocateHWnd([&](sys::TMessage&) { asked = true; });
        ScriptedServer server(TScript()
                                  .ReadRequest()
                                  .Call([told] { sys::PostMessage(told, sys::WM_USER, 0, 0); })
                                  .Hang(),
                              TestCa::Shared().Valid());
        Connect(server, "localhost");
        EXPECT_TRUE(RunLoopUntil([&] { return asked; }));
        sys::DeallocateHWnd(told);
        if (graceful)
            socket.Close();
        else
            socket.Abort();
        EXPECT_TRUE(server.WaitFinished(1));
        EXPECT_THAT(server.ClientCloseNotify(), testing::ElementsAre(graceful));
    }
}

TEST_F(SslSocketTest, LaterConnectionResumesTheSession) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"), TestCa::Shared().Valid());
    std::vector<bool> reused;
    socket.OnSslHandshakeDone = [&](sys::TObject*, sys::Word) {
        reused.push_back(socket.SslSessionReused());
    };
    for (int i = 0; i < 3; ++i) {
        Connect(server, "localhost");
        EXPECT_TRUE(Closed()) << "connection " << i;
    }
    EXPECT_THAT(reused, testing::ElementsAre(false, true, true));
}

struct FailureCase {
    const char* name;
    testsupport::TCertFiles cert;
    std::string serverName;
    int error;
    const char* text;
};

TEST_F(SslSocketTest, FailuresHaveTheirOwnNumbersAndTexts) {
    const TestCa& ca = TestCa::Shared();
    const FailureCase cases[] = {
        {"expired", ca.Expired(), "localhost", WSOCKET_TLS_CERTIFICATE,
         "TLS: certificate has expired"},
        {"other host", ca.OtherHost(), "localhost", WSOCKET_TLS_CERTIFICATE,
         "TLS: host name mismatch"},
        {"address not in the certificate", ca.OtherHost(), "127.0.0.1", WSOCKET_TLS_CERTIFICATE,
         "TLS: host name mismatch"},
        {"self-signed", ca.SelfSigned(), "localhost", WSOCKET_TLS_CERTIFICATE,
         "TLS: self-signed certificate"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"), c.cert);
        Connect(server, c.serverName);
        EXPECT_TRUE(Closed());
        EXPECT_THAT(events, testing::ElementsAre("connected " + std::to_string(c.error),
                                                 "closed " + std::to_string(c.error)));
        EXPECT_EQ(socket.SslErrorText(), c.text);
        EXPECT_EQ(socket.LastError(), c.error);
        EXPECT_TRUE(server.Received().empty() ||
                    server.Received()[0].find("GET") == std::string::npos);
    }
}

TEST_F(SslSocketTest, ServerThatDoesNotSpeakTlsFailsTheHandshake) {
    const TScript scripts[] = {TScript().Send("HTTP/1.1 400 Bad Request\r\n\r\n").Close(),
                               TScript().Close(), TScript().Reset()};
    const char* const names[] = {"an HTTP answer", "a close", "a reset"};
    for (std::size_t i = 0; i < std::size(scripts); ++i) {
        SCOPED_TRACE(names[i]);
        events.clear();
        ScriptedServer server(scripts[i]);
        Connect(server, "localhost");
        EXPECT_TRUE(Closed());
        EXPECT_THAT(events, testing::ElementsAre("connected 20101", "closed 20101"));
        EXPECT_THAT(socket.SslErrorText(), testing::StartsWith("TLS: handshake failed"));
    }
}

// A socket whose sends find the connection reset, as when the server resets it right after
// accepting: the client's hello is the first send.
class TResetOnSend : public TWSocket {
  protected:
    int RawSend(const void*, int) override {
        sys::winsock::WSASetLastError(sys::winsock::WSAECONNRESET);
        return -1;
    }
};

TEST(SslSocketResetTest, AResetWhileTheHelloGoesOutFailsTheHandshakeFirst) {
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
    ScriptedServer server(TScript().ReadRequest().Hang(), TestCa::Shared().Valid());
    TResetOnSend socket;
    std::vector<std::string> events;
    socket.OnSessionConnected = [&](sys::TObject*, sys::Word e) {
        events.push_back("connected " + std::to_string(e));
    };
    socket.OnSessionClosed = [&](sys::TObject*, sys::Word e) {
        events.push_back("closed " + std::to_string(e));
    };
    socket.SetSslEnable(true);
    socket.SetAddr("127.0.0.1");
    socket.SetPort(server.PortText());
    socket.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return socket.State() == wsClosed && !events.empty(); }));
    const std::string failed = std::to_string(WSOCKET_TLS_HANDSHAKE);
    EXPECT_THAT(events, testing::ElementsAre("connected " + failed, "closed " + failed));
    EXPECT_EQ(socket.SslErrorText(), "TLS: handshake failed (Connection reset by peer)");
}

// Every handler may free its socket and pump messages; the layer must not touch it afterwards.
TEST(SslSocketReentrancyTest, HandlersThatFreeTheSocketAndPump) {
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
    const TestCa& ca = TestCa::Shared();
    enum class TWhere { Connected, HandshakeDone, Data, Failure };
    for (TWhere where : {TWhere::Connected, TWhere::HandshakeDone, TWhere::Data, TWhere::Failure}) {
        const char* const names[] = {"connected", "handshake done", "data", "failure"};
        SCOPED_TRACE(names[static_cast<int>(where)]);
        ScriptedServer server(TScript().ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\n").Hang(),
                              where == TWhere::Failure ? ca.Expired() : ca.Valid());
        bool freed = false;
        auto* socket = new TWSocket;
        auto freeAndPump = [&] {
            if (freed)
                return;
            freed = true;
            socket->FreeDeferred();
            sys::Application::Instance().ProcessMessages();
        };
        socket->OnSessionConnected = [&](sys::TObject*, sys::Word e) {
            if (e == 0)
                socket->SendString(kRequest);
            if (where == TWhere::Connected || where == TWhere::Failure)
                freeAndPump();
        };
        socket->OnSslHandshakeDone = [&](sys::TObject*, sys::Word) {
            if (where == TWhere::HandshakeDone)
                freeAndPump();
        };
        socket->OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buffer[16];
            socket->Receive(buffer, sizeof buffer);
            if (where == TWhere::Data)
                freeAndPump();
        };
        socket->SetSslEnable(true);
        socket->SetSslServerName("localhost");
        socket->SetAddr("127.0.0.1");
        socket->SetPort(server.PortText());
        socket->Connect();
        if (!RunLoopUntil([&] { return freed; })) {
            ADD_FAILURE() << "no handler freed the socket";
            delete socket;
            continue;
        }
        // The deferred free has run once the loop is idle; nothing of the socket is left.
        RunLoopUntil([] { return false; }, std::chrono::milliseconds(50));
        EXPECT_EQ(WSocketInstanceCount(), 0);
    }
}

}  // namespace
