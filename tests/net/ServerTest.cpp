#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::RunLoopUntil;

namespace {

void ListenOnLoopback(TCustomWSocket& s, const std::string& proto = "tcp") {
    s.SetProto(proto);
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.Listen();
}

}  // namespace

TEST(Listen, AcceptAndDupGiveAConnectedServerSide) {
    TWSocket listener;
    TEventLog listenLog;
    listenLog.Attach(listener);
    std::unique_ptr<TWSocket> server;
    std::string serverGot;
    listener.OnSessionAvailable = [&](sys::TObject*, sys::Word error) {
        EXPECT_EQ(error, 0);
        auto handle = listener.Accept();
        ASSERT_NE(handle, TWSocket::INVALID_SOCKET);
        server = std::make_unique<TWSocket>();
        server->OnDataAvailable = [&](sys::TObject*, sys::Word) {
            serverGot += server->ReceiveString();
            if (serverGot == "ping") {
                server->SendString("pong");
                server->CloseDeferred();
            }
        };
        server->Dup(handle);
        EXPECT_EQ(server->State(), wsConnected);
        EXPECT_EQ(server->PeerAddr(), "127.0.0.1");
    };
    ListenOnLoopback(listener);
    EXPECT_EQ(listenLog.Events, (std::vector<std::string>{"Closed>Bound", "Bound>Listening"}));
    std::string port = listener.GetBoundPort();
    ASSERT_NE(port, "error");

    TWSocket client;
    TEventLog clientLog;
    clientLog.Attach(client);
    std::string clientGot;
    client.OnDataAvailable = [&](sys::TObject*, sys::Word) { clientGot += client.ReceiveString(); };
    client.OnSessionConnected = [&](sys::TObject*, sys::Word) { client.SendString("ping"); };
    client.SetAddr("localhost");
    client.SetPort(port);
    client.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return clientLog.Count("Closed(") > 0; }));
    EXPECT_EQ(serverGot, "ping");
    EXPECT_EQ(clientGot, "pong");
    EXPECT_EQ(listener.State(), wsListening);  // stays listening
    EXPECT_EQ(server->State(), wsClosed);
    EXPECT_EQ(clientLog.Count("Closed("), 1);
}

TEST(Listen, AcceptOnASocketThatDoesNotListenIsRefused) {
    TWSocket s;
    EXPECT_EQ(ReportedText([&] { s.Accept(); }),
              "Error 10022 in function not a listening socket\r\nInvalid argument");
    s.OnError = [](sys::TObject*) {};
    EXPECT_EQ(s.Accept(), TWSocket::INVALID_SOCKET);
    EXPECT_EQ(ReportedText([&] { s.OnError = nullptr, s.Dup(TWSocket::INVALID_SOCKET); }),
              "Error 10022 in function Dup\r\nInvalid argument");
}

TEST(Listen, PortInUseIsReportedAndLeavesNothingOpen) {
    TWSocket first;
    ListenOnLoopback(first);
    TWSocket second;
    int errors = 0;
    second.OnError = [&](sys::TObject*) { ++errors; };
    second.SetAddr("127.0.0.1");
    second.SetPort(first.GetBoundPort());
    second.Listen();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(second.LastError(), 10048);
    EXPECT_EQ(second.State(), wsClosed);
    EXPECT_EQ(second.HSocket(), TWSocket::INVALID_SOCKET);
}

TEST(Listen, PrerequisitesAreReportedWithInvalidArgument) {
    TWSocket s;
    EXPECT_EQ(ReportedText([&] { s.Listen(); }),
              "Error 10022 in function listen: port not assigned\r\nInvalid argument");
    s.SetPort("0");
    EXPECT_EQ(ReportedText([&] { s.Listen(); }),
              "Error 10022 in function listen: address not assigned\r\nInvalid argument");
    s.SetProto("");
    EXPECT_EQ(ReportedText([&] { s.Listen(); }),
              "Error 10022 in function listen: protocol not assigned\r\nInvalid argument");
}

TEST(Datagram, ConnectAndListenAreConnectedAtOnceAndExchangeDatagrams) {
    for (const char* proto : {"udp", "17"}) {
        SCOPED_TRACE(proto);
        TWSocket server;
        TEventLog serverLog;
        serverLog.Attach(server);
        server.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            char buf[64];
            sockaddr_in from{};
            int fromLen = sizeof from;
            int n = server.ReceiveFrom(buf, sizeof buf, from, fromLen);
            ASSERT_GT(n, 0);
            std::string reply = "re:" + std::string(buf, static_cast<std::size_t>(n));
            server.SendTo(from, fromLen, reply.data(), static_cast<int>(reply.size()));
        };
        ListenOnLoopback(server, proto);
        EXPECT_EQ(serverLog.Events,
                  (std::vector<std::string>{"Closed>Bound", "Bound>Listening",
                                            "Listening>Connected", "Connected(0)"}));
        TProbeSocket client;
        TEventLog clientLog;
        clientLog.Attach(client);
        std::string got;
        client.OnDataAvailable = [&](sys::TObject*, sys::Word) { got += client.ReceiveString(); };
        client.SetProto(proto);
        client.SetAddr("127.0.0.1");
        client.SetPort(server.GetBoundPort());
        client.Connect();
        // Connected inside the call, bound to a port chosen by the system.
        EXPECT_EQ(clientLog.Events,
                  (std::vector<std::string>{"Closed>Opened", "Opened>Connected", "Connected(0)"}));
        EXPECT_EQ(client.SocketType, SOCK_DGRAM);
        EXPECT_NE(client.LocalPort(), "0");
        client.SendString("one");
        EXPECT_TRUE(RunLoopUntil([&] { return got == "re:one"; })) << got;
    }
}

TEST(Connect, BindsLocallyOnlyWhenAskedTo) {
    testsupport::LoopbackServer server([](int fd) { testsupport::ReadAll(fd); });
    TWSocket free;
    free.SetAddr("127.0.0.1");
    free.SetPort(server.PortText());
    free.Connect();
    EXPECT_EQ(free.LocalPort(), "0");  // no bind: the connect picks the port
    free.Abort();

    testsupport::LoopbackServer server2([](int fd) { testsupport::ReadAll(fd); });
    TWSocket bound;
    std::string wanted = std::to_string(testsupport::UnusedPort());
    bound.SetAddr("127.0.0.1");
    bound.SetPort(server2.PortText());
    bound.SetLocalPort(wanted);
    bound.Connect();
    EXPECT_EQ(bound.LocalPort(), wanted);
    ASSERT_TRUE(RunLoopUntil([&] { return bound.State() == wsConnected; }));
    sockaddr_in local{};
    int len = sizeof local;
    bound.GetLocalSockAddr(local, len);
    EXPECT_EQ(std::to_string(ntohs(local.sin_port)), wanted);
    bound.Abort();
}

TEST(Listen, ListenOnAnOpenSocketIsRefusedAndKeepsTheFirstListener) {
    TWSocket s;
    ListenOnLoopback(s);
    const std::string firstPort = s.GetBoundPort();
    const auto firstHandle = s.HSocket();
    int errors = 0;
    s.OnError = [&](sys::TObject*) { ++errors; };
    s.Listen();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(s.LastError(), 10022);
    EXPECT_EQ(s.HSocket(), firstHandle);
    EXPECT_EQ(s.GetBoundPort(), firstPort);
    s.Close();
    // Nothing of the socket listens any more.
    int fd = testsupport::ConnectTo(static_cast<std::uint16_t>(std::stoi(firstPort)));
    EXPECT_LT(fd, 0);
    if (fd >= 0)
        ::close(fd);
}
