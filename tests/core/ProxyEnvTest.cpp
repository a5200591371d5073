// The proxy variables: which proxy an address goes through, and a check request through a real
// SOCKS server named by all_proxy.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "ScriptedServer.h"
#include "SocksServers.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/ProxyEnv.h"

using Kind = TProxyRoute::TKind;

TEST(ProxyEnv, EachAddressGetsTheProxyItsVariablesName) {
    struct TCase {
        const char* Name;
        TProxyEnv Env;
        const char* Url;
        Kind Expected;
        const char* Host;
        const char* Port;
        const char* Level;
        bool RemoteLookup;
    };
    const TCase cases[] = {
        {"no variables", {}, "http://a.example/", Kind::Direct, "", "", "", false},
        {"http_proxy for http",
         {"proxy:3128", "", "", ""},
         "http://a.example/",
         Kind::Http,
         "proxy",
         "3128",
         "",
         false},
        {"http_proxy not for https",
         {"proxy:3128", "", "", ""},
         "https://a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
        {"https_proxy for https",
         {"", "http://sp:8443", "", ""},
         "https://a.example/",
         Kind::Http,
         "sp",
         "8443",
         "",
         false},
        {"all_proxy when the own one is unset",
         {"", "", "socks5h://s", ""},
         "https://a.example/",
         Kind::Socks,
         "s",
         "1080",
         "5",
         true},
        {"socks5 looks the name up here",
         {"", "", "socks5://s:9050", ""},
         "http://a.example/",
         Kind::Socks,
         "s",
         "9050",
         "5",
         false},
        {"socks4",
         {"", "", "socks4://s:1", ""},
         "http://a.example/",
         Kind::Socks,
         "s",
         "1",
         "4",
         false},
        {"socks4a",
         {"", "", "SOCKS4A://s:1", ""},
         "http://a.example/",
         Kind::Socks,
         "s",
         "1",
         "4A",
         true},
        {"unknown kind of proxy",
         {"", "", "ftp://s:1", ""},
         "http://a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
        {"no_proxy exact",
         {"p:1", "", "", "a.example"},
         "http://a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
        {"no_proxy domain",
         {"p:1", "", "", "x.org, example"},
         "http://www.a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
        {"no_proxy leading dot",
         {"p:1", "", "", ".a.example"},
         "http://b.a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
        {"no_proxy is no suffix of a word",
         {"p:1", "", "", "example"},
         "http://badexample/",
         Kind::Http,
         "p",
         "1",
         "",
         false},
        {"no_proxy star",
         {"p:1", "", "", "*"},
         "http://a.example/",
         Kind::Direct,
         "",
         "",
         "",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TProxyRoute route = ChooseProxy(c.Env, c.Url);
        EXPECT_EQ(route.Kind, c.Expected);
        EXPECT_EQ(route.Host, c.Host);
        EXPECT_EQ(route.Port, c.Port);
        EXPECT_EQ(route.SocksLevel, c.Level);
        EXPECT_EQ(route.RemoteLookup, c.RemoteLookup);
    }
}

// Lower case wins over upper case when both are set and not empty; http_proxy has no upper-case
// form, as in curl.
TEST(ProxyEnv, VariablesAreReadInEitherCaseLowerCaseFirst) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> set;
        TProxyEnv expected;
    };
    const Case cases[] = {
        {"none", {}, {}},
        {"lower case",
         {{"http_proxy", "h"}, {"https_proxy", "s"}, {"all_proxy", "a"}, {"no_proxy", "n"}},
         {"h", "s", "a", "n"}},
        {"upper case",
         {{"HTTPS_PROXY", "S"}, {"ALL_PROXY", "A"}, {"NO_PROXY", "N"}},
         {"", "S", "A", "N"}},
        {"both",
         {{"https_proxy", "s"}, {"HTTPS_PROXY", "S"}, {"no_proxy", "n"}, {"NO_PROXY", "N"}},
         {"", "s", "", "n"}},
        {"empty lower case", {{"all_proxy", ""}, {"ALL_PROXY", "A"}}, {"", "", "A", ""}},
        {"no upper-case http", {{"HTTP_PROXY", "H"}}, {}},
        {"names that only begin alike", {{"http_proxy_x", "x"}, {"no_proxyx", "x"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Every name once, so that each is restored to what it was before the row.
        std::map<std::string, std::string> values;
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
              "no_proxy", "NO_PROXY", "http_proxy_x", "no_proxyx"})
            values[name] = "";
        for (const auto& [name, value] : c.set)
            values[name] = value;
        std::vector<std::unique_ptr<testsupport::ScopedEnv>> env;
        for (const auto& [name, value] : values)
            env.push_back(std::make_unique<testsupport::ScopedEnv>(name, value));
        const TProxyEnv read = TProxyEnv::FromEnvironment();
        EXPECT_EQ(read.HttpProxy, c.expected.HttpProxy);
        EXPECT_EQ(read.HttpsProxy, c.expected.HttpsProxy);
        EXPECT_EQ(read.AllProxy, c.expected.AllProxy);
        EXPECT_EQ(read.NoProxy, c.expected.NoProxy);
    }
}

TEST(ProxyEnv, CredentialsInTheProxyAddressAreDecoded) {
    const TProxyRoute route =
        ChooseProxy({"", "", "socks5://us%40er:p%3Ass@s:1", ""}, "http://a.example/");
    EXPECT_EQ(route.User, "us@er");
    EXPECT_EQ(route.Password, "p:ss");
}

TEST(ProxyEnv, CheckRequestGoesThroughTheSocksServerOfAllProxy) {
    if (testsupport::MicrosocksServer::Program().empty())
        GTEST_SKIP() << "microsocks is not installed (scripts/deps.sh)";
    testsupport::MicrosocksServer socks("u", "pw");
    testsupport::ScriptedServer web(
        testsupport::TScript::Answer("HTTP/1.1 200 OK\r\nServer: behind\r\n\r\n"));
    testsupport::ScopedEnv all("all_proxy", "socks5h://u:pw@127.0.0.1:" + socks.PortText());
    testsupport::ScopedEnv none("no_proxy", "");
    THttpCli http;
    ConfigureCheckClient(http);
    http.SetTimeoutMs(8000);
    THttpCheckClient client(http);
    client.UseProxies(TProxyEnv::FromEnvironment());  // as a run does when it starts
    client.PrepareHead(web.Url("/"));
    client.Head();
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(socks.Log().find("error"), std::string::npos);
    ASSERT_EQ(web.Received().size(), 1u);
    // The next run, without the variables, takes the same client direct again.
    testsupport::ScopedEnv off("all_proxy", "");
    client.UseProxies(TProxyEnv::FromEnvironment());
    client.PrepareHead(web.Url("/"));
    EXPECT_EQ(http.SocksServer(), "");
}
