// The socket calls with the names, results and error numbers of the asynchronous socket API
// the components were designed for, on POSIX sockets and the calling thread's message loop.
//
// - Handles are opaque and never reused within the process (a closed descriptor number comes
//   back from the system at once, a handle does not), so a late notification for a closed
//   socket can never be taken for its successor. INVALID_SOCKET is all bits set.
// - Failures return SOCKET_ERROR (-1), INVALID_SOCKET, nullptr or a zero task handle; the
//   error number (SocketErrors.h) is then in WSAGetLastError() of the calling thread.
// - Every call except the conversions and WSAStartup fails with WSANOTINITIALISED while the
//   layer is not started: WSAStartup/WSACleanup count start-ups like the library they replace.
// - Levels, option names, FIONREAD, MSG_OOB, AF_INET, SOCK_STREAM and the address structures
//   are the system's own; SO_LINGER also takes the short record LINGER of two 16-bit fields.
// - SIGPIPE never reaches the process: sends never raise it.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdint>

#include "Messages.h"
#include "SocketErrors.h"

namespace sys::winsock {

using SOCKET = std::uint64_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET(0);
constexpr int SOCKET_ERROR = -1;
using u_long = std::uint32_t;
using u_short = std::uint16_t;
using HANDLE = std::uint64_t;  // task handle of an asynchronous lookup; 0 = none

// Network-event bits of WSAAsyncSelect.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

// lParam of a network-event message: the event bits in the low word, the error in the high.
inline LPARAM WSAMAKESELECTREPLY(long events, int error) {
    return static_cast<LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                               (static_cast<std::uint32_t>(events) & 0xFFFF));
}
inline int WSAGETSELECTEVENT(LPARAM l) {
    return static_cast<int>(l & 0xFFFF);
}
inline int WSAGETSELECTERROR(LPARAM l) {
    return static_cast<int>((l >> 16) & 0xFFFF);
}
// The same layout for lookup completions: the error in the high word.
inline int WSAGETASYNCERROR(LPARAM l) {
    return static_cast<int>((l >> 16) & 0xFFFF);
}

// The short linger record: on/off and the time in seconds, 16 bits each.
struct LINGER {
    u_short l_onoff;
    u_short l_linger;
};

struct WSADATA {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
};

// Start-up and shut-down of the layer, counted.
int WSAStartup(std::uint16_t versionRequested, WSADATA* data);
int WSACleanup();
// Number of start-ups not yet matched by a clean-up, and of all start-ups ever made.
int StartupCount();
long TotalStartups();

int WSAGetLastError();
void WSASetLastError(int error);

// type may carry SOCK_NONBLOCK for a socket that goes to WSAAsyncSelect at once: it then needs
// no switch of its mode there.
SOCKET socket(int af, int type, int protocol);
int bind(SOCKET s, const sockaddr* name, int namelen);
int connect(SOCKET s, const sockaddr* name, int namelen);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen);
int send(SOCKET s, const void* buf, int len, int flags);
int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen);
int recv(SOCKET s, void* buf, int len, int flags);
int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen);
int shutdown(SOCKET s, int how);
int closesocket(SOCKET s);
int ioctlsocket(SOCKET s, unsigned long cmd, u_long* argp);
int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen);
int getsockname(SOCKET s, sockaddr* name, int* namelen);
int getpeername(SOCKET s, sockaddr* name, int* namelen);

// Conversions: no start-up needed, no error number set. htons/ntohs are the system's.
in_addr_t inet_addr(const char* cp);
// A dotted text in a buffer of the calling thread, valid until its next call.
const char* inet_ntoa(in_addr in);

// Every address of a name, of either family, in the order a connect tries them: the resolver's
// order with the families taking turns (the resolver's first family first), each address once,
// at most kMax of them. The ports are 0.
struct ADDRESSLIST {
    static constexpr int kMax = 16;
    int count = 0;
    sockaddr_storage addrs[kMax];
};
// Blocking look-up of name for both families (an address text of either family gives itself).
// 0, or SOCKET_ERROR with the error number set.
int getaddrlist(const char* name, ADDRESSLIST* list);

// Blocking database look-ups, IPv4 only. The entry lives in a buffer of the calling thread
// until its next call of the same function.
const hostent* gethostbyname(const char* name);
const servent* getservbyname(const char* name, const char* proto);
const protoent* getprotobyname(const char* name);

// Directs the network events of s named in mask to window h as message msg (wParam = s,
// lParam = WSAMAKESELECTREPLY). Re-enabling: FD_READ once until the next recv/recvfrom;
// FD_WRITE after the connect, then again after a send that would block or took fewer bytes
// than offered; FD_CONNECT once with the connect's error; FD_ACCEPT once until the next accept;
// FD_CLOSE once when the peer has closed (after the data before it has been read). A mask of 0
// stops the notifications. Must be called on the thread whose loop serves h; the events are
// collected by that thread's loop.
int WSAAsyncSelect(SOCKET s, HWND h, UINT msg, long mask);

// The descriptor behind a handle (-1 when there is none), for tests and benchmarks.
int DescriptorOf(SOCKET s);

}  // namespace sys::winsock
