// Name, service and protocol look-ups, blocking and shared with the lookup workers.
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "AsyncLookup.h"
#include "HostEntry.h"
#include "NetDbCache.h"

namespace sys::winsock {

namespace {

std::mutex hostsMutex;
std::map<std::string, std::vector<std::string>> testHosts;

bool SameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, 16) == 0;
}

// The families take turns, the first address's family first, each keeping its own order: a
// name whose IPv6 addresses all fail reaches an IPv4 one after the first attempt.
std::vector<sockaddr_storage> Interleaved(const std::vector<sockaddr_storage>& found) {
    std::vector<sockaddr_storage> first, other, out;
    for (const auto& a : found)
        (a.ss_family == found.front().ss_family ? first : other).push_back(a);
    for (std::size_t i = 0; i < first.size() || i < other.size(); ++i) {
        if (i < first.size())
            out.push_back(first[i]);
        if (i < other.size())
            out.push_back(other[i]);
    }
    return out;
}

void AddUnique(std::vector<sockaddr_storage>& found, const sockaddr* sa) {
    sockaddr_storage a{};
    if (sa->sa_family == AF_INET)
        std::memcpy(&a, sa, sizeof(sockaddr_in));
    else if (sa->sa_family == AF_INET6)
        std::memcpy(&a, sa, sizeof(sockaddr_in6));
    else
        return;
    reinterpret_cast<sockaddr_in&>(a).sin_port = 0;  // same place in both families
    for (const auto& b : found)
        if (SameAddress(a, b))
            return;
    found.push_back(a);
}

// The test table's entry for name, as addresses; false when the table does not know it.
bool FromTestHosts(const std::string& name, std::vector<sockaddr_storage>& found) {
    std::lock_guard lock(hostsMutex);
    auto it = testHosts.find(name);
    if (it == testHosts.end())
        return false;
    for (const auto& text : it->second) {
        sockaddr_in v4{};
        sockaddr_in6 v6{};
        if (::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
            v4.sin_family = AF_INET;
            AddUnique(found, reinterpret_cast<const sockaddr*>(&v4));
        } else if (::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
            v6.sin6_family = AF_INET6;
            AddUnique(found, reinterpret_cast<const sockaddr*>(&v6));
        }
    }
    return true;
}

}  // namespace

namespace detail {

int ResolveAll(const std::string& name, ADDRESSLIST& list) {
    list.count = 0;
    std::vector<sockaddr_storage> found;
    if (!FromTestHosts(name, found)) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;  // one entry per address
        addrinfo* result = nullptr;
        int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
        if (rc != 0)
            return ErrorFromResolver(rc, errno);
        for (addrinfo* a = result; a; a = a->ai_next)
            AddUnique(found, a->ai_addr);
        ::freeaddrinfo(result);
    }
    if (found.empty())
        return WSANO_DATA;
    for (const auto& a : Interleaved(found)) {
        if (list.count == ADDRESSLIST::kMax)
            break;
        list.addrs[list.count++] = a;
    }
    return 0;
}

HostResult ResolveName(const std::string& name) {
    HostResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        result.error = ErrorFromResolver(rc, errno);
        return result;
    }
    result.name = (list && list->ai_canonname) ? list->ai_canonname : name;
    for (addrinfo* a = list; a; a = a->ai_next) {
        auto addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        if (std::find(result.addrs.begin(), result.addrs.end(), addr) == result.addrs.end())
            result.addrs.push_back(addr);
    }
    ::freeaddrinfo(list);
    if (result.addrs.empty())
        result.error = WSANO_DATA;
    return result;
}

HostResult ResolveAddr(in_addr addr) {
    HostResult result;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    char host[NI_MAXHOST];
    int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host,
                           nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        result.error = ErrorFromResolver(rc, errno);
        return result;
    }
    result.name = host;
    result.addrs.push_back(addr.s_addr);
    return result;
}

bool WriteHostEntry(const HostResult& result, char* buf, int buflen) {
    // hostent, alias list (empty), address pointer list, addresses, name.
    std::size_t count = result.addrs.size();
    std::size_t need = sizeof(hostent) + sizeof(char*) + (count + 1) * sizeof(char*) + count * 4 +
                       result.name.size() + 1;
    if (!buf || buflen < 0 || need > static_cast<std::size_t>(buflen) ||
        reinterpret_cast<std::uintptr_t>(buf) % alignof(hostent) != 0)
        return false;
    auto* entry = reinterpret_cast<hostent*>(buf);
    auto** aliases = reinterpret_cast<char**>(buf + sizeof(hostent));
    char** addrList = aliases + 1;
    char* addrBytes = reinterpret_cast<char*>(addrList + count + 1);
    char* name = addrBytes + count * 4;
    aliases[0] = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(addrBytes + i * 4, &result.addrs[i], 4);
        addrList[i] = addrBytes + i * 4;
    }
    addrList[count] = nullptr;
    std::memcpy(name, result.name.c_str(), result.name.size() + 1);
    entry->h_name = name;
    entry->h_aliases = aliases;
    entry->h_addrtype = AF_INET;
    entry->h_length = 4;
    entry->h_addr_list = addrList;
    return true;
}

}  // namespace detail

namespace {

bool Started() {
    if (StartupCount() > 0)
        return true;
    WSASetLastError(WSANOTINITIALISED);
    return false;
}

}  // namespace

const hostent* gethostbyname(const char* name) {
    if (!Started())
        return nullptr;
    if (!name || !*name) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    alignas(hostent) thread_local char buffer[2048];
    detail::HostResult result = detail::ResolveName(name);
    if (result.error) {
        WSASetLastError(result.error);
        return nullptr;
    }
    if (!detail::WriteHostEntry(result, buffer, sizeof buffer)) {
        WSASetLastError(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<const hostent*>(buffer);
}

int getaddrlist(const char* name, ADDRESSLIST* list) {
    if (!Started())
        return SOCKET_ERROR;
    if (!list || !name || !*name) {
        WSASetLastError(!list ? WSAEINVAL : WSAHOST_NOT_FOUND);
        return SOCKET_ERROR;
    }
    if (int error = detail::ResolveAll(name, *list)) {
        WSASetLastError(error);
        return SOCKET_ERROR;
    }
    return 0;
}

void detail::SetHostsForTest(std::map<std::string, std::vector<std::string>> hosts) {
    std::lock_guard lock(hostsMutex);
    testHosts = std::move(hosts);
}

const servent* getservbyname(const char* name, const char* proto) {
    if (!Started())
        return nullptr;
    if (!name) {
        WSASetLastError(WSANO_DATA);
        return nullptr;
    }
    const servent* found = detail::CachedService(name, proto);
    if (!found)
        WSASetLastError(WSANO_DATA);
    return found;
}

const protoent* getprotobyname(const char* name) {
    if (!Started())
        return nullptr;
    if (!name) {
        WSASetLastError(WSANO_DATA);
        return nullptr;
    }
    const protoent* found = detail::CachedProtocol(name);
    if (!found)
        WSASetLastError(WSANO_DATA);
    return found;
}

}  // namespace sys::winsock
