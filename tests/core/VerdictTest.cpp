// Verdicts as a user on today's web sees them: one favourite per case, checked end to end by the
// check run over the real HTTP client against scripted loopback servers, plain and TLS. Each case
// names the server's behaviour, the row text it must give and the reason the log must show.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "ScriptedServer.h"
#include "TempDir.h"
#include "TestCa.h"
#include "app/core/CheckRun.h"
#include "app/core/HttpCheckClient.h"

namespace {

using testsupport::ScriptedServer;
using testsupport::TestCa;
using testsupport::TScript;
using namespace std::chrono_literals;

const std::string kDated =
    "HTTP/1.1 200 OK\r\nLast-Modified: Wed, 09 Oct 2002 10:10:10 GMT\r\n\r\n";
const std::string kDate = "2002/10/09; 10:10:10 GMT";

class LogView : public ICheckRunView {
  public:
    std::vector<std::string> log;
    void Log(const std::string& line) override { log.push_back(line); }
};

// The servers of one case. A case makes the ones it needs and returns the favourite's address.
struct Servers {
    std::vector<std::unique_ptr<ScriptedServer>> all;

    ScriptedServer& Plain(std::vector<TScript> scripts) {
        all.push_back(std::make_unique<ScriptedServer>(std::move(scripts)));
        return *all.back();
    }
    ScriptedServer& Tls(std::vector<TScript> scripts,
                        const testsupport::TCertFiles& cert = TestCa::Shared().Valid()) {
        all.push_back(std::make_unique<ScriptedServer>(std::move(scripts), cert));
        return *all.back();
    }
    // Over TLS or plain, as the case runs.
    ScriptedServer& Either(bool tls, std::vector<TScript> scripts) {
        return tls ? Tls(std::move(scripts)) : Plain(std::move(scripts));
    }
};

struct VerdictCase {
    std::string name;
    std::function<std::string(Servers&)> setUp;
    std::string datum;
    std::string reason;            // the start of the log's "ReasonPhrase = " text; "" when none
    std::string requestLine = "";  // the first request line the first server got; "" to skip
    std::string logShows = "";     // a line the row's log must hold; "" to skip
};

class VerdictTest : public testing::Test {
  protected:
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", TestCa::Shared().CaFile()};
    TFavoriteList list;
    THttpCli http;
    THttpCheckClient client{http};
    LogView view;
    TCheckRun run{list, client, view};

    VerdictTest() {
        ConfigureCheckClient(http);
        http.SetTimeout(8);
        run.RetryDelay = 1ms;  // the retry's wait is the run's business, not the verdict's
    }

    void Check(const std::string& url) {
        list.Clear();
        view.log.clear();
        TFavoriteRow row;
        row.Name = "case";
        row.URL = url;
        row.Datei = "/fav/case.url";
        list.Append(row);
        run.CheckNow(false);
    }

    std::string LoggedReason() const {
        const std::string key = "ReasonPhrase = ";
        std::string reason;
        for (const std::string& line : view.log)
            if (line.rfind(key, 0) == 0)
                reason = line.substr(key.size());
        return reason;
    }

    void Expect(const VerdictCase& c) {
        SCOPED_TRACE(c.name);
        Servers servers;
        const std::string url = c.setUp(servers);
        Check(url);
        EXPECT_EQ(list[0].Datum, c.datum) << testing::PrintToString(view.log);
        if (c.reason.empty())
            EXPECT_EQ(LoggedReason(), "");
        else
            EXPECT_THAT(LoggedReason(), testing::StartsWith(c.reason));
        if (!c.logShows.empty()) {
            EXPECT_THAT(view.log, testing::Contains(c.logShows));
        }
        if (!c.requestLine.empty() && !servers.all.empty()) {
            const auto received = servers.all.front()->Received();
            ASSERT_FALSE(received.empty());
            EXPECT_EQ(received[0].substr(0, received[0].find("\r\n")), c.requestLine);
        }
    }
};

std::string Suffix(bool tls) {
    return tls ? " (https)" : " (http)";
}

// The value of the Host line of a request, "" when it has none.
std::string HostOf(const std::string& request) {
    const std::string key = "\r\nHost: ";
    const auto at = request.find(key);
    if (at == std::string::npos)
        return {};
    const auto start = at + key.size();
    return request.substr(start, request.find("\r\n", start) - start);
}

// A server that routes by host and port, as virtual hosts do: it gives answer only to a
// request whose Host names it with its port, and 400 to any other. The server's own address is
// known once it listens, so it is handed in afterwards through self.
TScript NeedsPort(std::shared_ptr<std::string> self,
                  std::function<std::string(const std::string&)> answer) {
    return TScript().ReadRequest().Reply([self, answer](const std::string& request) {
        return HostOf(request) == *self ? answer(request) : "HTTP/1.1 400 Bad Request\r\n\r\n";
    });
}

ScriptedServer& RoutedByPort(Servers& x, bool tls,
                             std::vector<std::function<std::string(const std::string&)>> answers) {
    auto self = std::make_shared<std::string>();
    std::vector<TScript> scripts;
    for (auto& answer : answers)
        scripts.push_back(NeedsPort(self, std::move(answer)));
    ScriptedServer& server = x.Either(tls, std::move(scripts));
    *self = server.HostPort();
    return server;
}

std::function<std::string(const std::string&)> Fixed(std::string answer) {
    return [answer](const std::string&) { return answer; };
}

const std::string kEarlyHints =
    "HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n";

// What browsers and servers of today do that a check must read as they mean it: the port in
// Host, interim answers, header names in any case, cookies along relocations, and addresses
// with blanks or line breaks.
std::vector<VerdictCase> TodaysWebCases(bool tls) {
    const std::string s = Suffix(tls);
    const std::string scheme = tls ? "https" : "http";
    return {
        {"a server that routes by host and port" + s,
         [tls](Servers& x) { return RoutedByPort(x, tls, {Fixed(kDated)}).Url("/"); }, kDate, "",
         "HEAD / HTTP/1.0", "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT"},
        {"a relocation the server builds from the Host line" + s,
         [tls, scheme](Servers& x) {
             const auto moved = [scheme](const std::string& request) {
                 return "HTTP/1.1 301 Moved Permanently\r\nLocation: " + scheme + "://" +
                        HostOf(request) + "/next\r\n\r\n";
             };
             return RoutedByPort(x, tls, {moved, Fixed(kDated)}).Url("/");
         },
         kDate, "", "", "HTTP/1.1 301 Moved Permanently"},
        {"a relative relocation keeps the port" + s,
         [tls](Servers& x) {
             return RoutedByPort(
                        x, tls,
                        {Fixed("HTTP/1.1 302 Found\r\nLocation: next\r\n\r\n"), Fixed(kDated)})
                 .Url("/dir/");
         },
         kDate, "", "HEAD /dir/ HTTP/1.0", "HTTP/1.1 302 Found"},
        {"Early Hints before a dead page" + s,
         [tls](Servers& x) {
             return x.Either(tls, {TScript::Answer(kEarlyHints + "HTTP/1.1 404 Not Found\r\n\r\n")})
                 .Url();
         },
         "FAILED", "Not Found"},
        {"Early Hints before a live page" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer(kEarlyHints + kDated)}).Url(); },
         kDate, "", "", "HTTP/1.1 103 Early Hints"},
        {"100 Continue before a live page" + s,
         [tls](Servers& x) {
             return x.Either(tls, {TScript::Answer("HTTP/1.1 100 Continue\r\n\r\n" + kDated)})
                 .Url();
         },
         kDate, "", "", "HTTP/1.1 100 Continue"},
        {"last-modified in lower case" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 200 OK\r\nlast-modified: Wed, 09 Oct "
                                               "2002 10:10:10 GMT\r\n\r\n")})
                 .Url();
         },
         kDate, "", "", "last-modified: Wed, 09 Oct 2002 10:10:10 GMT"},
        {"LOCATION in capitals" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 301 Moved\r\nLOCATION: /next\r\n\r\n"),
                               TScript::Answer(kDated)})
                 .Url();
         },
         kDate, "", "", "LOCATION: /next"},
        {"a relocation's own date is not the page's" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 302 Found\r\nLast-Modified: Wed, 09 Oct "
                                               "2002 10:10:10 GMT\r\nLocation: /p\r\n\r\n"),
                               TScript::Answer("HTTP/1.1 200 OK\r\n\r\n")})
                 .Url();
         },
         "OK", "", "", "HTTP/1.1 200 OK"},
        {"a site that relocates until its cookie comes back" + s,
         [tls](Servers& x) {
             const std::string cookie =
                 "Set-Cookie: consent=yes; Path=/; HttpOnly" + std::string(tls ? "; Secure" : "");
             const auto consent = [cookie](const std::string& request) {
                 return request.find("\r\nCookie: consent=yes\r\n") != std::string::npos
                            ? kDated
                            : "HTTP/1.1 302 Found\r\n" + cookie + "\r\nLocation: /\r\n\r\n";
             };
             return x.Either(tls, {TScript().ReadRequest().Reply(consent)}).Url();
         },
         kDate, "", "", "Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT"},
        {"blanks and a tab around the address" + s,
         [tls](Servers& x) {
             return " \t" + x.Either(tls, {TScript::Answer(kDated)}).Url("/p") + " \r\n";
         },
         kDate, "", "HEAD /p HTTP/1.0"},
        {"line breaks inside the address are dropped" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer(kDated)}).Url("/a\r\nX: y"); },
         kDate, "", "HEAD /aX:%20y HTTP/1.0"},
        {"a Location with blanks around it" + s,
         [tls](Servers& x) {
             auto& target = x.Either(tls, {TScript::Answer(kDated)});
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 301 Moved\r\nLocation:  " +
                                               target.Url("/next") + " \t\r\n\r\n")})
                 .Url();
         },
         kDate, "", "HEAD /next HTTP/1.0"},
    };
}

// What every server can do to a request, over both schemes.
std::vector<VerdictCase> AnswerCases(bool tls) {
    const std::string s = Suffix(tls);
    return {
        {"a page with Last-Modified" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer(kDated)}).Url("/p"); }, kDate,
         "", "HEAD /p HTTP/1.0"},
        {"a reset instead of an answer" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript().ReadRequest().Reset()}).Url(); },
         "FAILED", "Connection reset by peer"},
        {"a close without a byte" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript().ReadRequest().Close()}).Url(); },
         "FAILED", "No HTTP answer"},
        {"bytes that are not HTTP" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer("\x01\x02garbage")}).Url(); },
         "FAILED", "No HTTP answer"},
        {"keep-alive after a complete answer" + s,
         [tls](Servers& x) {
             return x.Either(tls, {TScript().ReadRequest().Send(kDated).Hang()}).Url();
         },
         kDate, ""},
        {"a header line longer than the buffer, then the close" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.0 200 OK\r\nX-Long: " +
                                               std::string(20000, 'a') + "\r\n\r\n")})
                 .Url();
         },
         "OK", ""},
        {"the fragment is not sent and ? ends the host" + s,
         [tls](Servers& x) {
             const auto& server = x.Either(tls, {TScript::Answer(kDated)});
             return server.Scheme() + "://" + server.HostPort() + "?x=1#top";
         },
         kDate, "", "HEAD /?x=1 HTTP/1.0"},
        {"blanks and code-page bytes are percent-encoded" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer(kDated)}).Url("/a b/caf\xE9"); },
         kDate, "", "HEAD /a%20b/caf%E9 HTTP/1.0"},
        {"control bytes in the address" + s,
         [tls](Servers& x) { return x.Either(tls, {TScript::Answer(kDated)}).Url("/a\x01z"); },
         "FAILED", "Address holds control characters"},
        {"control bytes in a Location" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.0 302 Found\r\nLocation: /a\x01z\r\n\r\n")})
                 .Url();
         },
         "FAILED", "Relocation address holds control characters"},
        {"a scheme-relative Location names a new host" + s,
         [tls](Servers& x) {
             auto& target = x.Either(tls, {TScript::Answer(kDated)});
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.0 301 Moved\r\nLocation: //" +
                                               target.HostPort() + "/new\r\n\r\n")})
                 .Url();
         },
         kDate, "", "HEAD /new HTTP/1.0"},
        {"HEAD refused with 405, GET answers" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 405 Method Not Allowed\r\n\r\n"),
                               TScript::Answer(kDated)})
                 .Url();
         },
         kDate, "Method Not Allowed"},
        {"HEAD refused with 501, GET answers" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.0 501 Not Implemented\r\n\r\n"),
                               TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")})
                 .Url();
         },
         "OK", "Not Implemented"},
        {"a 404 for HEAD alone" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n"),
                               TScript::Answer("HTTP/1.0 200 OK\r\n\r\n")})
                 .Url();
         },
         "OK", "Not Found"},
        {"a dead page, HEAD and GET alike" + s,
         [tls](Servers& x) {
             return x.Either(tls, {TScript::Answer("HTTP/1.0 404 Not Found\r\n\r\n")}).Url();
         },
         "FAILED", "Not Found"},
    };
}

// The requests the client itself must get right, between the schemes and with certificates.
std::vector<VerdictCase> SchemeCases() {
    const TestCa& ca = TestCa::Shared();
    return {
        {"http relocated to https",
         [](Servers& x) {
             auto& secure = x.Tls({TScript::Answer(kDated)});
             return x
                 .Plain({TScript::Answer("HTTP/1.1 301 Moved Permanently\r\nLocation: " +
                                         secure.Url("/moved") + "\r\n\r\n")})
                 .Url();
         },
         kDate, ""},
        {"https relocated to http",
         [](Servers& x) {
             auto& plain = x.Plain({TScript::Answer(kDated)});
             return x
                 .Tls({TScript::Answer("HTTP/1.1 302 Found\r\nLocation: " + plain.Url("/p") +
                                       "\r\n\r\n")})
                 .Url();
         },
         kDate, ""},
        {"https by host name",
         [](Servers& x) {
             return "https://localhost:" + x.Tls({TScript::Answer(kDated)}).PortText() + "/";
         },
         kDate, ""},
        {"an expired certificate",
         [&ca](Servers& x) { return x.Tls({TScript::Answer(kDated)}, ca.Expired()).Url(); },
         "FAILED", "TLS: certificate has expired"},
        {"a certificate for another host",
         [&ca](Servers& x) { return x.Tls({TScript::Answer(kDated)}, ca.OtherHost()).Url(); },
         "FAILED", "TLS: host name mismatch"},
        {"a self-signed certificate",
         [&ca](Servers& x) { return x.Tls({TScript::Answer(kDated)}, ca.SelfSigned()).Url(); },
         "FAILED", "TLS: self-signed certificate"},
        {"https to a server that speaks plain HTTP",
         [](Servers& x) {
             // A web server answers a hello it cannot read as a bad request.
             auto& plain = x.Plain({TScript().Send("HTTP/1.1 400 Bad Request\r\n\r\n").Close()});
             return "https://" + plain.HostPort() + "/";
         },
         "FAILED", "TLS: handshake failed"},
        {"http to a server that speaks TLS",
         [](Servers& x) { return "http://" + x.Tls({TScript::Answer(kDated)}).HostPort() + "/"; },
         "FAILED", "No HTTP answer"},
        {"a relocation that never ends",
         [](Servers& x) {
             return x.Plain({TScript::Answer("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n")})
                 .Url();
         },
         "FAILED", "Too many relocations"},
        {"a relocation whose second answer is a reset",
         [](Servers& x) {
             return x
                 .Plain({TScript::Answer("HTTP/1.0 302 Found\r\nLocation: /next\r\n\r\n"),
                         TScript().ReadRequest().Reset()})
                 .Url();
         },
         "FAILED", "Connection reset by peer"},
    };
}

// Servers that are there but will not tell, and faults that pass: BLOCKED is never deleted in
// bulk, and a second answer decides after a server error or a lost connection.
std::vector<VerdictCase> RefusalCases(bool tls) {
    const std::string s = Suffix(tls);
    const std::string rate = "Blocked: the server limits the rate of requests";
    return {
        {"a login page" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 401 Unauthorized\r\n"
                                               "WWW-Authenticate: Basic realm=\"x\"\r\n\r\n")})
                 .Url();
         },
         "BLOCKED", "Unauthorized", "", "Blocked: the page asks for a login"},
        {"a rate limit beyond the run's wait" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 429 Too Many Requests\r\n"
                                               "Retry-After: 3600\r\n\r\n")})
                 .Url();
         },
         "BLOCKED", "Too Many Requests", "", rate},
        {"a rate limit without a wait, twice" + s,
         [tls](Servers& x) {
             const std::string limit = "HTTP/1.1 429 Too Many Requests\r\n\r\n";
             return x.Either(tls, {TScript::Answer(limit), TScript::Answer(limit)}).Url();
         },
         "BLOCKED", "Too Many Requests", "", "Trying again in 1 s"},
        {"a bot challenge" + s,
         [tls](Servers& x) {
             return x
                 .Either(tls, {TScript::Answer("HTTP/1.1 403 Forbidden\r\n"
                                               "cf-mitigated: challenge\r\n\r\n")})
                 .Url();
         },
         "BLOCKED", "Forbidden", "", "Blocked: the server shows a bot challenge"},
        {"a plain 403" + s,
         [tls](Servers& x) {
             const std::string no = "HTTP/1.1 403 Forbidden\r\n\r\n";
             return x.Either(tls, {TScript::Answer(no), TScript::Answer(no)}).Url();
         },
         "FAILED", "Forbidden", "", "GET Failed !"},
        {"a server error that passes" + s,
         [tls](Servers& x) {
             const std::string oops = "HTTP/1.1 500 Internal Server Error\r\n\r\n";
             return x
                 .Either(tls,
                         {TScript::Answer(oops), TScript::Answer(oops), TScript::Answer(kDated)})
                 .Url();
         },
         kDate, "Internal Server Error", "", "Trying again in 1 s"},
        {"a server error that stays" + s,
         [tls](Servers& x) {
             const std::string oops = "HTTP/1.1 502 Bad Gateway\r\n\r\n";
             return x
                 .Either(tls, {TScript::Answer(oops), TScript::Answer(oops), TScript::Answer(oops)})
                 .Url();
         },
         "FAILED", "Bad Gateway", "", "Trying again in 1 s"},
        {"a reset that passes" + s,
         [tls](Servers& x) {
             return x.Either(tls, {TScript().ReadRequest().Reset(), TScript::Answer(kDated)}).Url();
         },
         kDate, "Connection reset by peer", "", "Trying again in 1 s"},
    };
}

TEST_F(VerdictTest, RefusalsOverHttp) {
    for (const VerdictCase& c : RefusalCases(false))
        Expect(c);
}

TEST_F(VerdictTest, RefusalsOverHttps) {
    for (const VerdictCase& c : RefusalCases(true))
        Expect(c);
}

// Favourites that are no web pages are never asked for and never FAILED, but for a file:
// address, which is looked up on this machine.
TEST_F(VerdictTest, AddressesThatAreNoWebPages) {
    testsupport::TempDir dir;
    const std::string page = (dir.Path() / "seite eins.html").string();
    std::ofstream(page) << "<p>";
    const struct {
        std::string url, datum, logShows;
    } cases[] = {
        {"javascript:alert(1)", "SKIPPED", "Skipped: javascript: is no web address"},
        {" mailto:anna@example.com", "SKIPPED", "Skipped: mailto: is no web address"},
        {"ftp://ftp.example.com/pub/", "SKIPPED", "Skipped: ftp: is no web address"},
        {"news:comp.lang.c", "SKIPPED", "Skipped: news: is no web address"},
        {"data:text/html,hi", "SKIPPED", "Skipped: data: is no web address"},
        {"place:sort=8&maxResults=10", "SKIPPED", "Skipped: place: is no web address"},
        {"x-unknown-thing:abc", "SKIPPED", "Skipped: x-unknown-thing: is no web address"},
        {"file://" + dir.Path().string() + "/seite%20eins.html", "OK", "File = " + page},
        {"FILE://localhost" + dir.Path().string() + "/", "OK", "File found"},
        {"file:///nowhere/at/all.html", "FAILED", "File not found: No such file or directory"},
        {"file://fileserver/share/a.doc", "FAILED", "File = //fileserver/share/a.doc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        Check(c.url);
        EXPECT_EQ(list[0].Datum, c.datum);
        EXPECT_THAT(view.log, testing::Contains(c.logShows));
    }
}

TEST_F(VerdictTest, AnswersOverHttp) {
    for (const VerdictCase& c : AnswerCases(false))
        Expect(c);
}

TEST_F(VerdictTest, AnswersOverHttps) {
    for (const VerdictCase& c : AnswerCases(true))
        Expect(c);
}

TEST_F(VerdictTest, TodaysWebOverHttp) {
    for (const VerdictCase& c : TodaysWebCases(false))
        Expect(c);
}

TEST_F(VerdictTest, TodaysWebOverHttps) {
    for (const VerdictCase& c : TodaysWebCases(true))
        Expect(c);
}

TEST_F(VerdictTest, SchemesAndCertificates) {
    for (const VerdictCase& c : SchemeCases())
        Expect(c);
}

// A complete answer ends the request; a server that keeps the connection open for more must
// not hold the row until the time-out.
TEST_F(VerdictTest, KeptConnectionDoesNotHoldTheRow) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(Suffix(tls));
        Servers servers;
        auto& server = servers.Either(tls, {TScript().ReadRequest().Send(kDated).Hang()});
        http.SetTimeout(30);
        const auto start = std::chrono::steady_clock::now();
        Check(server.Url());
        EXPECT_EQ(list[0].Datum, kDate);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
        // The client, not the server, ended the connection.
        EXPECT_TRUE(server.WaitFinished(1, 5s));
    }
}

// Credentials in one favourite's address go to that favourite's server alone.
TEST_F(VerdictTest, CredentialsStayWithTheirFavourite) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(Suffix(tls));
        Servers servers;
        auto& other = servers.Either(tls, {TScript::Answer(kDated)});
        auto& server = servers.Either(
            tls, {TScript::Answer("HTTP/1.0 302 Found\r\nLocation: " + other.Url() + "\r\n\r\n"),
                  TScript::Answer(kDated)});
        Check(server.Scheme() + "://joe:secret@" + server.HostPort() + "/");
        Check(server.Url());
        using testing::HasSubstr;
        using testing::Not;
        EXPECT_THAT(server.Received(),
                    testing::ElementsAre(HasSubstr("Authorization: Basic am9lOnNlY3JldA=="),
                                         Not(HasSubstr("Authorization"))));
        EXPECT_THAT(other.Received(), testing::ElementsAre(Not(HasSubstr("Authorization"))));
    }
}

// Most favourites name no port, and most http addresses relocate to the same address over
// https: the relocation must go to port 443, not stay on port 80 until the limit.
TEST_F(VerdictTest, RelocationToHttpsWithoutAPortGoesToPort443) {
    const std::string host = "127.0.0.3";  // in the test certificate, and free of other tests
    auto secure =
        ScriptedServer::At(host, 443, {TScript::Answer(kDated)}, TestCa::Shared().Valid());
    auto plain =
        ScriptedServer::At(host, 80,
                           {TScript::Answer("HTTP/1.1 301 Moved Permanently\r\nLocation: https://" +
                                            host + "/page\r\n\r\n")});
    if (!secure || !plain)
        GTEST_SKIP() << "ports 80 and 443 of " << host << " cannot be listened on here";
    Check("http://" + host + "/page");
    EXPECT_EQ(list[0].Datum, kDate) << testing::PrintToString(view.log);
    EXPECT_EQ(plain->Connections(), 1);
    ASSERT_EQ(secure->Received().size(), 1u);
    EXPECT_EQ(secure->Received()[0].substr(0, 21), "HEAD /page HTTP/1.0\r\n");
}

}  // namespace
