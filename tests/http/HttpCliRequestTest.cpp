// THttpCli over loopback: what goes on the wire, failures before an answer, Abort, the
// time-out, and the blocking wait.
#include <gmock/gmock.h>

#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "HttpCliFixture.h"
#include "ManualClock.h"

using testsupport::ScriptedServer;
using testsupport::TScript;

namespace {

const std::string kOk = "HTTP/1.0 200 OK\r\n\r\n";
const std::string kDefaults =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
    "User-Agent: Mozilla/3.0 (compatible)\r\n";

struct WireCase {
    const char* name;
    THttpRequest kind;
    std::function<void(THttpCli&, const ScriptedServer&)> setUp;
    std::function<std::string(const ScriptedServer&)> want;
};

TEST_F(HttpCliTest, RequestOnTheWire) {
    std::istringstream body;
    const WireCase cases[] = {
        {"direct head", hrHead,
         [](THttpCli& c, const ScriptedServer& s) { c.SetURL(s.Url("/index.html")); },
         [](const ScriptedServer& s) {
             return "HEAD /index.html HTTP/1.0\r\n" + kDefaults + "Host: " + s.HostPort() +
                    "\r\n\r\n";
         }},
        {"through a proxy", hrGet,
         [](THttpCli& c, const ScriptedServer& s) {
             c.SetURL("http://www.a.test:8080/x?y=1");
             c.SetProxy("127.0.0.1");
             c.SetProxyPort(s.PortText());
             c.SetProxyUsername("px");
             c.SetProxyPassword("pw");
         },
         [](const ScriptedServer&) {
             return "GET http://www.a.test:8080/x?y=1 HTTP/1.0\r\n" + kDefaults +
                    "Host: www.a.test:8080\r\nProxy-Authorization: Basic cHg6cHc=\r\n\r\n";
         }},
        {"proxy naming its port", hrGet,
         [](THttpCli& c, const ScriptedServer& s) {
             c.SetURL("www.a.test/page");
             c.SetProxy(s.HostPort());
             c.SetProxyPort("1");
         },
         [](const ScriptedServer&) {
             return "GET http://www.a.test/page HTTP/1.0\r\n" + kDefaults +
                    "Host: www.a.test\r\n\r\n";
         }},
        {"credentials in the address", hrHead,
         [](THttpCli& c, const ScriptedServer& s) { c.SetURL("http://joe:pw@" + s.HostPort()); },
         [](const ScriptedServer& s) {
             return "HEAD / HTTP/1.0\r\n" + kDefaults + "Host: " + s.HostPort() +
                    "\r\nAuthorization: Basic am9lOnB3\r\n\r\n";
         }},
        {"OnCommand changes and empties lines", hrGet,
         [](THttpCli& c, const ScriptedServer& s) {
             c.SetURL(s.Url("/"));
             c.OnCommand = [](sys::TObject*, std::string& line) {
                 if (line.rfind("User-Agent:", 0) == 0)
                     line.clear();
                 else if (line.rfind("Accept:", 0) == 0)
                     line = "Accept: text/plain";
             };
         },
         [](const ScriptedServer& s) {
             return "GET / HTTP/1.0\r\nAccept: text/plain\r\n\r\nHost: " + s.HostPort() +
                    "\r\n\r\n";
         }},
        {"post with a body", hrPost,
         [&body](THttpCli& c, const ScriptedServer& s) {
             c.SetURL(s.Url("/form"));
             body.str("a=1&b=2");
             c.SetRequestBodyStream(&body);
         },
         [](const ScriptedServer& s) {
             return "POST /form HTTP/1.0\r\nAccept: image/gif, image/x-xbitmap, image/jpeg, "
                    "image/pjpeg, */*\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                    "User-Agent: Mozilla/3.0 (compatible)\r\nHost: " +
                    s.HostPort() + "\r\nContent-Length: 7\r\n\r\na=1&b=2";
         }},
        {"post with an empty body", hrPost,
         [&body](THttpCli& c, const ScriptedServer& s) {
             c.SetURL(s.Url("/form"));
             c.SetContentTypePost("");
             body.clear();
             body.str("");
             c.SetRequestBodyStream(&body);
         },
         [](const ScriptedServer& s) {
             return "POST /form HTTP/1.0\r\n" + kDefaults + "Host: " + s.HostPort() +
                    "\r\nContent-Length: 0\r\n\r\n";
         }},
        {"range, cookie and no-cache", hrGet,
         [](THttpCli& c, const ScriptedServer& s) {
             c.SetURL(s.Url("/f"));
             c.SetContentRangeBegin("10");
             c.SetCookie("k=v");
             c.SetNoCache(true);
         },
         [](const ScriptedServer& s) {
             return "GET /f HTTP/1.0\r\n" + kDefaults + "Host: " + s.HostPort() +
                    "\r\nPragma: no-cache\r\nCookie: k=v\r\nRange: "
                    "bytes=10-\r\n\r\n";
         }},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        THttpCli client;
        client.SetTimeoutMs(8000);
        bool done = false;
        client.OnRequestDone = [&](sys::TObject*, THttpRequest, sys::Word) { done = true; };
        ScriptedServer server(TScript::Answer(kOk));
        c.setUp(client, server);
        client.StartRequest(c.kind);
        EXPECT_TRUE(testsupport::RunLoopUntil([&] { return done; }));
        EXPECT_EQ(client.StatusCode(), 200);
        EXPECT_THAT(server.Received(), testing::ElementsAre(c.want(server)));
        EXPECT_EQ(client.ContentRangeBegin(), "");
    }
}

// Credentials in an address belong to that request alone: the properties stay, the next
// request goes without them, and a relocation to another server drops them.
TEST_F(HttpCliTest, CredentialsInTheAddressBelongToThatRequestAlone) {
    const std::string joe = "Authorization: Basic " + http::Base64Encode("joe:secret");
    ScriptedServer other(TScript::Answer(kOk));
    ScriptedServer server(
        {TScript::Answer(kOk), TScript::Answer(kOk),
         TScript::Answer("HTTP/1.0 302 Found\r\nLocation: " + other.Url("/x") + "\r\n\r\n")});
    cli.SetUsername("old");
    cli.SetPassword("pw");
    cli.SetURL("http://joe:secret@" + server.HostPort() + "/");
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.Username(), "old");
    EXPECT_EQ(cli.Password(), "pw");
    cli.SetURL(server.Url("/"));
    EXPECT_EQ(HeadCode(), 0);
    cli.SetUsername("");
    cli.SetURL("http://joe:secret@" + server.HostPort() + "/");
    EXPECT_EQ(HeadCode(), 0);

    const auto received = server.Received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_NE(received[0].find(joe), std::string::npos);
    EXPECT_EQ(received[1].find("joe"), std::string::npos);
    EXPECT_NE(received[1].find("Authorization: Basic " + http::Base64Encode("old:pw")),
              std::string::npos);
    EXPECT_NE(received[2].find(joe), std::string::npos);
    ASSERT_EQ(other.Received().size(), 1u);
    EXPECT_EQ(other.Received()[0].find("Authorization"), std::string::npos);
}

TEST_F(HttpCliTest, LargePostBodyGoesOutInChunks) {
    std::string payload(100000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>('a' + i % 26);
    std::istringstream body(payload);
    int chunks = 0, begins = 0, ends = 0;
    std::size_t announced = 0;
    cli.OnSendBegin = [&](sys::TObject*) { ++begins; };
    cli.OnSendData = [&](sys::TObject*, const void*, int len) {
        ++chunks;
        announced += static_cast<std::size_t>(len);
    };
    cli.OnSendEnd = [&](sys::TObject*) { ++ends; };
    ScriptedServer server(TScript::Answer(kOk));
    cli.SetURL(server.Url("/upload"));
    cli.SetRequestBodyStream(&body);
    ASSERT_TRUE(Run(hrPost));
    EXPECT_EQ(cli.StatusCode(), 200);
    const std::string received = server.Received().at(0);
    EXPECT_NE(received.find("Content-Length: 100000\r\n"), std::string::npos);
    EXPECT_EQ(received.substr(received.find("\r\n\r\n") + 4), payload);
    EXPECT_EQ(cli.SentCount(), 100000);
    EXPECT_EQ(announced, payload.size());
    EXPECT_GE(chunks, 13);  // 8193 bytes at most per chunk
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
}

TEST_F(HttpCliTest, MisuseRaisesAndLeavesTheRunningRequestAlone) {
    ScriptedServer server(TScript().ReadRequest().Hang());
    cli.SetURL(server.Url("/"));
    cli.StartRequest(hrGet);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return cli.State() == hcWaitingHeader; }));
    try {
        cli.StartRequest(hrHead);
        ADD_FAILURE() << "a second request was accepted";
    } catch (const EHttpException& e) {
        EXPECT_STREQ(e.what(), "HTTP component is busy");
        EXPECT_EQ(e.ErrorCode(), 1);
    }
    EXPECT_EQ(cli.State(), hcWaitingHeader);
    cli.Abort();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return doneCount == 1; }));
    EXPECT_EQ(doneKind, hrGet);

    cli.SetRequestBodyStream(nullptr);
    try {
        cli.StartRequest(hrPost);
        ADD_FAILURE() << "a post without a body was accepted";
    } catch (const EHttpException& e) {
        EXPECT_STREQ(e.what(), "HTTP component has nothing to post");
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    EXPECT_EQ(cli.State(), hcReady);
}

TEST_F(HttpCliTest, FailuresBeforeAnAnswerRaiseAs404) {
    testsupport::RefusingPort refusing;
    struct Case {
        std::string url;
        std::string reasonStart;
        sys::Word error;  // 0: any non-zero error
    };
    const Case cases[] = {
        {"http://nothing-here.invalid/", "can't resolve hostname to IP address", 0},
        {"", "can't resolve hostname to IP address", 0},
        {"http://127.0.0.1:" + std::to_string(refusing.Port()) + "/", "", 10061},
    };
    for (const Case& c : cases) {
        cli.SetURL(c.url);
        std::string message;
        const int before = doneCount;
        EXPECT_EQ(HeadCode(&message), 404) << c.url;
        EXPECT_EQ(cli.StatusCode(), 404);
        EXPECT_EQ(message, cli.ReasonPhrase());
        if (c.error) {
            EXPECT_EQ(cli.RequestDoneError(), c.error) << c.url;
            EXPECT_NE(message.find("Connection refused"), std::string::npos) << message;
            EXPECT_NE(message.find("(Error #10061)"), std::string::npos) << message;
        } else {
            EXPECT_EQ(message, c.reasonStart) << c.url;
            EXPECT_NE(cli.RequestDoneError(), 0) << c.url;
        }
        // Head returns once the end has been told, once.
        Drain();
        EXPECT_EQ(doneCount, before + 1) << c.url;
        EXPECT_EQ(doneError, cli.RequestDoneError());
    }
}

TEST_F(HttpCliTest, AbortWhileResolvingCancelsTheLookup) {
    ScriptedServer server(TScript::Answer(kOk));
    cli.SetURL("http://localhost:" + server.PortText() + "/");
    cli.StartRequest(hrHead);
    ASSERT_EQ(cli.State(), hcResolving);
    cli.Abort();
    EXPECT_EQ(cli.State(), hcReady);
    EXPECT_EQ(cli.StatusCode(), 404);
    EXPECT_EQ(cli.ReasonPhrase(), "Connection aborted on request");
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return doneCount == 1; }));
    EXPECT_EQ(doneError, 3);
    Drain();
    EXPECT_EQ(cli.State(), hcReady);
    EXPECT_EQ(server.Connections(), 0);
    EXPECT_EQ(doneCount, 1);
}

TEST_F(HttpCliTest, AbortDuringHeadMakesItRaise) {
    // As the window's stop button does: a message handled inside the wait calls Abort.
    ScriptedServer server(TScript().ReadRequest().Hang());
    const sys::HWND button = sys::AllocateHWnd([&](sys::TMessage&) { cli.Abort(); });
    cli.OnStateChange = [&](sys::TObject*) {
        if (cli.State() == hcWaitingHeader)
            sys::PostMessage(button, sys::WM_USER, 0, 0);
    };
    cli.SetURL(server.Url("/"));
    std::string message;
    EXPECT_EQ(HeadCode(&message), 404);
    EXPECT_EQ(message, "Connection aborted on request");
    EXPECT_EQ(cli.RequestDoneError(), 3);
    Drain();
    EXPECT_EQ(doneCount, 1);
    sys::DeallocateHWnd(button);
}

TEST_F(HttpCliTest, AbortWhileIdleDoesNothing) {
    int changes = 0;
    cli.OnStateChange = [&](sys::TObject*) { ++changes; };
    cli.Abort();
    Drain();
    EXPECT_EQ(cli.State(), hcReady);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(doneCount, 0);
    EXPECT_EQ(cli.StatusCode(), 0);
}

TEST_F(HttpCliTest, NextRequestRightAfterAbortIsNotCutShort) {
    // The aborted request still has messages in the queue; they must not end the next one.
    ScriptedServer hanging(TScript().ReadRequest().Hang());
    ScriptedServer answering(TScript()
                                 .ReadRequest()
                                 .Delay(std::chrono::milliseconds(50))
                                 .Send("HTTP/1.0 200 OK\r\nServer: second\r\n\r\n"));
    // The end of the aborted request is told while the next one runs, with its own values.
    std::vector<std::pair<THttpRequest, sys::Word>> ends;
    cli.OnRequestDone = [&](sys::TObject*, THttpRequest Rq, sys::Word Error) {
        ends.emplace_back(Rq, Error);
    };
    cli.SetURL(hanging.Url("/"));
    cli.StartRequest(hrGet);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return cli.State() == hcWaitingHeader; }));
    cli.Abort();
    cli.SetURL(answering.Url("/"));
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(cli.ResponseHeaderLines(),
              (std::vector<std::string>{"HTTP/1.0 200 OK", "Server: second"}));
    EXPECT_EQ(ends, (std::vector<std::pair<THttpRequest, sys::Word>>{{hrGet, 3}, {hrHead, 0}}));
}

// The deadline covers the whole request however the server stalls: a clock moved to just
// short of it ends nothing, a millisecond more ends the request.
TEST_F(HttpCliTest, TimeOutEndsStalledRequests) {
    struct Case {
        const char* name;
        TScript script;
    };
    const Case cases[] = {
        {"never answers", TScript().ReadRequest().Hang()},
        {"answers a byte at a time",
         TScript().ReadRequest().Send(
             "HTTP/1.0 200 OK\r\nX-Slow: " + std::string(200, 'z') + "\r\n\r\n", 1,
             std::chrono::milliseconds(20))},
        {"header line longer than the buffer",
         TScript()
             .ReadRequest()
             .Send("HTTP/1.0 200 OK\r\nX-Long: " + std::string(9000, 'a'))
             .Hang()},
    };
    const auto timesOutAtDeadline = [](const TScript& script) {
        THttpCli client;
        ManualClock clock(client);
        client.SetTimeout(30);
        ScriptedServer server(script);
        client.SetURL(server.Url("/"));
        std::optional<sys::Word> error;
        client.OnRequestDone = [&](sys::TObject*, THttpRequest, sys::Word e) { error = e; };
        client.StartRequest(hrHead);
        ASSERT_TRUE(testsupport::RunLoopUntil([&] { return client.State() == hcWaitingHeader; }));
        clock.Advance(std::chrono::milliseconds(29999));
        Drain();
        EXPECT_FALSE(error.has_value()) << "ended before its deadline";
        clock.Advance(std::chrono::milliseconds(1));
        ASSERT_TRUE(testsupport::RunLoopUntil([&] { return error.has_value(); }));
        EXPECT_EQ(*error, 10060);
        EXPECT_EQ(client.StatusCode(), 404);
        EXPECT_EQ(client.ReasonPhrase(), "Request timed out");
        EXPECT_EQ(client.State(), hcReady);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timesOutAtDeadline(c.script);
    }
}

// Every relocation starts a request of its own, but the deadline is the first one's.
TEST_F(HttpCliTest, TimeOutCoversRelocations) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"));
    ManualClock clock(cli);
    cli.SetTimeoutMs(400);
    // Each relocation takes 150 ms on the test's clock: the third one passes the deadline.
    cli.OnLocationChange = [&](sys::TObject*) { clock.Advance(std::chrono::milliseconds(150)); };
    cli.SetURL(server.Url("/"));
    std::string message;
    EXPECT_EQ(HeadCode(&message), 404);
    EXPECT_EQ(message, "Request timed out");
    EXPECT_EQ(server.Connections(), 3);
}

TEST_F(HttpCliTest, TimeoutPropertyIsInSeconds) {
    EXPECT_EQ(cli.Timeout(), 8);
    THttpCli fresh;
    EXPECT_EQ(fresh.Timeout(), 30);
    fresh.SetTimeout(0);
    EXPECT_EQ(fresh.TimeoutMs(), 0u);
}

TEST_F(HttpCliTest, NextRequestMayStartFromRequestDone) {
    ScriptedServer server({TScript::Answer("HTTP/1.0 301 Moved\r\n\r\n"),
                           TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")});
    cli.SetURL(server.Url("/"));
    afterDone = [&] {
        if (doneCount == 1)
            cli.StartRequest(hrHead);
    };
    ASSERT_TRUE(Run(hrHead));
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return doneCount == 2; }));
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_EQ(doneKind, hrHead);
}

TEST_F(HttpCliTest, EventsComeInOrder) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"));
    std::vector<std::string> events;
    const auto note = [&](const char* what) {
        return [&events, what](sys::TObject*) { events.push_back(what); };
    };
    cli.OnStateChange = [&](sys::TObject*) {
        events.push_back("state " + std::to_string(cli.State()));
    };
    cli.OnSessionConnected = note("connected");
    cli.OnRequestHeaderBegin = note("request header begin");
    cli.OnRequestHeaderEnd = note("request header end");
    cli.OnHeaderBegin = note("header begin");
    cli.OnHeaderData = note("header data");
    cli.OnHeaderEnd = note("header end");
    cli.OnDocBegin = note("doc begin");
    cli.OnDocData = [&](sys::TObject*, const void* data, int len) {
        events.push_back("doc data " + std::string(static_cast<const char*>(data), len));
    };
    cli.OnDocEnd = note("doc end");
    afterDone = [&] { events.push_back("done"); };
    cli.SetURL(server.Url("/"));
    ASSERT_TRUE(Run(hrGet));
    EXPECT_EQ(events, (std::vector<std::string>{"state 1", "state 3", "state 4", "state 2",
                                                "connected", "state 5", "request header begin",
                                                "request header end", "header begin", "header data",
                                                "header data", "state 6", "header end", "doc begin",
                                                "doc data hello", "doc end", "state 0", "done"}));
    EXPECT_EQ(cli.ReceivedCount(), 5);
}

TEST_F(HttpCliTest, HeadWorksOnAThreadWithItsOwnLoop) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    int status = -1;
    std::thread worker([&] {
        THttpCli client;
        client.SetTimeoutMs(8000);
        client.SetMultiThreaded(true);
        EXPECT_TRUE(client.CtrlSocket()->MultiThreaded());
        client.SetURL(server.Url("/"));
        client.Head();
        status = client.StatusCode();
    });
    worker.join();
    EXPECT_EQ(status, 200);
}

TEST_F(HttpCliTest, DestroyedInTheMiddleOfARequest) {
    // Nothing of the client may be touched afterwards: its socket, window and messages go
    // with it (the sanitizer build catches any later use).
    ScriptedServer server(TScript().ReadRequest().Hang());
    auto client = std::make_unique<THttpCli>();
    bool done = false;
    client->OnRequestDone = [&](sys::TObject*, THttpRequest, sys::Word) { done = true; };
    client->SetURL(server.Url("/"));
    client->StartRequest(hrGet);
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return client->State() == hcWaitingHeader; }));
    client->Abort();  // leaves its end messages in the queue
    client.reset();
    Drain();
    EXPECT_FALSE(done);
    EXPECT_TRUE(server.WaitFinished(1));  // the connection was closed
}

TEST_F(HttpCliTest, DocumentNameFollowsTheAddress) {
    const std::pair<std::string, const char*> cases[] = {
        {"http://a.invalid", "document.htm"},
        {"http://a.invalid/", "document.htm"},
        {"http://a.invalid/dir/sub/", "sub"},
        {"http://a.invalid/cgi/find.pl?q=/x/y", "find.pl"},
        {"http://a.invalid/files/setup.exe", "setup.exe"},
        {"http://a.invalid/" + std::string(300, 'n'), nullptr},
    };
    for (const auto& [url, want] : cases) {
        cli.SetURL(url);
        cli.StartRequest(hrHead);
        EXPECT_EQ(cli.DocumentName(), want ? std::string(want) : std::string(255, 'n')) << url;
        cli.Abort();
    }
    Drain();
}

}  // namespace
