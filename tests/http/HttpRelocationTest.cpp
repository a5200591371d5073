#include <gtest/gtest.h>

#include "http/HttpRelocation.h"

using http::TRequestAddress;

namespace {

struct RelocationCase {
    const char* location;
    TRequestAddress want;
};

void ExpectAddress(const TRequestAddress& got, const TRequestAddress& want, const char* loc) {
    EXPECT_EQ(got.ConnectHost, want.ConnectHost) << loc;
    EXPECT_EQ(got.ConnectPort, want.ConnectPort) << loc;
    EXPECT_EQ(got.TargetHost, want.TargetHost) << loc;
    EXPECT_EQ(got.RequestPath, want.RequestPath) << loc;
    EXPECT_EQ(got.Location, want.Location) << loc;
}

// Columns: connect host, connect port, target host, request path, location.
TEST(RelocationTest, DirectConnection) {
    const TRequestAddress start{"www.a.test", "8080", "www.a.test", "/dir/page.html?x=1",
                                "http://www.a.test:8080/dir/page.html?x=1"};
    const RelocationCase cases[] = {
        {"/new/place",
         {"www.a.test", "8080", "www.a.test", "/new/place", "http://www.a.test/new/place"}},
        {"http://b.test/x", {"b.test", "8080", "b.test", "/x", "http://b.test/x"}},
        {"http://b.test:81", {"b.test", "81", "b.test", "/", "http://b.test"}},
        {"HTTP://b.test/y?z", {"b.test", "8080", "b.test", "/y?z", "HTTP://b.test/y?z"}},
        {"http:/rooted",
         {"www.a.test", "8080", "www.a.test", "/rooted", "http://www.a.test/rooted"}},
        {"other.html",
         {"www.a.test", "8080", "www.a.test", "/dir/other.html",
          "http://www.a.test/dir/other.html"}},
        {"sub/page",
         {"www.a.test", "8080", "www.a.test", "/dir/sub/page", "http://www.a.test/dir/sub/page"}},
        {"../up.html?q",
         {"www.a.test", "8080", "www.a.test", "/up.html?q", "http://www.a.test/up.html?q"}},
        {"?y=2",
         {"www.a.test", "8080", "www.a.test", "/dir/page.html?y=2",
          "http://www.a.test/dir/page.html?y=2"}},
        {"",
         {"www.a.test", "8080", "www.a.test", "/dir/page.html?x=1",
          "http://www.a.test/dir/page.html?x=1"}},
    };
    for (const RelocationCase& c : cases) {
        TRequestAddress a = start;
        http::ApplyRelocation(a, c.location, false);
        ExpectAddress(a, c.want, c.location);
    }
}

TEST(RelocationTest, ThroughProxyKeepsProxyAndPorts) {
    const TRequestAddress start{"proxy.test", "3128", "www.a.test",
                                "http://www.a.test:8080/dir/page.html",
                                "http://www.a.test:8080/dir/page.html"};
    const auto same = [](const char* host, const char* address) {
        return TRequestAddress{"proxy.test", "3128", host, address, address};
    };
    const RelocationCase cases[] = {
        {"/new", same("www.a.test", "http://www.a.test:8080/new")},
        {"http://b.test:81/x", same("b.test", "http://b.test:81/x")},
        {"https://b.test", same("b.test", "https://b.test/")},
        {"http:/rooted", same("www.a.test", "http://www.a.test:8080/rooted")},
        {"other.html", same("www.a.test", "http://www.a.test:8080/dir/other.html")},
        {"www.c.test/page", same("www.a.test", "http://www.a.test:8080/dir/www.c.test/page")},
        {"../../top", same("www.a.test", "http://www.a.test:8080/top")},
    };
    for (const RelocationCase& c : cases) {
        TRequestAddress a = start;
        http::ApplyRelocation(a, c.location, true);
        ExpectAddress(a, c.want, c.location);
    }
}

TEST(RelocationTest, RelativePathsLoseDotSegments) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/a/b/c", "../../x", "/x"}, {"/a/b/", "./", "/a/b/"},    {"/", "../../x", "/x"},
        {"/a", "b/..", "/"},         {"/a/b", "c/./d", "/a/c/d"}, {"", "x", "/x"},
        {"/a/b?q=/z", "c", "/a/c"}};
    for (const auto& [base, ref, want] : cases)
        EXPECT_EQ(http::ResolveRelativePath(base, ref), want) << base << " + " << ref;
}

}  // namespace
