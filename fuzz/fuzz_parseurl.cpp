// Splits arbitrary bytes as an address and uses them as a relocation target. Every part that
// ParseURL hands out must be taken from the address itself (the scheme may also be the
// implied "http" or "mailto"); a bracketed host keeps its brackets and its colons.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "http/HttpRelocation.h"
#include "http/HttpUrl.h"

namespace {

bool TakenFrom(std::string_view part, std::string_view url) {
    return part.empty() || url.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url(reinterpret_cast<const char*>(data), size);
    const http::TUrlParts parts = http::ParseURL(url);
    const bool protoOk =
        TakenFrom(parts.Proto, url) || parts.Proto == "http" || parts.Proto == "mailto";
    // A query right behind the host gets the root path in front of it ("host?q" asks "/?q").
    const std::string_view path = parts.Path;
    const bool pathOk =
        TakenFrom(path, url) || (path.starts_with("/?") && TakenFrom(path.substr(1), url));
    if (!protoOk || !TakenFrom(parts.User, url) || !TakenFrom(parts.Pass, url) ||
        !TakenFrom(parts.Host, url) || !TakenFrom(parts.Port, url) || !pathOk)
        __builtin_trap();
    // A host in brackets (an IPv6 address) keeps them, and the port comes only from behind
    // the closing one: no colon inside the brackets is taken for the port's.
    if (parts.Host.starts_with('[') && parts.Host.find(']') != std::string::npos &&
        parts.Port.find(']') != std::string::npos)
        __builtin_trap();

    http::TRequestAddress direct{"www.a.test", "80", "www.a.test", "/dir/page?q",
                                 "http://www.a.test/dir/page?q"};
    http::ApplyRelocation(direct, url, false);
    http::TRequestAddress proxied{"proxy.test", "3128", "www.a.test",
                                  "http://www.a.test:8080/dir/page", ""};
    http::ApplyRelocation(proxied, url, true);
    if (direct.RequestPath.empty() || proxied.RequestPath.empty())
        __builtin_trap();

    std::string name(url);
    http::ChangeExt(name, "htm");
    if (http::Base64Encode(url).size() != (size + 2) / 3 * 4)
        __builtin_trap();
    if (size >= sizeof(double)) {
        double when;
        std::memcpy(&when, data, sizeof when);
        (void)http::HttpDateText(when);
    }
    return 0;
}
