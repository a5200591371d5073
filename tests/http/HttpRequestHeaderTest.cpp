#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpRequestHeader.h"

using http::THttpRequestHeaderInput;
using Lines = std::vector<std::string>;

namespace {

const char* kAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
const char* kAgent = "Mozilla/3.0 (compatible)";

THttpRequestHeaderInput Plain(const char* method) {
    THttpRequestHeaderInput in;
    in.Method = method;
    in.RequestPath = "/index.html";
    in.Accept = kAccept;
    in.Agent = kAgent;
    in.Host = "www.a.test";
    in.ContentTypePost = "application/x-www-form-urlencoded";
    return in;
}

TEST(RequestHeaderTest, PlainHeadCarriesOnlyTheDefaults) {
    EXPECT_EQ(http::RequestHeaderLines(Plain("HEAD")),
              (Lines{"HEAD /index.html HTTP/1.0", std::string("Accept: ") + kAccept,
                     std::string("User-Agent: ") + kAgent, "Host: www.a.test"}));
}

TEST(RequestHeaderTest, EveryLineInItsPlace) {
    THttpRequestHeaderInput in = Plain("POST");
    in.RequestPath = "http://www.a.test:8080/cgi";
    in.Sender = "joe@a.test";
    in.Reference = "http://ref.test/";
    in.NoCache = true;
    in.PostSize = 11;
    in.ModifiedSince = 46364.0 + (20 * 3600 + 52 * 60 + 54) / 86400.0;
    in.Username = "user";
    in.Password = "pass";
    in.ViaProxy = true;
    in.ProxyUsername = "proxy";
    in.ProxyPassword = "secret";
    in.Cookie = "a=1";
    in.RangeBegin = "100";
    in.RangeEnd = "199";
    EXPECT_EQ(
        http::RequestHeaderLines(in),
        (Lines{"POST http://www.a.test:8080/cgi HTTP/1.0", "From: joe@a.test",
               std::string("Accept: ") + kAccept, "Referer: http://ref.test/",
               "Content-Type: application/x-www-form-urlencoded",
               std::string("User-Agent: ") + kAgent, "Host: www.a.test", "Pragma: no-cache",
               "Content-Length: 11", "If-Modified-Since: Tue, 08 Dec 2026 20:52:54 GMT",
               "Authorization: Basic dXNlcjpwYXNz", "Proxy-Authorization: Basic cHJveHk6c2VjcmV0",
               "Cookie: a=1", "Range: bytes=100-199"}));
}

TEST(RequestHeaderTest, ConditionalLines) {
    struct Case {
        const char* name;
        void (*change)(THttpRequestHeaderInput&);
        Lines want;
    };
    const Case cases[] = {
        {"post without content type",
         [](THttpRequestHeaderInput& in) {
             in.Method = "POST";
             in.ContentTypePost = {};
         },
         {"POST /index.html HTTP/1.0", std::string("Accept: ") + kAccept,
          std::string("User-Agent: ") + kAgent, "Host: www.a.test", "Content-Length: 0"}},
        {"proxy credentials without proxy",
         [](THttpRequestHeaderInput& in) { in.ProxyUsername = "p"; },
         {"GET /index.html HTTP/1.0", std::string("Accept: ") + kAccept,
          std::string("User-Agent: ") + kAgent, "Host: www.a.test"}},
        {"user without password, no accept, no agent",
         [](THttpRequestHeaderInput& in) {
             in.Username = "joe";
             in.Accept = {};
             in.Agent = {};
         },
         {"GET /index.html HTTP/1.0", "Host: www.a.test", "Authorization: Basic am9lOg=="}},
        {"open range",
         [](THttpRequestHeaderInput& in) { in.RangeEnd = "500"; },
         {"GET /index.html HTTP/1.0", std::string("Accept: ") + kAccept,
          std::string("User-Agent: ") + kAgent, "Host: www.a.test", "Range: bytes=-500"}},
        {"date that cannot be written",
         [](THttpRequestHeaderInput& in) { in.ModifiedSince = 1e300; },
         {"GET /index.html HTTP/1.0", std::string("Accept: ") + kAccept,
          std::string("User-Agent: ") + kAgent, "Host: www.a.test"}},
    };
    for (const Case& c : cases) {
        THttpRequestHeaderInput in = Plain("GET");
        c.change(in);
        EXPECT_EQ(http::RequestHeaderLines(in), c.want) << c.name;
    }
}

}  // namespace
