// The SOCKS handshake without a socket: every level, with and without authentication, every
// failure, each server script fed whole and byte by byte, which must come to the same.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <string_view>
#include <vector>

#include "net/SocksHandshake.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

const std::string kHost = "target.example";
constexpr std::uint16_t kPort = 8080;  // 0x1F90
const std::string kPortBytes = Bytes({0x1F, 0x90});

TSocksRequest Request(TSocksLevel level, bool authenticate = false) {
    TSocksRequest r;
    r.Level = level;
    r.Host = kHost;
    r.Address = inet_addr("192.0.2.7");
    r.Port = kPort;
    r.Authenticate = authenticate;
    r.Usercode = "bob";
    r.Password = "s3cret";
    return r;
}

// The client's messages.
const std::string kGreeting = Bytes({5, 1, 0});
const std::string kGreetingWithAuth = Bytes({5, 1, 2});
const std::string kUserPassword = Bytes({1, 3}) + "bob" + Bytes({6}) + "s3cret";
const std::string kSocks5Request =
    Bytes({5, 1, 0, 3, static_cast<int>(kHost.size())}) + kHost + kPortBytes;
const std::string kSocks4Request =
    Bytes({4, 1}) + kPortBytes + Bytes({192, 0, 2, 7}) + "bob" + Bytes({0});
const std::string kSocks4ARequest =
    Bytes({4, 1}) + kPortBytes + Bytes({0, 0, 0, 1}) + "bob" + Bytes({0}) + kHost + Bytes({0});

// The server's answers.
std::string Socks5Answer(int code) {
    return Bytes({5, code, 0, 1, 10, 1, 2, 3, 0x04, 0xD2});  // bound to 10.1.2.3:1234
}
std::string Socks4Answer(int code) {
    return Bytes({0, code, 0, 0, 0, 0, 0, 0});
}
const std::string kNoAuth = Bytes({5, 0});
const std::string kAskAuth = Bytes({5, 2});
const std::string kAuthOk = Bytes({1, 0});

// Everything the handshake did with a server's bytes.
struct TTranscript {
    std::string Sent;
    std::vector<TSocksAuthState> Notes;
    TSocksAction End = TSocksAction::NeedMore;
    int Error = 0;
    std::string Text;
    std::size_t Used = 0;  // of the server's bytes
    std::string BoundAddr, BoundPort;
    bool operator==(const TTranscript&) const = default;
};

void PrintTo(const TTranscript& t, std::ostream* os) {
    *os << "sent " << testing::PrintToString(t.Sent) << ", end " << static_cast<int>(t.End)
        << ", error " << t.Error << " " << t.Text << ", used " << t.Used << ", bound "
        << t.BoundAddr << ":" << t.BoundPort << ", " << t.Notes.size() << " notes";
}

// Runs the handshake and feeds it the server's bytes in pieces of at most piece bytes, each step's
// rest again.
TTranscript Feed(const TSocksRequest& request, std::string_view server, std::size_t piece) {
    TSocksHandshake h(request);
    TTranscript t;
    auto take = [&](const TSocksStep& s) {
        if (s.AuthNote)
            t.Notes.push_back(*s.AuthNote);
        t.Sent += s.Bytes;
        t.Used += s.Used;
        t.End = s.Action;
        t.Error = s.Error;
        t.Text = s.Text;
    };
    take(h.Start());
    while (!server.empty() && !h.Ended()) {
        const TSocksStep s = h.Feed(server.substr(0, piece));
        take(s);
        EXPECT_LE(s.Used, piece);
        if (s.Used == 0)
            break;
        server.remove_prefix(s.Used);
    }
    t.BoundAddr = h.BoundAddr();
    t.BoundPort = h.BoundPort();
    return t;
}

struct TCase {
    const char* Name;
    TSocksRequest Request;
    std::string Server;  // the server's bytes, in order
    TTranscript Expected;
};

TTranscript Done(std::string sent, std::size_t used, std::vector<TSocksAuthState> notes = {},
                 std::string addr = "", std::string port = "") {
    return {std::move(sent), std::move(notes), TSocksAction::Done, 0, "", used,
            std::move(addr), std::move(port)};
}

TTranscript Failed(std::string sent, std::size_t used, int error, std::string text,
                   std::vector<TSocksAuthState> notes = {}) {
    return {std::move(sent),
            std::move(notes),
            TSocksAction::Failed,
            error,
            std::move(text),
            used,
            "",
            ""};
}

std::vector<TCase> Cases() {
    using L = TSocksLevel;
    const std::string toRequest = kGreeting + kSocks5Request;
    const std::string toAuthRequest = kGreetingWithAuth + kUserPassword + kSocks5Request;
    std::vector<TCase> cases = {
        {"5", Request(L::Socks5), kNoAuth + Socks5Answer(0),
         Done(toRequest, 12, {}, "10.1.2.3", "1234")},
        {"5, bytes behind the answer stay", Request(L::Socks5), kNoAuth + Socks5Answer(0) + "HELLO",
         Done(toRequest, 12, {}, "10.1.2.3", "1234")},
        {"5, bound to a name", Request(L::Socks5),
         kNoAuth + Bytes({5, 0, 0, 3, 5}) + "relay" + Bytes({0, 80}),
         Done(toRequest, 2 + 12, {}, "relay", "80")},
        {"5, user and password", Request(L::Socks5, true), kAskAuth + kAuthOk + Socks5Answer(0),
         Done(toAuthRequest, 14, {saStarting, saSucceeded}, "10.1.2.3", "1234")},
        {"5, authentication offered, not required", Request(L::Socks5, true),
         kNoAuth + Socks5Answer(0),
         Done(kGreetingWithAuth + kSocks5Request, 12, {saNotRequired}, "10.1.2.3", "1234")},
        {"5, authentication refused", Request(L::Socks5, true), kAskAuth + Bytes({1, 1}),
         Failed(kGreetingWithAuth + kUserPassword, 4, 20015, "socks authentication failed",
                {saStarting})},
        {"5, authentication answer of another version", Request(L::Socks5, true),
         kAskAuth + Bytes({5, 0}),
         Failed(kGreetingWithAuth + kUserPassword, 4, 20002, "socks version error", {saStarting})},
        {"5, no acceptable method", Request(L::Socks5), Bytes({5, 0xFF}),
         Failed(kGreeting, 2, 20003, "authentification method not acceptable")},
        {"5, greeting answer of another version", Request(L::Socks5), Bytes({4, 0}),
         Failed(kGreeting, 2, 20002, "socks version error")},
        {"5, answer of another version", Request(L::Socks5), kNoAuth + Socks4Answer(90),
         Failed(toRequest, 7, 20002, "socks version error")},
        {"5, reply code 42", Request(L::Socks5), kNoAuth + Socks5Answer(42),
         Failed(toRequest, 7, 20012, "unassigned error #42")},
        {"5, IPv6 bound address", Request(L::Socks5),
         kNoAuth + Bytes({5, 0, 0, 4, 0}) + std::string(14, '\0') + Bytes({1, 0, 80}),
         Done(toRequest, 2 + 22, {}, "::1", "80")},
        {"5, unknown address type", Request(L::Socks5),
         kNoAuth + Bytes({5, 0, 0, 9, 0}) + std::string(17, '\0'),
         Failed(toRequest, 7, 20011, "address type not supported")},
        {"4", Request(L::Socks4), Socks4Answer(90) + "HELLO", Done(kSocks4Request, 8)},
        {"4A", Request(L::Socks4A), Socks4Answer(90), Done(kSocks4ARequest, 8)},
        {"4, rejected", Request(L::Socks4), Socks4Answer(91),
         Failed(kSocks4Request, 8, 20016, "request rejected or failed")},
        {"4, refused", Request(L::Socks4), Socks4Answer(92),
         Failed(kSocks4Request, 8, 20008, "connection refused")},
        {"4A, authentication failed", Request(L::Socks4A), Socks4Answer(93),
         Failed(kSocks4ARequest, 8, 20015, "authentification failed")},
        {"4, unassigned", Request(L::Socks4), Socks4Answer(7),
         Failed(kSocks4Request, 8, 20012, "unassigned error #7")},
        {"4, answer of another version", Request(L::Socks4), Bytes({4, 90, 0, 0, 0, 0, 0, 0}),
         Failed(kSocks4Request, 8, 20002, "socks version error")},
    };
    const char* replies[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                             "network unreachable",          "host unreachable",
                             "connection refused",           "time to live expired",
                             "command not supported",        "address type not supported"};
    for (int code = 1; code <= 8; ++code)
        cases.push_back({replies[code - 1], Request(L::Socks5), kNoAuth + Socks5Answer(code),
                         Failed(toRequest, 7, 20003 + code, replies[code - 1])});
    return cases;
}

}  // namespace

// A failure's bytes used are those of the whole feed: fed byte by byte it stops at the first
// byte that tells, so only the rest of the transcript is compared there.
TEST(SocksHandshake, EveryScriptEndsAlikeFedWholeAndByteByByte) {
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const TTranscript whole = Feed(c.Request, c.Server, std::string::npos);
        EXPECT_EQ(whole, c.Expected);
        TTranscript split = Feed(c.Request, c.Server, 1);
        if (split.End == TSocksAction::Failed)
            split.Used = whole.Used;
        EXPECT_EQ(split, whole);
        if (c.Expected.End == TSocksAction::Failed) {
            EXPECT_TRUE(IsSocksError(c.Expected.Error));
        }
    }
}

TEST(SocksHandshake, WantsNoByteBeyondTheAnswer) {
    TSocksHandshake h(Request(TSocksLevel::Socks5));
    h.Start();
    EXPECT_EQ(h.Wanted(), 2u);
    h.Feed(kNoAuth);
    EXPECT_EQ(h.Wanted(), 5u);  // up to the address type and the byte after it
    h.Feed(Bytes({5, 0, 0, 3, 5}));
    EXPECT_EQ(h.Wanted(), 5u + 2u);  // the name's rest and the port
    const TSocksStep s = h.Feed("relay" + Bytes({0, 80}) + "HELLO");
    EXPECT_EQ(s.Action, TSocksAction::Done);
    EXPECT_EQ(s.Used, 7u);
    EXPECT_EQ(h.Wanted(), 0u);
    const TSocksStep after = h.Feed("more");
    EXPECT_EQ(after.Action, TSocksAction::Failed);
    EXPECT_EQ(after.Error, WSOCKS_INTERNAL_ERROR);
}

TEST(SocksHandshake, TellsTheStateOfAuthentication) {
    TSocksHandshake h(Request(TSocksLevel::Socks5, true));
    h.Start();
    EXPECT_FALSE(h.Authenticating());
    h.Feed(kAskAuth);
    EXPECT_TRUE(h.Authenticating());
    h.Feed(kAuthOk);
    EXPECT_FALSE(h.Authenticating());
}

TEST(SocksHandshake, LevelsParseOnceAndRequestsBeyondTheWireFormatAreRefused) {
    EXPECT_EQ(ParseSocksLevel("4"), TSocksLevel::Socks4);
    EXPECT_EQ(ParseSocksLevel("4a"), TSocksLevel::Socks4A);
    EXPECT_EQ(ParseSocksLevel("4A"), TSocksLevel::Socks4A);
    EXPECT_EQ(ParseSocksLevel("5"), TSocksLevel::Socks5);
    for (const char* bad : {"", "6", "5 ", "4B", "socks5"})
        EXPECT_EQ(ParseSocksLevel(bad), std::nullopt) << bad;
    EXPECT_STREQ(SocksLevelText(TSocksLevel::Socks4A), "4A");

    TSocksRequest r = Request(TSocksLevel::Socks5, true);
    EXPECT_EQ(SocksRequestFault(r), std::nullopt);
    r.Host.assign(MaxSocksHostName + 1, 'h');
    EXPECT_EQ(SocksRequestFault(r), "SOCKS: the host name is longer than 255 bytes");
    r.Level = TSocksLevel::Socks4;  // sends an address, not the name
    EXPECT_EQ(SocksRequestFault(r), std::nullopt);
    r = Request(TSocksLevel::Socks5, true);
    r.Usercode.assign(MaxSocksCredentials - r.Password.size() + 1, 'u');
    EXPECT_EQ(SocksRequestFault(r),
              "SOCKS: user code and password together are longer than 125 bytes");
    r.Authenticate = false;
    EXPECT_EQ(SocksRequestFault(r), std::nullopt);
}

TEST(SocksHandshake, ErrorNumbersHaveTheTextsOfTheirFailures) {
    EXPECT_EQ(SocksErrorText(20015), "SOCKS: authentication failed");
    EXPECT_EQ(SocksErrorText(20002), "SOCKS: version error");
    EXPECT_EQ(SocksErrorText(20008), "SOCKS: connection refused");
    EXPECT_EQ(SocksErrorText(20012), "SOCKS: unassigned error");
    for (int code = 20001; code <= 20017; ++code) {
        SCOPED_TRACE(code);
        EXPECT_EQ(IsSocksError(code), code != 20014);
        EXPECT_EQ(SocksErrorText(code) == "Not a WinSock error", code == 20014);
    }
    EXPECT_FALSE(IsSocksError(20000));
    EXPECT_FALSE(IsSocksError(20018));
}
