// THttpCli through SOCKS: real servers from Debian (microsocks for SOCKS 5 with and without
// user and password, danted for SOCKS 4 and 5), a relay of our own for SOCKS 4A (danted does
// not speak it), and https with TLS inside the SOCKS tunnel.
#include <poll.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <memory>
#include <sstream>

#include "HttpCliFixture.h"
#include "LoopbackServer.h"
#include "ScopedEnv.h"
#include "SocksServers.h"
#include "TestCa.h"

using testsupport::DanteServer;
using testsupport::LoopbackServer;
using testsupport::MicrosocksServer;
using testsupport::ScriptedServer;
using testsupport::TestCa;
using testsupport::TScript;

namespace {

const std::string kPage = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";

std::string ReadUntilZero(int fd) {
    std::string text;
    char c;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\0')
        text += c;
    return text;
}

// Copies bytes both ways until either side ends.
void Relay(int a, int b) {
    char buf[16384];
    for (;;) {
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (::poll(fds, 2, 10000) <= 0)
            return;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0)
                continue;
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n <= 0 || !testsupport::WriteAll(i == 0 ? b : a, std::string(buf, n)))
                return;
        }
    }
}

// A SOCKS 4A server for one connection that only reaches 127.0.0.1; it keeps the name it was
// asked for.
struct Socks4aRelay {
    std::promise<std::string> askedFor;
    LoopbackServer server{[this](int fd) {
        char head[8];
        if (::recv(fd, head, sizeof head, MSG_WAITALL) != sizeof head)
            return;
        const int port =
            (static_cast<unsigned char>(head[2]) << 8) | static_cast<unsigned char>(head[3]);
        ReadUntilZero(fd);  // the user code
        askedFor.set_value(ReadUntilZero(fd));
        const int target = testsupport::ConnectTo(static_cast<std::uint16_t>(port));
        testsupport::WriteAll(fd, std::string("\0\x5a\0\0\0\0\0\0", 8));
        if (target >= 0) {
            Relay(fd, target);
            ::close(target);
        }
    }};
};

class SocksHttpTest : public HttpCliTest {
  protected:
    void SetUp() override {
        HttpCliTest::SetUp();
        if (MicrosocksServer::Program().empty() || DanteServer::Program().empty())
            GTEST_SKIP() << "microsocks or danted is not installed (scripts/deps.sh)";
    }

    // GET of url; the page's body, or the failure's text.
    std::string Get(const std::string& url) {
        std::ostringstream body;
        cli.SetURL(url);
        cli.SetResponseBodyStream(&body);
        try {
            cli.RequestSync(hrGet);
        } catch (const EHttpException& e) {
            return e.what();
        }
        return body.str();
    }

    void UseSocks(const std::string& port, const std::string& level, const std::string& user = "",
                  const std::string& password = "") {
        cli.SetSocksServer("127.0.0.1");
        cli.SetSocksPort(port);
        cli.SetSocksLevel(level);
        cli.SetSocksUsercode(user);
        cli.SetSocksPassword(password);
    }
};

}  // namespace

TEST_F(SocksHttpTest, PageArrivesThroughEveryLevel) {
    MicrosocksServer open;
    MicrosocksServer guarded("bob", "s3cret");
    DanteServer dante;
    struct TCase {
        const char* Name;
        std::string Port;
        const char* Level;
        const char* User;
        const char* Password;
        bool RemoteLookup;
        std::string Expected;
    };
    const TCase cases[] = {
        {"microsocks, SOCKS 5", open.PortText(), "5", "", "", true, "hello"},
        {"microsocks, SOCKS 5, name looked up here", open.PortText(), "5", "", "", false, "hello"},
        {"microsocks, SOCKS 5 with user and password", guarded.PortText(), "5", "bob", "s3cret",
         true, "hello"},
        {"microsocks, wrong password", guarded.PortText(), "5", "bob", "wrong", true,
         "SOCKS: authentication failed (Error #20015)"},
        {"danted, SOCKS 4", dante.PortText(), "4", "", "", true, "hello"},
        {"danted, SOCKS 5", dante.PortText(), "5", "", "", true, "hello"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer web(TScript::Answer(kPage));
        UseSocks(c.Port, c.Level, c.User, c.Password);
        cli.SetSocksRemoteLookup(c.RemoteLookup);
        EXPECT_EQ(Get(web.Url("/page")), c.Expected) << open.Log() << dante.Log();
        if (c.Expected == "hello") {
            EXPECT_THAT(web.Received(),
                        testing::ElementsAre(testing::StartsWith("GET /page HTTP/1.0\r\n")));
        }
    }
}

TEST_F(SocksHttpTest, Socks4aHandsTheNameToTheServer) {
    ScriptedServer web(TScript::Answer(kPage));
    Socks4aRelay relay;
    UseSocks(relay.server.PortText(), "4A");
    EXPECT_EQ(Get("http://localhost:" + web.PortText() + "/"), "hello");
    EXPECT_EQ(relay.askedFor.get_future().get(), "localhost");
}

TEST_F(SocksHttpTest, HttpsGoesThroughTheTunnelWithTlsInside) {
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
    ScriptedServer web(TScript::Answer(kPage), TestCa::Shared().Valid());
    MicrosocksServer socks;
    UseSocks(socks.PortText(), "5");
    cli.SetSocksRemoteLookup(false);  // the server listens on 127.0.0.1, not on ::1
    EXPECT_EQ(Get("https://localhost:" + web.PortText() + "/secure"), "hello") << socks.Log();
    ASSERT_EQ(web.Received().size(), 1u);
    EXPECT_EQ(web.Received()[0].rfind("GET /secure HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(web.ServerNames(), std::vector<std::string>{"localhost"});
}
