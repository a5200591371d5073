#include <gtest/gtest.h>

#include <string>

#include "http/HttpCookies.h"

using http::TCookieJar;
using http::TCookieSite;

namespace {

const TCookieSite kPage{"www.a.test", "/dir/page?x=1", false};

struct JarCase {
    const char* name;
    std::string setCookie;
    TCookieSite from = kPage;
    TCookieSite to = kPage;
    std::string want;  // the Cookie value sent to "to"
};

TEST(CookieJarTest, WhatComesBackWhere) {
    const JarCase cases[] = {
        {"plain", "id=7", kPage, kPage, "id=7"},
        {"attributes and blanks", " id = 7 ; HttpOnly; SameSite=Lax", kPage, kPage, "id=7"},
        {"empty value", "id=", kPage, kPage, "id="},
        {"no name", "=7", kPage, kPage, ""},
        {"no equals sign", "id", kPage, kPage, ""},
        {"another host", "id=7", kPage, {"b.test", "/dir/page", false}, ""},
        {"host in another letter case", "id=7", kPage, {"WWW.A.Test", "/dir/x", false}, "id=7"},
        {"default path is the request's folder",
         "id=7",
         kPage,
         {"www.a.test", "/other", false},
         ""},
        {"default path covers the folder", "id=7", kPage, {"www.a.test", "/dir", false}, "id=7"},
        {"path not on a segment border", "id=7; Path=/di", kPage, kPage, ""},
        {"path of the whole site", "id=7; path=/", kPage, {"www.a.test", "/", false}, "id=7"},
        {"a relative path counts as none",
         "id=7; Path=x",
         kPage,
         {"www.a.test", "/dir/", false},
         "id=7"},
        {"domain widens to its hosts",
         "id=7; Domain=.a.test",
         kPage,
         {"b.a.test", "/dir/", false},
         "id=7"},
        {"domain never to a look-alike",
         "id=7; Domain=a.test",
         kPage,
         {"xa.test", "/dir/", false},
         ""},
        {"domain of another site is refused",
         "id=7; Domain=b.test",
         kPage,
         {"b.test", "/dir/", false},
         ""},
        {"an address has no domain",
         "id=7; Domain=0.0.1",
         {"127.0.0.1", "/", false},
         {"1.0.0.1", "/", false},
         ""},
        {"secure stays with https",
         "id=7; Secure",
         {"www.a.test", "/", true},
         {"www.a.test", "/", false},
         ""},
        {"secure goes over https",
         "id=7; Secure",
         {"www.a.test", "/", true},
         {"www.a.test", "/", true},
         "id=7"},
        {"max-age zero is no cookie", "id=7; Max-Age=0", kPage, kPage, ""},
        {"a line break inside is refused", "id=7\rX-Injected: 1", kPage, kPage, ""},
        {"too large", "id=" + std::string(TCookieJar::kMaxCookieBytes, 'x'), kPage, kPage, ""},
    };
    for (const JarCase& c : cases) {
        SCOPED_TRACE(c.name);
        TCookieJar jar;
        jar.Receive(c.setCookie, c.from);
        EXPECT_EQ(jar.HeaderFor(c.to), c.want);
    }
}

TEST(CookieJarTest, ReplacedRemovedOrderedAndBounded) {
    TCookieJar jar;
    jar.Receive("a=1; Path=/", kPage);
    jar.Receive("b=2; Path=/dir", kPage);
    jar.Receive("a=3; Path=/", kPage);            // the same cookie again: replaced, not added
    EXPECT_EQ(jar.HeaderFor(kPage), "b=2; a=3");  // the longer path first
    jar.Receive("b=x; Path=/dir; Max-Age=-1", kPage);
    EXPECT_EQ(jar.HeaderFor(kPage), "a=3");
    for (std::size_t i = 0; i < 2 * TCookieJar::kMaxCookies; ++i)
        jar.Receive("n" + std::to_string(i) + "=v", kPage);
    EXPECT_EQ(jar.Size(), TCookieJar::kMaxCookies);
    jar.Clear();
    EXPECT_EQ(jar.HeaderFor(kPage), "");
}

}  // namespace
