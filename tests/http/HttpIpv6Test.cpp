// THttpCli over IPv6 loopback: a bracketed address, and a name with an IPv4 address that
// refuses beside an IPv6 one that answers. Machines without IPv6 skip these tests.
#include <gmock/gmock.h>

#include <map>
#include <memory>

#include "HttpCliFixture.h"
#include "sys/AsyncLookup.h"

using testsupport::ScriptedServer;
using testsupport::TScript;

namespace {

const std::string kOk = "HTTP/1.0 200 OK\r\n\r\n";

std::unique_ptr<ScriptedServer> Ipv6Server() {
    return ScriptedServer::At("::1", 0, {TScript::Answer(kOk)});
}

}  // namespace

TEST_F(HttpCliTest, BracketedIpv6AddressIsReachedAndNamedInHost) {
    for (const bool withScheme : {true, false}) {
        SCOPED_TRACE(withScheme ? "with scheme" : "without scheme");
        auto server = Ipv6Server();
        if (!server)
            GTEST_SKIP() << "this machine cannot listen on ::1 (no IPv6)";
        cli.SetURL(withScheme ? server->Url("/p") : "[::1]:" + server->PortText() + "/p");
        ASSERT_TRUE(Run(hrGet));
        EXPECT_EQ(cli.StatusCode(), 200);
        EXPECT_EQ(doneError, 0);
        // The port may follow; the brackets stay.
        ASSERT_THAT(server->Received(), testing::SizeIs(1));
        EXPECT_THAT(server->Received().front(), testing::HasSubstr("\r\nHost: [::1]"));
    }
}

TEST_F(HttpCliTest, NameWhoseIpv4AddressRefusesIsReachedOverIpv6) {
    auto server = Ipv6Server();
    if (!server)
        GTEST_SKIP() << "this machine cannot listen on ::1 (no IPv6)";
    sys::winsock::detail::SetHostsForTest({{"dual.test", {"127.0.0.1", "::1"}}});
    cli.SetURL("http://dual.test:" + server->PortText() + "/");
    const bool ran = Run(hrGet);
    sys::winsock::detail::SetHostsForTest({});
    ASSERT_TRUE(ran);
    EXPECT_EQ(cli.StatusCode(), 200);
    EXPECT_THAT(server->Received(), testing::SizeIs(1));
}
