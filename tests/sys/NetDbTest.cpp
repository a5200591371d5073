#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sys/WinSock.h"

namespace ws = sys::winsock;

namespace {

class NetDb : public ::testing::Test {
  protected:
    void SetUp() override { ws::WSAStartup(0x0101, nullptr); }
    void TearDown() override { ws::WSACleanup(); }
};

}  // namespace

// Kept entries must answer every later call the same way and keep their texts intact.
TEST_F(NetDb, ProtocolEntryIsTheSameOnEveryCall) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(::testing::Message() << "call " << round + 1);
        const protoent* tcp = ws::getprotobyname("tcp");
        if (!tcp || !tcp->p_aliases) {
            ADD_FAILURE() << "no entry or no alias list";
            continue;
        }
        EXPECT_EQ(tcp->p_proto, 6);
        EXPECT_STREQ(tcp->p_name, "tcp");
        EXPECT_STREQ(tcp->p_aliases[0], "TCP");
    }
    const protoent* udp = ws::getprotobyname("udp");
    ASSERT_NE(udp, nullptr);
    EXPECT_EQ(udp->p_proto, 17);
}

TEST_F(NetDb, ServiceEntryDependsOnNameAndProtocol) {
    struct Case {
        const char* name;
        const char* proto;
        int port;
        const char* entryProto;
    };
    const Case cases[] =
        {
            {"http", "tcp", 80, "tcp"},   {"http", nullptr, 80, "tcp"},
            {"domain", "udp", 53, "udp"}, {"domain", "tcp", 53, "tcp"},
            {"www", "tcp", 80, "tcp"},  // an alias finds the entry under its own name
        };
    for (int round = 0; round < 2; ++round)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + "/" + (c.proto ? c.proto : "any"));
            const servent* entry = ws::getservbyname(c.name, c.proto);
            if (!entry) {
                ADD_FAILURE() << "no entry";
                continue;
            }
            EXPECT_EQ(ntohs(static_cast<std::uint16_t>(entry->s_port)), c.port);
            EXPECT_STREQ(entry->s_proto, c.entryProto);
        }
    EXPECT_STREQ(ws::getservbyname("www", "tcp")->s_name, "http");
}

TEST_F(NetDb, UnknownNamesFailEveryTimeWithNoData) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(::testing::Message() << "call " << round + 1);
        ws::WSASetLastError(0);
        EXPECT_EQ(ws::getprotobyname("no-such-protocol"), nullptr);
        EXPECT_EQ(ws::WSAGetLastError(), ws::WSANO_DATA);
        ws::WSASetLastError(0);
        EXPECT_EQ(ws::getservbyname("no-such-service", "tcp"), nullptr);
        EXPECT_EQ(ws::WSAGetLastError(), ws::WSANO_DATA);
        ws::WSASetLastError(0);
        EXPECT_EQ(ws::getservbyname("http", "no-such-protocol"), nullptr);
        EXPECT_EQ(ws::WSAGetLastError(), ws::WSANO_DATA);
    }
    EXPECT_EQ(ws::getprotobyname(nullptr), nullptr);
    EXPECT_EQ(ws::getservbyname(nullptr, "tcp"), nullptr);
}

// Addresses as text, as inet_ntop writes them: every value of every byte, with 0, 1, 2 and 3
// digits, in each position.
TEST(AddressText, MatchesTheCLibraryForEveryByteInEveryPosition) {
    for (int position = 0; position < 4; ++position) {
        for (int value = 0; value < 256; ++value) {
            unsigned char bytes[4] = {10, 0, 200, 7};
            bytes[position] = static_cast<unsigned char>(value);
            in_addr address{};
            std::memcpy(&address.s_addr, bytes, sizeof bytes);
            char expected[INET_ADDRSTRLEN];
            ASSERT_NE(::inet_ntop(AF_INET, &address, expected, sizeof expected), nullptr);
            EXPECT_STREQ(ws::inet_ntoa(address), expected) << "byte " << position << " = " << value;
        }
    }
}

// Address texts read as the C library reads them, the plain dotted quads (read by hand) as well
// as every other form it takes (left to it) and the texts it refuses.
TEST(AddressText, IsReadAsTheCLibraryReadsIt) {
    const char* texts[] = {"127.0.0.1",  "0.0.0.0",    "255.255.255.255", "1.2.3.4",
                           "10.0.200.7", "256.1.1.1",  "1.2.3.256",       "1.2.3",
                           "1.2.3.4.5",  "127.1",      "0x7f.0.0.1",      "010.0.0.1",
                           "1.2.3.04",   "0.0.0.00",   "1.2.3.4 ",        " 1.2.3.4",
                           "1.2.3.4x",   "1..2.3",     "1.2.3.",          ".1.2.3",
                           "",           "1000.1.1.1", "4294967295",      "99.99.99.99",
                           "www.a.test", "1.2.3.4\n",  "0001.2.3.4",      "199.255.0.9"};
    for (const char* text : texts)
        EXPECT_EQ(ws::inet_addr(text), ::inet_addr(text)) << '"' << text << '"';
    EXPECT_EQ(ws::inet_addr(nullptr), INADDR_NONE);
}
