// THttpCli over TLS: https addresses, the tunnel through an HTTP proxy, and the end of a request
// once its answer is complete.
#include <gmock/gmock.h>

#include <sstream>

#include "ConnectProxy.h"
#include "HttpCliFixture.h"
#include "ManualClock.h"
#include "ScopedEnv.h"
#include "TestCa.h"

using testsupport::ScriptedServer;
using testsupport::TestCa;
using testsupport::TScript;

namespace {

const std::string kOk = "HTTP/1.1 200 OK\r\nServer: tls\r\n\r\n";

class HttpsTest : public HttpCliTest {
  protected:
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
};

std::string FirstLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

TEST_F(HttpsTest, HttpsThroughAProxyGoesThroughItsTunnel) {
    ScriptedServer server(TScript::Answer(kOk), TestCa::Shared().Valid());
    testsupport::ConnectProxy proxy;
    cli.SetProxy("127.0.0.1:" + proxy.PortText());
    cli.SetProxyUsername("pu");
    cli.SetProxyPassword("pp");
    cli.SetURL("https://localhost:" + server.PortText() + "/p?q#frag");
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.ResponseHeaderLines(),
              (std::vector<std::string>{"HTTP/1.1 200 OK", "Server: tls"}));

    const std::string authority = "localhost:" + server.PortText();
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0], "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority +
                                       "\r\nProxy-Authorization: Basic " +
                                       http::Base64Encode("pu:pp") + "\r\n\r\n");
    // Inside the tunnel the server is asked as if directly, and the proxy's credentials stay out.
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_EQ(FirstLine(server.Received()[0]), "HEAD /p?q HTTP/1.0");
    EXPECT_EQ(server.Received()[0].find("Proxy-Authorization"), std::string::npos);
    EXPECT_THAT(server.ServerNames(), testing::ElementsAre("localhost"));
}

TEST_F(HttpsTest, AProxyThatRefusesTheTunnelGivesItsAnswer) {
    ScriptedServer proxy(
        TScript::Answer("HTTP/1.0 407 Proxy Authentication Required\r\n"
                        "Proxy-Authenticate: Basic realm=\"p\"\r\n\r\n"));
    cli.SetProxy(proxy.HostPort());
    cli.SetURL("https://localhost:1/");
    std::string message;
    EXPECT_EQ(HeadCode(&message), 407);
    EXPECT_EQ(message, "Proxy Authentication Required");
    EXPECT_EQ(cli.RequestDoneError(), 0);
    EXPECT_EQ(cli.ResponseHeaderLines().size(), 2u);
}

// The client ends a request when its answer is complete, whatever the server does afterwards:
// a HEAD at the end of the header, a body after its Content-Length, a header-only GET at once.
TEST_F(HttpsTest, RequestEndsWhenTheAnswerIsComplete) {
    struct Case {
        const char* name;
        THttpRequest kind;
        bool headerOnly;
        std::string answer;
        std::string body;
    };
    const Case cases[] = {
        {"HEAD", hrHead, false, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", ""},
        {"GET with a length", hrGet, false, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         "hello"},
        {"GET of the header only", hrGet, true,
         "HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\nhello", ""},
        {"304 without a body", hrGet, false, "HTTP/1.1 304 Not Modified\r\n\r\n", ""},
    };
    for (const Case& c : cases) {
        for (bool tls : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (tls ? " over TLS" : ""));
            const TScript script = TScript().ReadRequest().Send(c.answer).Hang();
            std::unique_ptr<ScriptedServer> server =
                tls ? std::make_unique<ScriptedServer>(script, TestCa::Shared().Valid())
                    : std::make_unique<ScriptedServer>(script);
            std::ostringstream body;
            cli.SetResponseBodyStream(&body);
            cli.SetHeaderOnly(c.headerOnly);
            cli.SetTimeoutMs(60000);  // a request that waited for the server would time out
            cli.SetURL(server->Url("/"));
            EXPECT_TRUE(Run(c.kind));
            EXPECT_EQ(doneError, 0);
            EXPECT_LT(cli.StatusCode(), 400);
            EXPECT_EQ(body.str(), c.body);
            // The server still hangs: the client ended the connection.
            EXPECT_TRUE(server->WaitFinished(1));
        }
    }
}

// A body that stalls after its header has arrived ends at the time-out, but the answer's status
// stands: the page answered.
TEST_F(HttpsTest, TimeOutKeepsAnAnswerAlreadyReceived) {
    ScriptedServer server(
        TScript().ReadRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst").Hang(),
        TestCa::Shared().Valid());
    ManualClock clock(cli);
    cli.SetTimeoutMs(250);
    cli.OnDocData = [&](sys::TObject*, const void*, int) {
        clock.Advance(std::chrono::milliseconds(250));
    };
    cli.SetURL(server.Url("/"));
    ASSERT_TRUE(Run(hrGet));
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.ReasonPhrase(), "OK");
    EXPECT_EQ(cli.ReceivedCount(), 5);
    EXPECT_EQ(doneError, 10060);  // the document is incomplete
}

}  // namespace
