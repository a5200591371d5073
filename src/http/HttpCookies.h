// The cookies of one request: what the servers along its relocations set is sent back on the
// following requests of the same chain, as a browser would, so that a site that relocates to
// itself until its cookie comes back lets the request through. Nothing outlives the request and
// nothing is written anywhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace http {

// Where an answer came from, or where a request goes.
struct TCookieSite {
    std::string_view Host;
    std::string_view Path;  // path and query of the request
    bool Secure = false;    // over https
};

class TCookieJar {
  public:
    // A jar keeps at most this many cookies; more are dropped, as are larger ones.
    static constexpr std::size_t kMaxCookies = 50;
    static constexpr std::size_t kMaxCookieBytes = 4096;

    // Takes the value of a "Set-Cookie" header that an answer from site carried. Kept simple:
    // a Domain that the host lies in widens the cookie to that domain's hosts, one that does
    // not refuses it; Path (or the request's folder) limits it to a path; Secure keeps it to
    // https; a Max-Age of 0 or less removes it. Expires is not read: the jar lives only for the
    // request. Cookies holding control bytes are refused.
    void Receive(std::string_view setCookie, const TCookieSite& site);
    // The value of a "Cookie: " line for a request to site, longest paths first; empty when
    // no cookie applies.
    std::string HeaderFor(const TCookieSite& site) const;
    void Clear() { cookies_.clear(); }
    std::size_t Size() const { return cookies_.size(); }

  private:
    struct TCookie {
        std::string Name;
        std::string Value;
        std::string Domain;  // lower case; the host itself unless DomainWide
        bool DomainWide = false;
        std::string Path;
        bool Secure = false;
    };
    static bool Matches(const TCookie& cookie, const TCookieSite& site);
    void Store(TCookie cookie, bool remove);

    std::vector<TCookie> cookies_;
};

}  // namespace http
