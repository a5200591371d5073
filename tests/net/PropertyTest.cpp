#include <gtest/gtest.h>

#include <iterator>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::RunLoopUntil;

TEST(IsDottedIP, AcceptsFourGroupsOfAtMost255) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},
        {"  10.1.2.3  ", true},
        {"001.002.003.004", true},
        {"255.255.255.255", true},
        {"1.2.3", false},
        {"1..2.3", false},
        {".1.2.3", false},
        {"1.2.3.4.", false},
        {"1.2.3.256", false},
        {"256.1.1.1", false},
        {"1.2.3.4.5", false},
        {"1.2.3.4 x", false},
        {"host.example", false},
        {"", false},
        {"   ", false},
        {"1.2.3.4a", false},
        {"99999999999.1.1.1", false},
    };
    for (auto [text, dotted] : cases)
        EXPECT_EQ(IsDottedIP(text), dotted) << '"' << text << '"';
}

TEST(Resolve, HostTextsAndTheirFailures) {
    EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), INADDR_BROADCAST);
    EXPECT_EQ(WSocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    const std::pair<std::string, std::string> failures[] = {
        {std::string(257, 'a'),
         "WSocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname."},
        {"", "WSocketResolveHost: '' Invalid Hostname."},
        {"999.1.1.1", "WSocketResolveHost: Cannot convert host address '999.1.1.1', Error #11001"},
        {"nowhere.invalid",
         "WSocketResolveHost: Cannot convert host address 'nowhere.invalid', Error #11001"},
    };
    for (const auto& [host, text] : failures)
        EXPECT_EQ(ReportedText([&] { WSocketResolveHost(host); }), text) << '"' << host << '"';
}

TEST(Resolve, PortsAndProtocols) {
    EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort("8080abc", "tcp"), 8080);
    EXPECT_EQ(WSocketResolvePort("70000", "tcp"), 70000 & 0xFFFF);
    EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
    EXPECT_EQ(WSocketResolvePort(" domain ", " udp "), 53);
    EXPECT_EQ(ReportedText([] { WSocketResolvePort(std::string(32, 'p'), "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ReportedText([] { WSocketResolvePort("", "tcp"); }),
              "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(ReportedText([] { WSocketResolvePort("nosuchservice", "tcp"); }),
              "WSocketResolvePort: Cannot convert port 'nosuchservice', Error #11004");
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto(" udp"), 17);
    EXPECT_EQ(WSocketResolveProto("TCP"), 6);
    EXPECT_EQ(WSocketResolveProto("icmp"), 1);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(ReportedText([] { WSocketResolveProto(""); }),
              "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(ReportedText([] { WSocketResolveProto("carrier-pigeon"); }),
              "WSocketResolveProto: Cannot convert protocol 'carrier-pigeon', Error #11004");
}

// Setters on an open socket are refused with their own texts; the same text again is no change.
TEST(Properties, SettersAreRefusedUnlessClosed) {
    testsupport::LoopbackServer server([](int fd) { testsupport::ReadAll(fd); });
    TWSocket s;
    s.SetAddr(" 127.0.0.1 ");
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    ASSERT_EQ(s.State(), wsConnecting);
    struct Case {
        std::function<void()> set;
        const char* text;
    };
    const Case cases[] = {
        {[&] { s.SetAddr("10.0.0.1"); }, "Cannot change Addr if not closed"},
        {[&] { s.SetPort("1"); }, "Cannot change Port if not closed"},
        {[&] { s.SetProto("udp"); }, "Cannot change Proto if not closed"},
        {[&] { s.SetLocalPort("1"); }, "Cannot change LocalPort if not closed"},
        {[&] { s.SetLocalAddr("127.0.0.1"); }, "Cannot change LocalAddr if not closed"},
        {[&] { s.SetAddr("127.0.0.1"); }, ""},
        {[&] { s.SetPort(server.PortText()); }, ""},
        {[&] { s.SetProto("tcp"); }, ""},
        {[&] { s.Connect(); }, "Connect: Socket already in use"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ReportedText(cases[i].set), cases[i].text) << "step " << i;
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    s.Abort();
}

TEST(Properties, EveryCloseRestoresTheConnectionDefaults) {
    testsupport::LoopbackServer server([](int fd) { testsupport::ReadAll(fd); });
    TProbeSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.SetLocalAddr("127.0.0.1");
    s.SetLingerTimeout(5);
    s.SetFlushTimeout(7);
    s.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsConnected; }));
    s.Close();
    EXPECT_EQ(s.Addr(), "127.0.0.1");  // the texts stay...
    EXPECT_EQ(s.Port(), server.PortText());
    EXPECT_FALSE(s.PortIsAssigned());  // ...but must be given again
    EXPECT_EQ(s.Proto(), "tcp");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(s.LocalPort(), "0");
    EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
    EXPECT_EQ(s.LingerTimeout(), 0);
    EXPECT_EQ(s.FlushTimeout(), 60);
    EXPECT_EQ(ReportedText([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(server.PortText());
    EXPECT_EQ(ReportedText([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("");
    EXPECT_EQ(ReportedText([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    s.SetProto("");
    EXPECT_EQ(ReportedText([&] { s.Connect(); }), "Connect: No Protocol Specified");
}

TEST(Properties, LocalAddrIsStoredNormalised) {
    TWSocket s;
    s.SetLocalAddr("127.000.0.001");
    EXPECT_EQ(s.LocalAddr(), "127.0.0.1");
    s.SetLocalAddr("");
    EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
    EXPECT_EQ(ReportedText([&] { s.SetLocalAddr("not an address"); }),
              "SetLocalAddr(): Invalid IP address");
    s.OnError = [](sys::TObject*) {};
    s.SetLocalAddr("not an address");
    EXPECT_EQ(s.LocalAddr(), "255.255.255.255");
}

TEST(Properties, ResolutionFailuresOfConnectCarryAPrefix) {
    TWSocket s;
    s.SetAddr("nowhere.invalid");
    s.SetPort("80");
    EXPECT_EQ(ReportedText([&] { s.Connect(); }),
              "connect: WSocketResolveHost: Cannot convert host address 'nowhere.invalid', "
              "Error #11001");
    s.SetPort("no-such-service");
    EXPECT_EQ(ReportedText([&] { s.Connect(); }),
              "connect: WSocketResolvePort: Cannot convert port 'no-such-service', Error #11004");
    EXPECT_EQ(s.State(), wsClosed);
}

// With OnError assigned nothing is raised; socket-call failures leave their number in
// LastError, literal reports leave it alone.
TEST(Properties, OnErrorReplacesTheExceptionAndLastErrorTellsTheCause) {
    TWSocket s;
    std::vector<int> seen;
    s.OnError = [&](sys::TObject* sender) {
        EXPECT_EQ(sender, &s);
        seen.push_back(s.LastError());
    };
    s.SetSendFlags(static_cast<TSocketSendFlags>(9));
    s.SendString("not connected");
    s.Connect();  // no port
    EXPECT_EQ(seen, (std::vector<int>{0, 10057, 10057}));
}
