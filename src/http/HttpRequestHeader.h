// The lines of a request header, composed from the client's settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace http {

struct THttpRequestHeaderInput {
    std::string Method;       // "GET", "POST" or "HEAD"
    std::string RequestPath;  // a path, or the absolute address when a proxy is used
    std::string Sender;
    std::string Accept;
    std::string Reference;
    std::string ContentTypePost;
    std::string Agent;
    std::string TargetHost;
    bool NoCache = false;
    std::int64_t PostSize = 0;  // bytes of the POST body
    double ModifiedSince = 0;   // day count; 0 = none
    std::string Username;
    std::string Password;
    bool ViaProxy = false;
    std::string ProxyUsername;
    std::string ProxyPassword;
    std::string Cookie;
    std::string RangeBegin;
    std::string RangeEnd;
};

// The request line and the header lines that apply, in their fixed order, without line ends
// and without the empty line that ends the header.
std::vector<std::string> RequestHeaderLines(const THttpRequestHeaderInput& in);

}  // namespace http
