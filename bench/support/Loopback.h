// Loopback addresses and listeners for the benches' own servers and plain clients.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace benchsupport {

// 127.0.0.1 at port (0: any free port, for bind).
sockaddr_in LoopbackAddress(std::uint16_t port);
// A listening socket on a free port of 127.0.0.1, which port receives; throws when the system
// refuses one.
int ListenOnLoopback(int backlog, std::uint16_t& port);

}  // namespace benchsupport
