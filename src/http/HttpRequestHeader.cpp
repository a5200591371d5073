#include "HttpRequestHeader.h"

#include <initializer_list>

#include "HttpUrl.h"

namespace http {

namespace {

std::string Joined(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (std::string_view part : parts)
        size += part.size();
    std::string text;
    text.reserve(size);
    for (std::string_view part : parts)
        text += part;
    return text;
}

std::string Credentials(std::string_view user, std::string_view password) {
    return Base64Encode(Joined({user, ":", password}));
}

}  // namespace

// Each line is composed only when it applies: a request asks for a handful of the fourteen.
std::vector<std::string> RequestHeaderLines(const THttpRequestHeaderInput& in) {
    std::vector<std::string> lines;
    lines.reserve(8);
    const bool post = in.Method == "POST";
    const auto field = [&lines](std::string_view name, std::string_view value) {
        lines.push_back(Joined({name, ": ", value}));
    };
    lines.push_back(Joined({in.Method, " ", in.RequestPath, " HTTP/1.0"}));
    if (!in.Sender.empty())
        field("From", in.Sender);
    if (!in.Accept.empty())
        field("Accept", in.Accept);
    if (!in.Reference.empty())
        field("Referer", in.Reference);
    if (post && !in.ContentTypePost.empty())
        field("Content-Type", in.ContentTypePost);
    if (!in.Agent.empty())
        field("User-Agent", in.Agent);
    field("Host", in.Host);
    if (in.NoCache)
        lines.emplace_back("Pragma: no-cache");
    if (post)
        field("Content-Length", std::to_string(in.PostSize));
    if (in.ModifiedSince != 0) {
        // A date that cannot be written is left out rather than sent as an empty text.
        const std::string date = HttpDateText(in.ModifiedSince);
        if (!date.empty())
            lines.push_back(Joined({"If-Modified-Since: ", date, " GMT"}));
    }
    if (!in.Username.empty())
        field("Authorization", "Basic " + Credentials(in.Username, in.Password));
    if (in.ViaProxy && !in.ProxyUsername.empty())
        field("Proxy-Authorization", "Basic " + Credentials(in.ProxyUsername, in.ProxyPassword));
    if (!in.Cookie.empty())
        field("Cookie", in.Cookie);
    if (!in.RangeBegin.empty() || !in.RangeEnd.empty())
        lines.push_back(Joined({"Range: bytes=", in.RangeBegin, "-", in.RangeEnd}));
    return lines;
}

}  // namespace http
