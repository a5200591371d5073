// Name, service and protocol look-ups (IPv4), blocking and shared with the lookup workers.
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "HostEntry.h"
#include "NetDbCache.h"

namespace sys::winsock {

namespace detail {

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
