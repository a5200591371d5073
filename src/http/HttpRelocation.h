// The address of a request (where to connect, what to ask for) and where a relocation
// ("location" header) sends the next one.
#pragma once

#include <string>
#include <string_view>

#include "HttpUrl.h"

namespace http {

// The address fields of a request, set up by StartAddress and changed by ApplyRelocation.
struct TRequestAddress {
    std::string ConnectHost;  // where the socket connects: the server, or the proxy
    std::string ConnectPort;
    std::string TargetHost;   // the server named in the address, for the "Host: " line
    std::string RequestPath;  // the text of the request line: the path and query, or for plain
                              // http through a proxy the absolute address
    std::string Location;     // the absolute address being requested
    // The braces let initialisers that name only the fields above compile without a warning.
    std::string Scheme{};      // "http" or "https"
    std::string TargetPort{};  // the server's port: the one named, or the scheme's default

    bool operator==(const TRequestAddress&) const = default;
};

// Fills every field of address for a request of url, directly (proxyHost empty) or through an
// HTTP proxy. The url is trimmed as a browser trims it (TrimAddress) first. False, with address
// untouched, when it still holds control bytes.
//
// Any scheme but https counts as http. User and password in url are left out of every field.
// The request path is sent with blanks and bytes above 0x7E percent-encoded and without the
// fragment. Through a proxy, plain http asks the proxy for the absolute address; https goes
// through a tunnel to the server and so asks for the path alone.
bool StartAddress(TRequestAddress& address, std::string_view url, std::string_view proxyHost,
                  std::string_view proxyPort);
// The same for a url that the caller has trimmed and taken apart with ParseURL already.
bool StartAddress(TRequestAddress& address, std::string_view url, const TUrlParts& parts,
                  std::string_view proxyHost, std::string_view proxyPort);

// Applies the value of a "location" header to the address, as a browser resolves it, after
// trimming it as an address is trimmed. False, with address untouched, when it still holds
// control bytes.
//
// An address with scheme and host moves the request there, to the port it names or else to
// its scheme's default port. "//host/path" names another host with the current scheme. A
// rooted path or "http:/path" asks the same server for that path. Any other value (a file
// name, "dir/page", "../page", "?query") is a reference relative to the current request path.
// The fragment of the location is dropped. Through a proxy the connection stays with the proxy.
bool ApplyRelocation(TRequestAddress& address, std::string_view location, bool viaProxy);

// The path and query the request asks for, also when its request line holds the absolute
// address for a proxy.
std::string RequestedPath(const TRequestAddress& address);

// The value of the "Host: " line: the server's host, with ":port" when the port is not its
// scheme's default (a server on port 8080 may route or refuse by host and port).
std::string HostField(const TRequestAddress& address);
// "host:port" as a CONNECT line names the server, the port always given.
std::string Authority(const TRequestAddress& address);

// True when the request goes through an HTTP proxy as a CONNECT tunnel (https through a proxy).
bool Tunnelled(const TRequestAddress& address, bool viaProxy);

// Resolves a relative reference (no scheme, no leading "/") against a request path such as
// "/dir/page?q": "next" gives "/dir/next", "../up" gives "/up", "?x" gives "/dir/page?x".
std::string ResolveRelativePath(std::string_view basePath, std::string_view reference);

}  // namespace http
