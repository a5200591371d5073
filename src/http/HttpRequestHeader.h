// The lines of a request header, composed from the client's settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace http {

// Views of the client's settings: the composer reads them while they are alive and copies only
// what goes into a line.
struct THttpRequestHeaderInput {
    std::string_view Method;       // "GET", "POST" or "HEAD"
    std::string_view RequestPath;  // a path, or the absolute address when a proxy is used
    std::string_view Sender;
    std::string_view Accept;
    std::string_view Reference;
    std::string_view ContentTypePost;
    std::string_view Agent;
    std::string_view Host;  // the server's host, with ":port" when not the scheme's default
    bool NoCache = false;
    std::int64_t PostSize = 0;  // bytes of the POST body
    double ModifiedSince = 0;   // day count; 0 = none
    std::string_view Username;
    std::string_view Password;
    bool ViaProxy = false;
    std::string_view ProxyUsername;
    std::string_view ProxyPassword;
    std::string_view Cookie;
    std::string_view RangeBegin;
    std::string_view RangeEnd;
};

// The request line and the header lines that apply, in their fixed order, without line ends
// and without the empty line that ends the header.
std::vector<std::string> RequestHeaderLines(const THttpRequestHeaderInput& in);

}  // namespace http
