#include "HttpRequestHeader.h"

#include "HttpUrl.h"

namespace http {

std::vector<std::string> RequestHeaderLines(const THttpRequestHeaderInput& in) {
    std::vector<std::string> lines;
    const bool post = in.Method == "POST";
    const auto add = [&](bool condition, std::string line) {
        if (condition)
            lines.push_back(std::move(line));
    };
    add(true, in.Method + " " + in.RequestPath + " HTTP/1.0");
    add(!in.Sender.empty(), "From: " + in.Sender);
    add(!in.Accept.empty(), "Accept: " + in.Accept);
    add(!in.Reference.empty(), "Referer: " + in.Reference);
    add(post && !in.ContentTypePost.empty(), "Content-Type: " + in.ContentTypePost);
    add(!in.Agent.empty(), "User-Agent: " + in.Agent);
    add(true, "Host: " + in.TargetHost);
    add(in.NoCache, "Pragma: no-cache");
    add(post, "Content-Length: " + std::to_string(in.PostSize));
    if (in.ModifiedSince != 0) {
        // A date that cannot be written is left out rather than sent as an empty text.
        const std::string date = HttpDateText(in.ModifiedSince);
        add(!date.empty(), "If-Modified-Since: " + date + " GMT");
    }
    add(!in.Username.empty(),
        "Authorization: Basic " + Base64Encode(in.Username + ":" + in.Password));
    add(in.ViaProxy && !in.ProxyUsername.empty(),
        "Proxy-Authorization: Basic " + Base64Encode(in.ProxyUsername + ":" + in.ProxyPassword));
    add(!in.Cookie.empty(), "Cookie: " + in.Cookie);
    add(!in.RangeBegin.empty() || !in.RangeEnd.empty(),
        "Range: bytes=" + in.RangeBegin + "-" + in.RangeEnd);
    return lines;
}

}  // namespace http
