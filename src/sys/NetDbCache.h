// Process-wide memory of service and protocol look-ups. libc opens and reads /etc/services or
// /etc/protocols again on every call (six system calls for each connect that names "tcp");
// those files do not change while the program runs, so every entry found is kept. Internal to
// sys: NetDb.cpp serves getservbyname and getprotobyname from here.
#pragma once

#include <netdb.h>

namespace sys::winsock::detail {

// The entry for name (and proto, nullptr for any), or nullptr when there is none. The entry
// stays valid for the life of the process. Any thread.
const servent* CachedService(const char* name, const char* proto);
const protoent* CachedProtocol(const char* name);

}  // namespace sys::winsock::detail
