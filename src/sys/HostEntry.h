// Host look-ups shared by the blocking and the asynchronous calls: the resolver result, and
// the host entry (hostent) laid out in a caller's buffer. Internal to sys.
#pragma once

#include <string>
#include <vector>

#include "WinSock.h"

namespace sys::winsock::detail {

struct HostResult {
    int error = 0;  // socket error number, 0 on success
    std::string name;
    std::vector<in_addr_t> addrs;  // network order, each once, in the resolver's order
};

HostResult ResolveName(const std::string& name);
// Both families, as ADDRESSLIST describes; the error number, 0 on success.
int ResolveAll(const std::string& name, ADDRESSLIST& list);
HostResult ResolveAddr(in_addr addr);
// Writes a hostent with its strings and lists into buf; false when buflen is too small.
bool WriteHostEntry(const HostResult& result, char* buf, int buflen);

}  // namespace sys::winsock::detail
