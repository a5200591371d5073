// THttpCli over loopback: status lines, header fields, bodies, relocations and the limits
// that protect against hostile servers.
#include <sstream>

#include "HttpCliFixture.h"

using testsupport::ScriptedServer;
using testsupport::TScript;
using Lines = std::vector<std::string>;

namespace {

const char* const kNoAnswer = "No HTTP answer";

struct StatusCase {
    std::string answer;
    int raised;  // the code Head raises, 0 when it returns
    int status;
    const char* reason;  // nullptr: the text of the request before stays
    Lines lines;
};

TEST_F(HttpCliTest, StatusLineDecidesWhetherHeadRaises) {
    const StatusCase cases[] = {
        {"HTTP/1.1 200 OK\r\nServer: t\r\n\r\n", 0, 200, "OK", {"HTTP/1.1 200 OK", "Server: t"}},
        {"HTTP/1.0 302 Found\r\n\r\n", 0, 302, "Found", {"HTTP/1.0 302 Found"}},
        {"HTTP/1.0 404 Not Found\r\n\r\n", 404, 404, "Not Found", {"HTTP/1.0 404 Not Found"}},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n",
         500,
         500,
         "Internal Server Error",
         {"HTTP/1.1 500 Internal Server Error"}},
        // Without a status line the server has not answered: never "OK".
        {"HTTP/2 200 OK\r\n\r\n", 404, 404, kNoAnswer, {"HTTP/2 200 OK"}},
        {"http/1.1 200 OK\r\n\r\n", 404, 404, kNoAnswer, {"http/1.1 200 OK"}},
        {"HTTP/1.1 2xx Odd\r\nServer: t\r\n\r\n",
         404,
         404,
         kNoAnswer,
         {"HTTP/1.1 2xx Odd", "Server: t"}},
        {"", 404, 404, kNoAnswer, {}},
        {"\x15\x03\x03\x00\x02\x02\x46", 404, 404, kNoAnswer, {}},
    };
    for (const StatusCase& c : cases) {
        ScriptedServer server(TScript::Answer(c.answer));
        cli.SetURL(server.Url("/"));
        const std::string before = cli.ReasonPhrase();
        std::string message;
        EXPECT_EQ(HeadCode(&message), c.raised) << c.answer;
        EXPECT_EQ(cli.StatusCode(), c.status) << c.answer;
        EXPECT_EQ(cli.ReasonPhrase(), c.reason ? c.reason : before) << c.answer;
        EXPECT_EQ(cli.ResponseHeaderLines(), c.lines) << c.answer;
        if (c.raised) {
            EXPECT_EQ(message, c.reason);
        }
    }
}

TEST_F(HttpCliTest, ErrorStatusClosesWithoutReadingTheRest) {
    // The server would hold the connection open: the client has to end it itself. (A 401,
    // 403, 407, 429 or 503 is read to the header's end, which may tell a login, a challenge or
    // a wait.)
    ScriptedServer server(TScript().ReadRequest().Send("HTTP/1.0 404 Not Found\r\n").Hang());
    cli.SetURL(server.Url("/"));
    std::string message;
    EXPECT_EQ(HeadCode(&message), 404);
    EXPECT_EQ(message, "Not Found");
    EXPECT_EQ(cli.RequestDoneError(), 0);
}

TEST_F(HttpCliTest, HeaderFieldsAreRecorded) {
    ScriptedServer server(
        TScript::Answer("HTTP/1.0 206 Partial\r\n"
                        "Content-Length: 1234\r\n"
                        "Content-Type: Text/HTML; Charset=ISO-8859-1\r\n"
                        "Content-Range: bytes 100-1333/5000\r\n"
                        "Accept-Ranges: bytes \r\n"
                        "WWW-Authenticate: Basic realm=\"a\"\r\n"
                        "www-authenticate: Digest x\r\n"
                        "Set-Cookie: id=7; path=/\r\n"
                        "X-Other: kept\r\n\r\n"));
    Lines cookies;
    cli.OnCookie = [&](sys::TObject*, const std::string& data, bool& accept) {
        EXPECT_TRUE(accept);
        cookies.push_back(data);
    };
    cli.SetURL(server.Url("/a.exe"));
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.ContentLength(), 1234);
    EXPECT_EQ(cli.ContentType(), "text/html; charset=iso-8859-1");
    EXPECT_EQ(cli.DocumentName(), "a.exe");  // the type is not exactly text/html
    EXPECT_EQ(cli.ContentRangeBegin(), "100");
    EXPECT_EQ(cli.ContentRangeEnd(), "1333");
    EXPECT_EQ(cli.AcceptRanges(), "bytes ");
    EXPECT_EQ(cli.AuthChallenges(), (Lines{"Basic realm=\"a\"", "Digest x"}));
    EXPECT_EQ(cookies, (Lines{"id=7; path=/"}));
    EXPECT_EQ(cli.ResponseHeaderLines().size(), 9u);
}

// 100 Continue and 103 Early Hints come before the answer that counts: their lines are kept,
// but status, fields and the end of the request come from the final answer.
TEST_F(HttpCliTest, InterimAnswersAreReadPastAndTheFinalOneDecides) {
    const std::string hints = "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n";
    const StatusCase cases[] = {
        {hints + "HTTP/1.1 404 Not Found\r\n\r\n",
         404,
         404,
         "Not Found",
         {"HTTP/1.1 103 Early Hints", "Link: </s.css>", "HTTP/1.1 404 Not Found"}},
        {"HTTP/1.1 100 Continue\r\n\r\n" + hints + "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n",
         0,
         200,
         "OK",
         {"HTTP/1.1 100 Continue", "HTTP/1.1 103 Early Hints", "Link: </s.css>", "HTTP/1.1 200 OK",
          "Content-Length: 3"}},
        // An interim answer's fields mean nothing: no relocation, no length.
        {"HTTP/1.1 103 Early Hints\r\nLocation: /elsewhere\r\nContent-Length: 9\r\n\r\n"
         "HTTP/1.1 200 OK\r\n\r\n",
         0,
         200,
         "OK",
         {"HTTP/1.1 103 Early Hints", "Location: /elsewhere", "Content-Length: 9",
          "HTTP/1.1 200 OK"}},
        // An interim answer alone is no answer.
        {hints, 404, 404, kNoAnswer, {"HTTP/1.1 103 Early Hints", "Link: </s.css>"}},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.answer);
        ScriptedServer server(TScript::Answer(c.answer));
        cli.SetURL(server.Url("/"));
        EXPECT_EQ(HeadCode(), c.raised);
        EXPECT_EQ(cli.StatusCode(), c.status);
        EXPECT_EQ(cli.ReasonPhrase(), c.reason);
        EXPECT_EQ(cli.ResponseHeaderLines(), c.lines);
        EXPECT_EQ(cli.ContentLength(),
                  c.status == 200 && c.lines.back() == "Content-Length: 3" ? 3 : -1);
        EXPECT_EQ(cli.Location(), server.Url("/"));
        EXPECT_EQ(server.Received().size(), 1u);
    }
}

// Cookies set along a request's relocations go back on its next requests to the same host,
// after the Cookie property; they are gone for the next request, and never go to another host.
TEST_F(HttpCliTest, CookiesComeBackAlongTheRelocationsOfOneRequest) {
    ScriptedServer other(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    ScriptedServer server(
        {TScript::Answer(
             "HTTP/1.0 302 Found\r\nSet-Cookie: consent=yes; Path=/\r\n"
             "set-cookie: refused=1\r\nSET-COOKIE: id=7\r\nLocation: /dir/page\r\n\r\n"),
         TScript::Answer("HTTP/1.0 302 Found\r\nLocation: http://localhost:" + other.PortText() +
                         "/\r\n\r\n"),
         TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")});
    cli.OnCookie = [](sys::TObject*, const std::string& data, bool& accept) {
        accept = data.rfind("refused", 0) != 0;
    };
    cli.SetCookie("k=v");
    cli.SetURL(server.Url("/"));
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(HeadCode(), 0);
    const auto cookieLine = [](const std::string& request) {
        const auto at = request.find("\r\nCookie: ");
        return at == std::string::npos
                   ? std::string()
                   : request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
    };
    ASSERT_EQ(server.Received().size(), 3u);
    EXPECT_EQ(cookieLine(server.Received()[0]), "Cookie: k=v");
    EXPECT_EQ(cookieLine(server.Received()[1]), "Cookie: k=v; consent=yes; id=7");
    EXPECT_EQ(cookieLine(server.Received()[2]), "Cookie: k=v");  // the next request
    ASSERT_EQ(other.Received().size(), 1u);
    EXPECT_EQ(cookieLine(other.Received()[0]), "Cookie: k=v");
}

// Blanks around the address and line breaks and tabs inside it are dropped before it is sent.
TEST_F(HttpCliTest, AddressIsTrimmedBeforeItIsSent) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 200 OK\r\n\r\n"));
    cli.SetURL(" \t" + server.Url("/a\tb\r\nc") + " \r\n");
    EXPECT_EQ(HeadCode(), 0);
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_EQ(server.Received()[0].substr(0, 20), "HEAD /abc HTTP/1.0\r\n");
    EXPECT_EQ(cli.Location(), server.Url("/abc"));
}

TEST_F(HttpCliTest, ContentLengthAndTypeStartEmptyEachRequest) {
    ScriptedServer server({TScript::Answer("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n"
                                           "Content-Type: text/plain\r\n\r\n"),
                           TScript::Answer("HTTP/1.0 200 OK\r\nContent-Length: x\r\n\r\n")});
    cli.SetURL(server.Url("/"));
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.ContentLength(), 5);
    EXPECT_EQ(HeadCode(), 0);
    EXPECT_EQ(cli.ContentLength(), -1);
    EXPECT_EQ(cli.ContentType(), "");
}

TEST_F(HttpCliTest, ExecutableServedAsHtmlIsRenamed) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/dl/setup.exe", "text/html", "setup.htm"},
        {"/dl/SETUP.EXE", "TEXT/HTML", "SETUP.htm"},
        {"/dl/setup.exe", "application/octet-stream", "setup.exe"},
        {"/dl/page.html", "text/html", "page.html"},
    };
    for (const auto& [path, type, want] : cases) {
        ScriptedServer server(
            TScript::Answer(std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + type + "\r\n\r\n"));
        cli.SetURL(server.Url(path));
        EXPECT_EQ(HeadCode(), 0);
        EXPECT_EQ(cli.DocumentName(), want) << path << " " << type;
    }
}

TEST_F(HttpCliTest, LinesSplitAcrossPiecesAndBareLineFeeds) {
    const std::string answers[] = {
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nServer: pieces\r\n\r\n",
        "HTTP/1.1 200 OK\nContent-Type: text/plain\nServer: pieces\n\n",
    };
    for (const std::string& answer : answers) {
        for (std::size_t piece : {1, 5, 17}) {
            ScriptedServer server(
                TScript().ReadRequest().Send(answer, piece, std::chrono::milliseconds(2)));
            cli.SetURL(server.Url("/"));
            EXPECT_EQ(HeadCode(), 0);
            EXPECT_EQ(cli.ResponseHeaderLines(),
                      (Lines{"HTTP/1.1 200 OK", "Content-Type: text/plain", "Server: pieces"}))
                << "pieces of " << piece;
            EXPECT_EQ(cli.ContentType(), "text/plain");
        }
    }
}

TEST_F(HttpCliTest, BodyReachesStreamAndEvents) {
    std::string body;
    for (int i = 0; i < 3000; ++i)
        body += "line " + std::to_string(i) + "\r\n";
    ScriptedServer server(TScript().ReadRequest().Send(
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
        7000, std::chrono::milliseconds(1)));
    std::ostringstream sink;
    std::string viaEvents;
    int begins = 0, ends = 0;
    cli.OnDocBegin = [&](sys::TObject*) { ++begins; };
    cli.OnDocData = [&](sys::TObject*, const void* data, int len) {
        viaEvents.append(static_cast<const char*>(data), len);
    };
    cli.OnDocEnd = [&](sys::TObject*) { ++ends; };
    cli.SetResponseBodyStream(&sink);
    cli.SetURL(server.Url("/big.txt"));
    ASSERT_TRUE(Run(hrGet));
    EXPECT_EQ(sink.str(), body);
    EXPECT_EQ(viaEvents, body);
    EXPECT_EQ(cli.ReceivedCount(), static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
}

TEST_F(HttpCliTest, DocumentWithoutHeaderIsBodyFromItsFirstLine) {
    const std::string page = "<Html><body>\r\nHello\r\n</body></html>\r\n";
    for (std::size_t piece : {0, 3}) {
        SCOPED_TRACE(::testing::Message() << "pieces of " << piece);
        ScriptedServer server(
            TScript().ReadRequest().Send(page, piece, std::chrono::milliseconds(1)));
        std::ostringstream sink;
        int headerEnds = 0;
        cli.OnHeaderEnd = [&](sys::TObject*) { ++headerEnds; };
        cli.SetResponseBodyStream(&sink);
        cli.SetURL(server.Url("/"));
        EXPECT_TRUE(Run(hrGet));
        EXPECT_EQ(sink.str(), page);
        EXPECT_EQ(cli.ContentType(), "text/html");
        // The document arrives, but without a status line it is no answer to trust.
        EXPECT_EQ(cli.StatusCode(), 404);
        EXPECT_EQ(cli.ReasonPhrase(), "No HTTP answer");
        EXPECT_TRUE(cli.ResponseHeaderLines().empty());
        EXPECT_EQ(headerEnds, 1);
    }
}

struct RelocationCase {
    const char* path;
    std::string location;  // "@" stands for the second server's "127.0.0.1:port"
    const char* wantRequestLine;
    std::string wantLocation;  // after "http://127.0.0.1:port" of the server asked
};

std::string Fill(std::string text, const ScriptedServer& server) {
    if (const auto at = text.find('@'); at != std::string::npos)
        text.replace(at, 1, server.HostPort());
    return text;
}

TEST_F(HttpCliTest, RelocationForms) {
    const RelocationCase cases[] = {
        {"/old", "/new/place", "HEAD /new/place HTTP/1.0", "/new/place"},
        {"/old", "http://@/moved", "HEAD /moved HTTP/1.0", "/moved"},
        {"/old", "http://@", "HEAD / HTTP/1.0", "/"},
        {"/old", "//@/scheme-relative", "HEAD /scheme-relative HTTP/1.0", "/scheme-relative"},
        {"/dir/page.html", "next.html", "HEAD /dir/next.html HTTP/1.0", "/dir/next.html"},
        {"/dir/page.html", "../up/x", "HEAD /up/x HTTP/1.0", "/up/x"},
        {"/old", "http:/rooted", "HEAD /rooted HTTP/1.0", "/rooted"},
        {"/old", "/a b/caf\xE9#top", "HEAD /a%20b/caf%E9 HTTP/1.0", "/a%20b/caf%E9"},
    };
    for (const RelocationCase& c : cases) {
        // The first server relocates; relative targets come back to it, absolute ones go to
        // the second.
        ScriptedServer target(TScript::Answer("HTTP/1.0 200 OK\r\nServer: target\r\n\r\n"));
        const bool absolute = c.location.find('@') != std::string::npos;
        const std::string location = Fill(c.location, target);
        std::vector<TScript> scripts = {
            TScript::Answer("HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n<a>x</a>")};
        if (!absolute)
            scripts.push_back(TScript::Answer("HTTP/1.0 200 OK\r\nServer: target\r\n\r\n"));
        ScriptedServer first(scripts);
        int changes = 0;
        cli.OnLocationChange = [&](sys::TObject*) { ++changes; };
        cli.SetURL(first.Url(c.path));
        EXPECT_EQ(HeadCode(), 0) << location;
        EXPECT_EQ(cli.StatusCode(), 200) << location;
        EXPECT_EQ(changes, 1) << location;
        EXPECT_EQ(cli.ResponseHeaderLines(), (Lines{"HTTP/1.0 302 Found", "Location: " + location,
                                                    "HTTP/1.0 200 OK", "Server: target"}))
            << location;
        const std::string second = absolute ? target.Received().at(0) : first.Received().at(1);
        EXPECT_EQ(second.substr(0, second.find("\r\n")), c.wantRequestLine) << location;
        // The address being requested keeps the port of the server it names.
        EXPECT_EQ(cli.Location(), (absolute ? target.Url("") : first.Url("")) + c.wantLocation)
            << location;
    }
}

TEST_F(HttpCliTest, RelocationThroughProxyAsksTheProxyAgain) {
    ScriptedServer proxy({TScript::Answer("HTTP/1.0 302 Found\r\nLocation: other.html\r\n\r\n"),
                          TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")});
    cli.SetProxy(proxy.HostPort());
    cli.SetURL("http://www.a.test:8080/dir/page.html");
    EXPECT_EQ(HeadCode(), 0);
    ASSERT_EQ(proxy.Received().size(), 2u);
    const std::string second = proxy.Received()[1];
    EXPECT_EQ(second.substr(0, second.find("\r\n")),
              "HEAD http://www.a.test:8080/dir/other.html HTTP/1.0");
    EXPECT_NE(second.find("\r\nHost: www.a.test:8080\r\n"), std::string::npos);
    EXPECT_EQ(cli.Location(), "http://www.a.test:8080/dir/other.html");
}

TEST_F(HttpCliTest, RelocationLoopEndsAfterTwentyHops) {
    ScriptedServer server(TScript::Answer("HTTP/1.0 302 Found\r\nLocation: /loop\r\n\r\n"));
    cli.SetURL(server.Url("/"));
    std::string message;
    EXPECT_EQ(HeadCode(&message), 404);
    EXPECT_EQ(message, "Too many relocations");
    EXPECT_EQ(server.Connections(), THttpCli::MaxRelocations + 1);
    EXPECT_EQ(cli.ResponseHeaderLines().size(), 2u * (THttpCli::MaxRelocations + 1));
}

TEST_F(HttpCliTest, OversizedHeaderEndsTheRequest) {
    std::string header = "HTTP/1.0 200 OK\r\n";
    const std::string line = "X-Filler: " + std::string(5000, 'f') + "\r\n";
    while (header.size() < THttpCli::MaxHeaderBytes + 20000)
        header += line;
    ScriptedServer server(TScript().ReadRequest().Send(header).Hang());
    cli.SetURL(server.Url("/"));
    std::string message;
    EXPECT_EQ(HeadCode(&message), 404);
    EXPECT_EQ(message, "HTTP header too large");
    std::size_t kept = 0;
    for (const std::string& l : cli.ResponseHeaderLines())
        kept += l.size();
    EXPECT_LE(kept, THttpCli::MaxHeaderBytes);
    EXPECT_GT(kept, THttpCli::MaxHeaderBytes - line.size());
}

}  // namespace
