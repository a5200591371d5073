// The SOCKS layer against a scripted fake SOCKS server: every reply code, answers split into
// single bytes, bytes behind the answer, authentication, and the settings' rules.
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "SocketTestSupport.h"

using namespace nettest;
using testsupport::LoopbackServer;
using testsupport::RunLoopUntil;

namespace {

// Reads exactly count bytes (fewer when the peer goes).
std::string ReadExactly(int fd, std::size_t count) {
    std::string got;
    char buf[512];
    while (got.size() < count) {
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

// Writes bytes one at a time when split, so that the client reads them in many pieces.
void WriteSplit(int fd, const std::string& bytes, bool split) {
    if (!split) {
        testsupport::WriteAll(fd, bytes);
        return;
    }
    for (char c : bytes) {
        testsupport::WriteAll(fd, std::string(1, c));
        pollfd idle{fd, POLLIN, 0};
        ::poll(&idle, 1, 2);  // a gap, so that the pieces arrive apart
    }
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

const std::string kTarget = "target.example";
constexpr std::uint16_t kTargetPort = 8080;  // 0x1F90

std::string Socks5Request() {
    return Bytes({5, 1, 0, 3, static_cast<int>(kTarget.size())}) + kTarget + Bytes({0x1F, 0x90});
}

std::string Socks5Answer(int code) {
    return Bytes({5, code, 0, 1, 10, 1, 2, 3, 0x04, 0xD2});  // bound to 10.1.2.3:1234
}

// What the fake server saw and the client's events.
struct TSocksRun {
    std::vector<std::string> Events;
    std::string Data;  // everything the owner received
    std::string ServerGot;
};

// A client socket with its SOCKS events logged, pointed at target.example:8080 via server.
struct TSocksClient {
    TWSocket s;
    TSocksRun run;

    explicit TSocksClient(const LoopbackServer& server, const std::string& level = "5") {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(server.PortText());
        s.SetSocksLevel(level);
        s.SetAddr(kTarget);
        s.SetPort(std::to_string(kTargetPort));
        auto num = [](int e) { return "(" + std::to_string(e) + ")"; };
        s.OnSocksConnected = [this, num](sys::TObject*, sys::Word e) {
            run.Events.push_back("SocksConnected" + num(e));
        };
        s.OnSocksError = [this, num](sys::TObject*, int e, const std::string& msg) {
            run.Events.push_back("SocksError" + num(e) + " " + msg);
        };
        s.OnSocksAuthState = [this, num](sys::TObject*, TSocksAuthState a) {
            run.Events.push_back("Auth" + num(a));
        };
        s.OnSessionConnected = [this, num](sys::TObject*, sys::Word e) {
            run.Events.push_back("Connected" + num(e));
        };
        s.OnSessionClosed = [this, num](sys::TObject*, sys::Word e) {
            run.Events.push_back("Closed" + num(e));
        };
        s.OnDataAvailable = [this](sys::TObject*, sys::Word) { run.Data += s.ReceiveString(); };
    }

    bool RunUntilClosed() {
        return RunLoopUntil(
            [&] { return !run.Events.empty() && run.Events.back().rfind("Closed", 0) == 0; });
    }
};

struct TReplyCase {
    const char* Name;
    std::string Answer;  // after the greeting's answer
    std::vector<std::string> Events;
};

}  // namespace

TEST(Socks5, EveryReplyCodeEndsInItsErrorThenTheClose) {
    const TReplyCase cases[] = {
        {"general failure",
         Socks5Answer(1),
         {"SocksError(20004) general SOCKS server failure", "Connected(20004)"}},
        {"ruleset",
         Socks5Answer(2),
         {"SocksError(20005) connection not allowed by ruleset", "Connected(20005)"}},
        {"network", Socks5Answer(3), {"SocksError(20006) network unreachable", "Connected(20006)"}},
        {"host", Socks5Answer(4), {"SocksError(20007) host unreachable", "Connected(20007)"}},
        {"refused", Socks5Answer(5), {"SocksError(20008) connection refused", "Connected(20008)"}},
        {"ttl", Socks5Answer(6), {"SocksError(20009) time to live expired", "Connected(20009)"}},
        {"command",
         Socks5Answer(7),
         {"SocksError(20010) command not supported", "Connected(20010)"}},
        {"address type",
         Socks5Answer(8),
         {"SocksError(20011) address type not supported", "Connected(20011)"}},
        {"unassigned",
         Socks5Answer(42),
         {"SocksError(20012) unassigned error #42", "Connected(20012)"}},
        {"version",
         Bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0}),
         {"SocksError(20002) socks version error", "Connected(20002)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        LoopbackServer server([&](int fd) {
            ReadExactly(fd, 3);
            testsupport::WriteAll(fd, Bytes({5, 0}));
            ReadExactly(fd, Socks5Request().size());
            testsupport::WriteAll(fd, c.Answer);
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server);
        client.s.Connect();
        EXPECT_TRUE(client.RunUntilClosed());
        std::vector<std::string> expected = {"SocksConnected(0)"};
        expected.insert(expected.end(), c.Events.begin(), c.Events.end());
        expected.push_back("Closed(" + c.Events.back().substr(10, 5) + ")");
        EXPECT_EQ(client.run.Events, expected);
        EXPECT_EQ(client.s.State(), wsClosed);
        EXPECT_EQ(client.s.SocksServer(), "");  // back to its default with the close
    }
}

// A target given as an IPv6 address (a name resolved here, or a bracketed literal) goes as its
// 16 bytes; a name stays a name. The server's IPv6 bound address is read as one too.
TEST(Socks5, AnIPv6TargetGoesAsItsBytesAndAnIPv6BoundAddressIsRead) {
    const std::string loopback6 = std::string(15, '\0') + '\1';
    const struct {
        const char* Addr;
        std::string Request;
    } cases[] = {
        {"::1", Bytes({5, 1, 0, 4}) + loopback6 + Bytes({0x1F, 0x90})},
        {"[::1]", Bytes({5, 1, 0, 4}) + loopback6 + Bytes({0x1F, 0x90})},
        {"v6.example", Bytes({5, 1, 0, 3, 10}) + "v6.example" + Bytes({0x1F, 0x90})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Addr);
        std::promise<std::string> request;
        LoopbackServer server([&](int fd) {
            ReadExactly(fd, 3);
            testsupport::WriteAll(fd, Bytes({5, 0}));
            request.set_value(ReadExactly(fd, c.Request.size()));
            // Bound to [2001:db8::7]:1234.
            testsupport::WriteAll(fd, Bytes({5, 0, 0, 4, 0x20, 0x01, 0x0d, 0xb8}) +
                                          std::string(11, '\0') + Bytes({7, 0x04, 0xD2}) + "HI");
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server);
        client.s.SetAddr(c.Addr);
        client.s.Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return client.run.Data.size() >= 2; }));
        EXPECT_EQ(request.get_future().get(), c.Request);
        EXPECT_EQ(client.run.Events,
                  (std::vector<std::string>{"SocksConnected(0)", "Connected(0)"}));
        EXPECT_EQ(client.run.Data, "HI");
        EXPECT_EQ(client.s.SocksBoundAddr(), "2001:db8::7");
        EXPECT_EQ(client.s.SocksBoundPort(), "1234");
    }
}

TEST(Socks5, AnswersSplitIntoSingleBytesAndDataBehindThemArriveWhole) {
    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "whole");
        std::promise<std::string> request;
        LoopbackServer server([&](int fd) {
            std::string got = ReadExactly(fd, 3);
            WriteSplit(fd, Bytes({5, 0}), split);
            got += ReadExactly(fd, Socks5Request().size());
            request.set_value(got);
            // The target's greeting comes in the same piece as the answer.
            WriteSplit(fd, Socks5Answer(0) + "HELLO", split);
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server);
        client.s.Connect();
        if (!RunLoopUntil([&] { return client.run.Data.size() >= 5; })) {
            ADD_FAILURE() << "the target's greeting never came";
            continue;
        }
        EXPECT_EQ(client.run.Data, "HELLO");
        EXPECT_EQ(request.get_future().get(), Bytes({5, 1, 0}) + Socks5Request());
        EXPECT_EQ(client.run.Events,
                  (std::vector<std::string>{"SocksConnected(0)", "Connected(0)"}));
        EXPECT_EQ(client.s.SocksBoundAddr(), "10.1.2.3");
        EXPECT_EQ(client.s.SocksBoundPort(), "1234");
    }
}

// The line layer above takes the bytes behind the answer from the SOCKS layer like any others.
TEST(Socks5, LinesBehindTheAnswerComeOneByOne) {
    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "whole");
        LoopbackServer server([&](int fd) {
            ReadExactly(fd, 3);
            WriteSplit(fd, Bytes({5, 0}), false);
            ReadExactly(fd, Socks5Request().size());
            WriteSplit(fd, Socks5Answer(0) + "one\r\ntwo\r\nthr", split);
            WriteSplit(fd, "ee\r\n", split);
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server);
        std::vector<std::string> lines;
        client.s.SetLineMode(true);
        client.s.OnDataAvailable = [&](sys::TObject*, sys::Word) {
            lines.push_back(client.s.ReceiveString());
        };
        client.s.Connect();
        EXPECT_TRUE(RunLoopUntil([&] { return lines.size() >= 3; }));
        EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "two\r\n", "three\r\n"}));
        client.s.Close();
    }
}

TEST(Socks5, UserAndPasswordAreSentWhenTheServerAsksForThem) {
    struct TCase {
        const char* Name;
        int Method;      // the server's choice
        int AuthStatus;  // its answer to the record (-1: none asked)
        std::vector<std::string> Events;
    };
    const TCase cases[] = {
        {"accepted", 2, 0, {"SocksConnected(0)", "Auth(0)", "Auth(1)", "Connected(0)"}},
        {"refused",
         2,
         1,
         {"SocksConnected(0)", "Auth(0)", "SocksError(20015) socks authentication failed",
          "Connected(20015)", "Closed(20015)"}},
        {"not required", 0, -1, {"SocksConnected(0)", "Auth(3)", "Connected(0)"}},
        {"no acceptable method",
         0xFF,
         -1,
         {"SocksConnected(0)", "SocksError(20003) authentification method not acceptable",
          "Connected(20003)", "Closed(20003)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::promise<std::string> sent;
        LoopbackServer server([&](int fd) {
            std::string got = ReadExactly(fd, 3);
            testsupport::WriteAll(fd, Bytes({5, c.Method}));
            if (c.Method == 2) {
                got += ReadExactly(fd, 3 + 3 + 6);
                testsupport::WriteAll(fd, Bytes({1, c.AuthStatus}));
            }
            sent.set_value(got);
            if (c.Method == 0 || c.AuthStatus == 0) {
                ReadExactly(fd, Socks5Request().size());
                testsupport::WriteAll(fd, Socks5Answer(0));
            }
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server);
        client.s.SetSocksAuthentication(socksAuthenticateUsercode);
        client.s.SetSocksUsercode("bob");
        client.s.SetSocksPassword("secret");
        client.s.Connect();
        if (!RunLoopUntil([&] { return client.run.Events.size() >= c.Events.size(); })) {
            ADD_FAILURE() << "events so far: " << testing::PrintToString(client.run.Events);
            continue;
        }
        EXPECT_EQ(client.run.Events, c.Events);
        std::string expected = Bytes({5, 1, 2});
        if (c.Method == 2)
            expected += Bytes({1, 3}) + "bob" + Bytes({6}) + "secret";
        EXPECT_EQ(sent.get_future().get(), expected);
        client.s.Close();
    }
}

TEST(Socks4, RequestsAndEveryResultCode) {
    struct TCase {
        const char* Name;
        const char* Level;
        int Result;
        std::vector<std::string> Events;
    };
    const TCase cases[] = {
        {"granted", "4", 90, {"SocksConnected(0)", "Connected(0)"}},
        {"4A granted", "4a", 90, {"SocksConnected(0)", "Connected(0)"}},
        {"rejected",
         "4",
         91,
         {"SocksConnected(0)", "SocksError(20016) request rejected or failed", "Connected(20016)",
          "Closed(20016)"}},
        {"no identd",
         "4",
         92,
         {"SocksConnected(0)", "SocksError(20008) connection refused", "Connected(20008)",
          "Closed(20008)"}},
        {"wrong user",
         "4A",
         93,
         {"SocksConnected(0)", "SocksError(20015) authentification failed", "Connected(20015)",
          "Closed(20015)"}},
        {"unassigned",
         "4",
         7,
         {"SocksConnected(0)", "SocksError(20012) unassigned error #7", "Connected(20012)",
          "Closed(20012)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const bool v4a = std::string(c.Level) != "4";
        const std::string request =
            Bytes({4, 1, 0x1F, 0x90}) +
            (v4a ? Bytes({0, 0, 0, 1}) + "joe" + Bytes({0}) + kTarget + Bytes({0})
                 : Bytes({127, 0, 0, 1}) + "joe" + Bytes({0}));
        std::promise<std::string> sent;
        LoopbackServer server([&](int fd) {
            sent.set_value(ReadExactly(fd, request.size()));
            // The target speaks first, right behind the answer.
            testsupport::WriteAll(fd, Bytes({0, c.Result, 0, 0, 0, 0, 0, 0}) + "BANNER");
            testsupport::ReadAll(fd);
        });
        TSocksClient client(server, c.Level);
        EXPECT_EQ(client.s.SocksLevel(), v4a ? "4A" : "4");
        if (!v4a) {
            client.s.SetAddr("127.0.0.1");  // SOCKS 4 sends an address, resolved here
        }
        client.s.SetSocksUsercode("joe");
        client.s.Connect();
        if (!RunLoopUntil([&] {
                return client.run.Events.size() >= c.Events.size() &&
                       (c.Result != 90 || client.run.Data.size() >= 6);
            })) {
            ADD_FAILURE() << "events so far: " << testing::PrintToString(client.run.Events);
            continue;
        }
        EXPECT_EQ(client.run.Events, c.Events);
        EXPECT_EQ(sent.get_future().get(), request);
        if (c.Result == 90) {
            EXPECT_EQ(client.run.Data, "BANNER");
        }
        client.s.Close();
    }
}

TEST(Socks, ServerThatClosesDuringTheHandshakeFailsTheConnect) {
    LoopbackServer server([](int fd) { ReadExactly(fd, 3); });
    TSocksClient client(server);
    client.s.Connect();
    ASSERT_TRUE(client.RunUntilClosed());
    EXPECT_EQ(
        client.run.Events,
        (std::vector<std::string>{"SocksConnected(0)",
                                  "SocksError(10053) connection closed during the SOCKS handshake",
                                  "Connected(10053)", "Closed(0)"}));
}

// A server that resets the connection while the next step of the handshake goes out: the send
// fails, and the owner still hears how the connect ended, then the close.
TEST(Socks, ServerThatResetsWhileAStepIsSentFailsTheConnect) {
    const std::string failure = "SocksError(10054) connection closed during the SOCKS handshake";
    struct TCase {
        const char* Name;
        int Method;  // the server's choice, before its reset
        std::vector<std::string> Events;
    };
    const TCase cases[] = {
        {"connect request",
         0,
         {"SocksConnected(0)", "Auth(3)", failure, "Connected(10054)", "Closed(10054)"}},
        {"user and password",
         2,
         {"SocksConnected(0)", "Auth(0)", "Auth(2)", failure, "Connected(10054)", "Closed(10054)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        LoopbackServer server([&](int fd) {
            ReadExactly(fd, 3);
            testsupport::WriteAll(fd, Bytes({5, c.Method}));
            const linger reset{1, 0};  // the close that follows is a reset
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        });
        TSocksClient client(server);
        client.s.SetSocksAuthentication(socksAuthenticateUsercode);
        client.s.SetSocksUsercode("bob");
        client.s.SetSocksPassword("secret");
        client.s.Connect();
        ASSERT_TRUE(client.RunUntilClosed());
        EXPECT_EQ(client.run.Events, c.Events);
        EXPECT_EQ(client.s.State(), wsClosed);
    }
}

TEST(Socks, RefusedConnectToTheSocksServerIsTheOwnersRefusedConnect) {
    TWSocket s;
    std::vector<std::string> events;
    s.OnSocksConnected = [&](sys::TObject*, sys::Word e) {
        events.push_back("SocksConnected(" + std::to_string(e) + ")");
    };
    s.OnSessionConnected = [&](sys::TObject*, sys::Word e) {
        events.push_back("Connected(" + std::to_string(e) + ")");
    };
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(std::to_string(testsupport::UnusedPort()));
    s.SetAddr(kTarget);
    s.SetPort("80");
    s.Connect();
    ASSERT_TRUE(RunLoopUntil([&] { return s.State() == wsClosed; }));
    EXPECT_EQ(events, (std::vector<std::string>{"SocksConnected(10061)", "Connected(10061)"}));
}

TEST(Socks, SettingsThatCannotWorkAreRefusedBeforeAnythingIsSent) {
    std::promise<void> anyConnection;
    LoopbackServer server([&](int) { anyConnection.set_value(); });
    struct TCase {
        const char* Name;
        std::function<void(TWSocket&)> Setup;
        std::string Text;
    };
    const TCase cases[] = {
        {"udp", [](TWSocket& s) { s.SetProto("udp"); },
         "tcp is the only protocol supported thru socks server"},
        {"host name of 256 bytes", [](TWSocket& s) { s.SetAddr(std::string(256, 'h')); },
         "SOCKS: the host name is longer than 255 bytes"},
        {"credentials of 126 bytes",
         [](TWSocket& s) {
             s.SetSocksAuthentication(socksAuthenticateUsercode);
             s.SetSocksUsercode(std::string(60, 'u'));
             s.SetSocksPassword(std::string(66, 'p'));
         },
         "SOCKS: user code and password together are longer than 125 bytes"},
        {"no SOCKS port", [](TWSocket& s) { s.SetSocksPort(""); },
         "connect: WSocketResolvePort: Invalid Port."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TWSocket s;
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(server.PortText());
        s.SetAddr(kTarget);
        s.SetPort("80");
        c.Setup(s);
        EXPECT_EQ(ReportedText([&] { s.Connect(); }), c.Text);
        EXPECT_EQ(s.State(), wsClosed);
    }
    EXPECT_EQ(anyConnection.get_future().wait_for(std::chrono::milliseconds(100)),
              std::future_status::timeout);
    TWSocket s;
    s.SetSocksServer("127.0.0.1");
    s.SetSocksAuthentication(socksAuthenticateUsercode);
    s.SetSocksUsercode(std::string(60, 'u'));
    s.SetSocksPassword(std::string(65, 'p'));  // 125 bytes together still fit
    s.SetSocksPort(server.PortText());
    s.SetAddr(std::string(255, 'h'));
    s.SetPort("80");
    s.Connect();
    EXPECT_EQ(s.State(), wsConnecting);
}

TEST(Socks, PropertiesKeepTheirRules) {
    TWSocket s;
    EXPECT_EQ(s.SocksLevel(), "5");
    EXPECT_EQ(s.SocksServer(), "");
    EXPECT_EQ(s.SocksPort(), "");
    EXPECT_EQ(s.SocksAuthentication(), socksNoAuthentication);
    s.SetSocksLevel("4a");
    EXPECT_EQ(s.SocksLevel(), "4A");
    EXPECT_EQ(ReportedText([&] { s.SetSocksLevel("6"); }),
              "Invalid socks level. Must be 4, 4A or 5.");
    EXPECT_EQ(s.SocksLevel(), "4A");
    s.SetSocksServer("  proxy.example ");
    s.SetSocksPort(" 1080 ");
    EXPECT_EQ(s.SocksServer(), "proxy.example");
    EXPECT_EQ(s.SocksPort(), "1080");
    EXPECT_EQ(ReportedText([&] {
                  s.SetAddr("127.0.0.1");
                  s.SetPort("0");
                  s.Listen();
              }),
              "Listening is not supported thru socks server");

    LoopbackServer holder([](int fd) { testsupport::ReadAll(fd); });
    TWSocket open;
    ConnectTo(open, holder);
    const std::pair<const char*, std::function<void()>> whileOpen[] = {
        {"Can't change socks server if not closed", [&] { open.SetSocksServer("x"); }},
        {"Can't change socks port if not closed", [&] { open.SetSocksPort("1"); }},
        {"Can't change socks level if not closed", [&] { open.SetSocksLevel("4"); }},
    };
    for (const auto& [text, call] : whileOpen)
        EXPECT_EQ(ReportedText(call), text);
}
