// IPv6 on the loopback: literal addresses with and without brackets, a listener on [::1], and a
// name with an IPv6 and an IPv4 address whose connect tries them in turn (refused, or silent
// beyond the fallback delay). Machines without IPv6 skip these tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RunLoop.h"
#include "net/WSocket.h"
#include "sys/AsyncLookup.h"

using testsupport::RunLoopUntil;

namespace {

// A listening socket on [::1] (IPv6 only) or 127.0.0.1 at a given port (0: any). A silent one
// has its one-place backlog filled, so that further connects get no answer at all.
class Peer {
  public:
    Peer(int family, std::uint16_t port, bool silent = false) {
        sockaddr_storage a = Address(family, port);
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (family == AF_INET6)
            ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        socklen_t len = Length(family);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(fd_, silent ? 0 : 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port);
        if (silent) {
            filler_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
            ::connect(filler_, reinterpret_cast<sockaddr*>(&a), Length(family));
        }
    }
    ~Peer() {
        if (filler_ >= 0)
            ::close(filler_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Listening() const { return port_ != 0; }
    std::uint16_t Port() const { return port_; }

    static sockaddr_storage Address(int family, std::uint16_t port) {
        sockaddr_storage a{};
        if (family == AF_INET6) {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(a);
            v6.sin6_family = AF_INET6;
            v6.sin6_addr = in6addr_loopback;
            v6.sin6_port = htons(port);
        } else {
            auto& v4 = reinterpret_cast<sockaddr_in&>(a);
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            v4.sin_port = htons(port);
        }
        return a;
    }
    static socklen_t Length(int family) {
        return family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    }

  private:
    int fd_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
};

bool HaveIpv6Loopback() {
    Peer probe(AF_INET6, 0);
    return probe.Listening();
}

// A client socket that logs the outcome of its connect and of its look-ups.
struct Client {
    TWSocket s;
    std::vector<std::string> events;

    Client() {
        s.OnSessionConnected = [this](sys::TObject*, sys::Word e) {
            events.push_back("Connected(" + std::to_string(e) + ")");
        };
        s.OnDnsLookupDone = [this](sys::TObject*, sys::Word e) {
            events.push_back("Dns(" + std::to_string(e) + ")");
        };
    }
    bool Connect(const std::string& addr, std::uint16_t port,
                 std::vector<std::string> alternatives = {}) {
        s.SetAddr(addr);
        s.SetPort(std::to_string(port));
        s.SetAddrAlternatives(std::move(alternatives));
        s.Connect();
        return RunLoopUntil([&] { return !events.empty(); });
    }
};

// The name "dual.test" resolves to the given addresses while the table is set.
struct HostsTable {
    explicit HostsTable(std::vector<std::string> addrs) {
        sys::winsock::detail::SetHostsForTest({{"dual.test", std::move(addrs)}});
    }
    ~HostsTable() { sys::winsock::detail::SetHostsForTest({}); }
};

#define REQUIRE_IPV6()       \
    if (!HaveIpv6Loopback()) \
    GTEST_SKIP() << "this machine cannot listen on ::1 (no IPv6)"

}  // namespace

TEST(Ipv6, ConnectsToALiteralWithOrWithoutBrackets) {
    REQUIRE_IPV6();
    Peer peer(AF_INET6, 0);
    for (const char* addr : {"::1", "[::1]", " [::1] "}) {
        SCOPED_TRACE(addr);
        Client c;
        ASSERT_TRUE(c.Connect(addr, peer.Port()));
        EXPECT_EQ(c.events, std::vector<std::string>{"Connected(0)"});
        EXPECT_EQ(c.s.PeerAddr(), "::1");
        EXPECT_EQ(c.s.PeerPort(), std::to_string(peer.Port()));
        c.s.Close();
    }
}

TEST(Ipv6, ListensOnTheIpv6LoopbackAndTellsThePeer) {
    REQUIRE_IPV6();
    TWSocket server;
    std::string accepted;
    TWSocket served;
    server.OnSessionAvailable = [&](sys::TObject*, sys::Word) {
        served.Dup(server.Accept());
        accepted = served.PeerAddr();
    };
    server.SetAddr("[::1]");
    server.SetPort("0");
    server.Listen();
    ASSERT_EQ(server.State(), wsListening);
    const std::string port = server.GetBoundPort();
    Client c;
    ASSERT_TRUE(c.Connect("::1", static_cast<std::uint16_t>(std::stoi(port))));
    EXPECT_EQ(c.events, std::vector<std::string>{"Connected(0)"});
    ASSERT_TRUE(RunLoopUntil([&] { return !accepted.empty(); }));
    EXPECT_EQ(accepted, "::1");
}

TEST(Ipv6, LookupGivesBothFamiliesTakingTurns) {
    HostsTable hosts({"::1", "fe80::1", "127.0.0.1", "::1", "127.0.0.2"});
    Client c;
    c.s.DnsLookup("dual.test");
    ASSERT_TRUE(RunLoopUntil([&] { return !c.events.empty(); }));
    EXPECT_EQ(c.events, std::vector<std::string>{"Dns(0)"});
    EXPECT_EQ(c.s.DnsResultList(),
              (std::vector<std::string>{"::1", "127.0.0.1", "fe80::1", "127.0.0.2"}));
    EXPECT_EQ(c.s.DnsResult(), "::1");
    // A literal needs no resolver; its brackets go.
    c.events.clear();
    c.s.DnsLookup("[::1]");
    EXPECT_EQ(c.events, std::vector<std::string>{"Dns(0)"});
    EXPECT_EQ(c.s.DnsResult(), "::1");
}

// The addresses of one name are tried in turn: a refusal starts the next at once, silence
// starts it after the fallback delay while the first goes on; the first that answers wins,
// and the owner hears of the connect only once.
TEST(Ipv6, ConnectTriesTheAddressesOfANameInTurn) {
    REQUIRE_IPV6();
    struct Case {
        const char* name;
        std::vector<std::string> addrs;
        bool v4Listens, v4Silent, v6Listens;
        const char* event;
        const char* peer;
    };
    const Case cases[] = {
        {"IPv4 refused, IPv6 answers",
         {"127.0.0.1", "::1"},
         false,
         false,
         true,
         "Connected(0)",
         "::1"},
        {"IPv4 silent, IPv6 answers",
         {"127.0.0.1", "::1"},
         true,
         true,
         true,
         "Connected(0)",
         "::1"},
        {"IPv6 refused, IPv4 answers",
         {"::1", "127.0.0.1"},
         true,
         false,
         false,
         "Connected(0)",
         "127.0.0.1"},
        {"both refused", {"::1", "127.0.0.1"}, false, false, false, "Connected(10061)", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        // One port for both families: the one the IPv6 listener got.
        auto v6 = std::make_unique<Peer>(AF_INET6, 0);
        const std::uint16_t port = v6->Port();
        if (!k.v6Listens)
            v6.reset();
        std::unique_ptr<Peer> v4;
        if (k.v4Listens) {
            v4 = std::make_unique<Peer>(AF_INET, port, k.v4Silent);
            if (!v4->Listening())
                GTEST_SKIP() << "the IPv4 side of port " << port << " is taken";
        }
        HostsTable hosts(k.addrs);
        Client c;
        ASSERT_TRUE(c.Connect("dual.test", port));
        EXPECT_EQ(c.events, std::vector<std::string>{k.event});
        if (*k.peer)
            EXPECT_EQ(c.s.PeerAddr(), k.peer);
        else
            EXPECT_EQ(c.s.State(), wsClosed);
        // No second outcome follows from an attempt that lost.
        RunLoopUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(c.events, std::vector<std::string>{k.event});
        c.s.Abort();
    }
}
