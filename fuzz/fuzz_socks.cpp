// Takes arbitrary bytes as a SOCKS server's answers and runs the client handshake over them
// three times: fed whole, byte by byte, and in pieces of a size the input picks. All three must
// end alike, take no byte past the answer, and a failure must carry a SOCKS error number and
// its text. The first byte picks the level (4, 4A or 5 by its value modulo 3) and whether user
// and password are offered (its bit 0x10); the second the piece size.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/SocksHandshake.h"

namespace {

void Require(bool condition) {
    if (!condition)
        __builtin_trap();
}

struct TOutcome {
    std::string Sent;
    std::vector<TSocksAuthState> Notes;
    TSocksAction End = TSocksAction::NeedMore;
    int Error = 0;
    std::string Text;
    std::size_t Used = 0;
    std::string BoundAddr, BoundPort;
    bool operator==(const TOutcome&) const = default;
};

TOutcome Run(const TSocksRequest& request, std::string_view server, std::size_t piece) {
    TSocksHandshake h(request);
    TOutcome o;
    auto take = [&](const TSocksStep& s) {
        if (s.AuthNote)
            o.Notes.push_back(*s.AuthNote);
        o.Sent += s.Bytes;
        o.Used += s.Used;
        o.End = s.Action;
        o.Error = s.Error;
        o.Text = s.Text;
    };
    take(h.Start());
    Require(o.End == TSocksAction::Send);
    while (!server.empty() && !h.Ended()) {
        const std::size_t wanted = h.Wanted();
        const TSocksStep s = h.Feed(server.substr(0, piece));
        Require(s.Used <= piece && s.Used <= wanted && s.Used > 0);
        take(s);
        server.remove_prefix(s.Used);
    }
    Require(h.Ended() || h.Wanted() > 0);
    if (o.End == TSocksAction::Failed) {
        Require(IsSocksError(o.Error) && !o.Text.empty());
        o.Used = 0;  // a failure may be told before the whole of a piece was looked at
    }
    if (o.End == TSocksAction::Done && request.Level != TSocksLevel::Socks5)
        Require(o.Used == 8);
    o.BoundAddr = h.BoundAddr();
    o.BoundPort = h.BoundPort();
    Require(o.BoundAddr.size() <= 255);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t choice = data[0];
    const std::size_t piece = 1 + data[1] % 16;
    TSocksRequest request;
    request.Level = static_cast<TSocksLevel>(choice % 3);
    request.Authenticate = (choice & 0x10) != 0;
    request.Host = "target.example";
    request.Port = 443;
    request.Usercode = "user";
    request.Password = "secret";
    const std::string_view server(reinterpret_cast<const char*>(data + 2), size - 2);
    const TOutcome whole = Run(request, server, std::string::npos);
    Require(Run(request, server, 1) == whole);
    Require(Run(request, server, piece) == whole);
    return 0;
}
