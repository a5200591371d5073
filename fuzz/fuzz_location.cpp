// Takes arbitrary bytes as an address and a few "location" values, sets up the request address
// (directly and through a proxy) and follows every location. Whatever the bytes, the request
// that results must be one a server reads as meant: a request line of method, target and
// version with no blank, control byte or byte above 0x7E but the two separators, and header
// lines without a line end of their own. Blanks and control bytes around an address or a
// location, and tabs and line breaks inside it, are dropped as a browser drops them; one with
// control bytes left after that must be refused and leave the address as it was. The Host line
// names the port exactly when it is not the scheme's default. Hosts may be bracketed IPv6
// addresses.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "http/HttpRelocation.h"
#include "http/HttpRequestHeader.h"
#include "http/HttpUrl.h"

namespace {

constexpr std::size_t kMaxLocations = 8;

void Require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void CheckRequestLine(const std::string& line) {
    int blanks = 0;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ')
            ++blanks;
        else
            Require(byte >= 0x21 && byte <= 0x7E);
    }
    Require(blanks == 2);
}

void CheckAddress(const http::TRequestAddress& a, bool viaProxy) {
    Require(a.Scheme == "http" || a.Scheme == "https");
    Require(!a.TargetPort.empty());
    // A bracketed (IPv6) host keeps its brackets in the Host line; its port comes from behind.
    if (a.TargetHost.starts_with('[') && a.TargetHost.find(']') != std::string::npos)
        Require(a.TargetPort.find(']') == std::string::npos);
    if (viaProxy)
        Require(a.ConnectHost == "proxy.test" && a.ConnectPort == "3128");
    else
        Require(a.ConnectHost == a.TargetHost && a.ConnectPort == a.TargetPort);
    const bool absoluteForm = viaProxy && !http::Tunnelled(a, viaProxy);
    Require(a.RequestPath.starts_with(absoluteForm ? "http://" : "/"));
}

void CheckTrimmed(const std::string& raw) {
    const std::string t = http::TrimAddress(raw);
    Require(t.size() <= raw.size());
    Require(t.empty() || (static_cast<unsigned char>(t.front()) > 0x20 &&
                          static_cast<unsigned char>(t.back()) > 0x20));
    Require(t.find_first_of("\t\r\n") == std::string::npos);
    Require(http::TrimAddress(t) == t);
}

void CheckHostField(const http::TRequestAddress& a) {
    const std::string host = http::HostField(a);
    const bool named = a.TargetPort != http::DefaultPort(a.Scheme);
    Require(!named || host.ends_with(":" + a.TargetPort));
    Require(named || host.size() <= a.TargetHost.size() + 2);  // the host, maybe in brackets
    Require(http::Authority(a).ends_with(":" + a.TargetPort));
}

void CheckRequest(const http::TRequestAddress& a, bool viaProxy) {
    CheckAddress(a, viaProxy);
    CheckHostField(a);
    http::THttpRequestHeaderInput in;
    in.Method = "HEAD";
    in.RequestPath = a.RequestPath;
    const std::string host = http::HostField(a);
    in.Host = host;
    // The location goes into the referrer line so that it is checked as header text too.
    in.Reference = a.Location;
    in.ViaProxy = viaProxy;
    const std::vector<std::string> lines = http::RequestHeaderLines(in);
    Require(!lines.empty());
    CheckRequestLine(lines.front());
    for (const std::string& line : lines)
        Require(line.find_first_of("\r\n") == std::string::npos);
}

void Follow(const std::string& url, const std::vector<std::string>& locations, bool viaProxy) {
    http::TRequestAddress address;
    const bool started = http::StartAddress(address, url, viaProxy ? "proxy.test" : "", "3128");
    CheckTrimmed(url);
    Require(started != http::HasControlBytes(http::TrimAddress(url)));
    if (!started) {
        Require(address == http::TRequestAddress{});
        return;
    }
    CheckRequest(address, viaProxy);
    for (const std::string& location : locations) {
        const http::TRequestAddress before = address;
        const bool applied = http::ApplyRelocation(address, location, viaProxy);
        CheckTrimmed(location);
        Require(applied != http::HasControlBytes(http::TrimAddress(location)));
        Require(applied || address == before);
        CheckRequest(address, viaProxy);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string url = input.ConsumeRandomLengthString();
    std::vector<std::string> locations;
    while (input.remaining_bytes() > 0 && locations.size() < kMaxLocations)
        locations.push_back(input.ConsumeRandomLengthString());
    Follow(url, locations, false);
    Follow(url, locations, true);
    return 0;
}
