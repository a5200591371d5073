#include "WinSock.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "SocketTable.h"

namespace sys::winsock {

using detail::Find;
using detail::Phase;
using detail::SocketRecord;
using detail::Table;

namespace {

std::atomic<int> g_started{0};
std::atomic<long> g_totalStartups{0};
std::atomic<std::uint32_t> g_generation{0};
thread_local int t_lastError = 0;

int Fail(int code) {
    t_lastError = code;
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(ErrorFromErrno(errno));
}

bool Started() {
    if (g_started.load(std::memory_order_relaxed) > 0)
        return true;
    t_lastError = WSANOTINITIALISED;
    return false;
}

// The descriptor of a live handle, or -1 with WSAENOTSOCK.
int FdOf(SOCKET s) {
    std::lock_guard lock(Table().mutex);
    SocketRecord* r = Find(s);
    if (!r) {
        t_lastError = WSAENOTSOCK;
        return -1;
    }
    return r->fd;
}

SOCKET Register(int fd, int type, Phase phase, bool nonBlocking = false) {
    SOCKET handle = (static_cast<SOCKET>(++g_generation) << 32) | static_cast<std::uint32_t>(fd);
    std::lock_guard lock(Table().mutex);
    SocketRecord& r = Table().byFd[fd];
    r = SocketRecord{};
    r.fd = fd;
    r.handle = handle;
    r.type = type;
    r.phase = phase;
    r.nonBlocking = nonBlocking;
    r.sel.read.stream = type == SOCK_STREAM;
    return handle;
}

// Runs f on the record of s under the table lock (when s is live); re-arming after calls.
template <typename F>
void WithRecord(SOCKET s, F f) {
    std::lock_guard lock(Table().mutex);
    if (SocketRecord* r = Find(s))
        f(*r);
}

bool Notified(SOCKET s) {
    bool notified = false;
    WithRecord(s, [&notified](SocketRecord& r) { notified = r.sel.hwnd != 0; });
    return notified;
}

// A connect to this host or a near one has often ended (made or refused) when the call returns:
// one look without waiting then spares the loop a wait for the outcome and the watch a change
// after it. The events seen, or 0 while the connect is still on its way.
std::uint32_t ConnectEndedAlready(int fd) {
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 ? static_cast<std::uint32_t>(p.revents) : 0u;
}

// Connect failures that belong to the attempt's outcome rather than to the call.
bool ConnectOutcome(int err) {
    return err == ECONNREFUSED || err == ETIMEDOUT || err == ENETUNREACH || err == EHOSTUNREACH ||
           err == ECONNRESET;
}

// After a read: the next FD_READ is allowed again, or, once the read took the last data after
// the peer's end, FD_CLOSE is next.
void RearmRead(SOCKET s, int readErrno = 0, bool shortRead = false) {
    WithRecord(s, [readErrno, shortRead](SocketRecord& r) {
        if (detail::OnRead(r.sel.read, readErrno, shortRead))
            detail::UpdateWatch(r);
    });
}

void RearmWrite(SOCKET s) {
    WithRecord(s, [](SocketRecord& r) {
        if (!r.sel.writeArmed) {
            r.sel.writeArmed = true;
            detail::UpdateWatch(r);
        }
    });
}

}  // namespace

namespace detail {

SocketTable& Table() {
    static SocketTable* table = new SocketTable;  // used until the last thread is gone
    return *table;
}

SocketRecord* Find(SOCKET s) {
    if (s == INVALID_SOCKET)
        return nullptr;
    auto it = Table().byFd.find(static_cast<int>(s & 0xFFFFFFFFu));
    if (it == Table().byFd.end() || it->second.handle != s)
        return nullptr;
    return &it->second;
}

}  // namespace detail

int WSAStartup(std::uint16_t versionRequested, WSADATA* data) {
    // Version words carry the major number in the low byte; 1.1 is the least served.
    int major = versionRequested & 0xFF, minor = versionRequested >> 8;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data) {
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
        std::strcpy(data->szDescription, "Quorvane sockets on POSIX");
        std::strcpy(data->szSystemStatus, "Running");
    }
    ++g_started;
    ++g_totalStartups;
    return 0;
}

int WSACleanup() {
    int now = g_started.load();
    while (now > 0 && !g_started.compare_exchange_weak(now, now - 1)) {
    }
    if (now <= 0)
        return Fail(WSANOTINITIALISED);
    return 0;
}

int StartupCount() {
    return g_started.load();
}

long TotalStartups() {
    return g_totalStartups.load();
}

int WSAGetLastError() {
    return t_lastError;
}

void WSASetLastError(int error) {
    t_lastError = error;
}

SOCKET socket(int af, int type, int protocol) {
    if (!Started())
        return INVALID_SOCKET;
    const bool nonBlocking = (type & SOCK_NONBLOCK) != 0;
    type &= ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
    int fd = ::socket(af, type | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    return Register(fd, type, Phase::Idle, nonBlocking);
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (::bind(fd, name, static_cast<socklen_t>(namelen)) < 0)
        return FailErrno();
    return 0;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    int rc = ::connect(fd, name, static_cast<socklen_t>(namelen));
    int err = rc < 0 ? errno : 0;
    const bool notified = Notified(s);
    // A notified socket learns every outcome of its connect through FD_CONNECT, also one that
    // the system knew at once (a refusal on the same host).
    const int refusal = rc < 0 && ConnectOutcome(err) && notified ? err : 0;
    if (refusal != 0)
        err = EINPROGRESS;
    if (rc == 0 || err == EINPROGRESS) {
        // Connected at once or on its way: either way FD_CONNECT reports the outcome, posted
        // now when it is known already.
        std::uint32_t ended = 0;
        if (notified)
            ended = rc == 0        ? std::uint32_t{POLLOUT}
                    : refusal != 0 ? std::uint32_t{POLLERR}
                                   : ConnectEndedAlready(fd);
        WithRecord(s, [rc, notified, ended, refusal](SocketRecord& r) {
            if (r.type != SOCK_STREAM)
                return;
            r.phase = (rc == 0 && !notified) ? Phase::Connected : Phase::Connecting;
            r.sel.writeArmed = false;
            if (ended != 0)
                detail::ConnectEndedAtOnce(r, ended, refusal);
            detail::UpdateWatch(r);
        });
    }
    if (rc < 0) {
        errno = err;
        return FailErrno();
    }
    return 0;
}

int listen(SOCKET s, int backlog) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (::listen(fd, backlog) < 0)
        return FailErrno();
    WithRecord(s, [](SocketRecord& r) {
        r.phase = Phase::Listening;
        r.sel.acceptArmed = true;
        detail::UpdateWatch(r);
    });
    return 0;
}

SOCKET accept(SOCKET s, sockaddr* addr, int* addrlen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return INVALID_SOCKET;
    socklen_t len = addrlen ? static_cast<socklen_t>(*addrlen) : 0;
    int nfd = ::accept4(fd, addr, addrlen ? &len : nullptr, SOCK_CLOEXEC);
    int err = errno;
    WithRecord(s, [](SocketRecord& r) {
        r.sel.acceptArmed = true;
        detail::UpdateWatch(r);
    });
    if (nfd < 0) {
        Fail(ErrorFromErrno(err));
        return INVALID_SOCKET;
    }
    if (addrlen)
        *addrlen = static_cast<int>(len);
    // The new socket starts blocking and without notifications until WSAAsyncSelect.
    return Register(nfd, SOCK_STREAM, Phase::Connected);
}

int send(SOCKET s, const void* buf, int len, int flags) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    ssize_t n = ::send(fd, buf, static_cast<std::size_t>(len < 0 ? 0 : len), flags | MSG_NOSIGNAL);
    int err = errno;
    if (n < 0 ? (err == EAGAIN || err == EWOULDBLOCK) : n < len)
        RearmWrite(s);
    if (n < 0)
        return Fail(ErrorFromErrno(err));
    return static_cast<int>(n);
}

int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, int tolen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    ssize_t n = ::sendto(fd, buf, static_cast<std::size_t>(len < 0 ? 0 : len), flags | MSG_NOSIGNAL,
                         to, static_cast<socklen_t>(tolen));
    int err = errno;
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK))
        RearmWrite(s);
    if (n < 0)
        return Fail(ErrorFromErrno(err));
    return static_cast<int>(n);
}

namespace {

// A zero-length read tells without consuming anything: 0 when data or the end is there,
// would-block when nothing is.
int ZeroLengthRecv(int fd) {
    char probe;
    ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0)
        return FailErrno();
    return 0;
}

}  // namespace

int recv(SOCKET s, void* buf, int len, int flags) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (len <= 0) {
        RearmRead(s);
        return ZeroLengthRecv(fd);
    }
    ssize_t n = ::recv(fd, buf, static_cast<std::size_t>(len), flags);
    int err = n < 0 ? errno : 0;
    RearmRead(s, err, flags == 0 && n >= 0 && n < len);
    if (n < 0)
        return Fail(ErrorFromErrno(err));
    return static_cast<int>(n);
}

int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, int* fromlen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    socklen_t flen = fromlen ? static_cast<socklen_t>(*fromlen) : 0;
    ssize_t n = ::recvfrom(fd, buf, static_cast<std::size_t>(len < 0 ? 0 : len), flags, from,
                           fromlen ? &flen : nullptr);
    int err = errno;
    RearmRead(s);
    if (n < 0)
        return Fail(ErrorFromErrno(err));
    if (fromlen)
        *fromlen = static_cast<int>(flen);
    return static_cast<int>(n);
}

int shutdown(SOCKET s, int how) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (::shutdown(fd, how) < 0)
        return FailErrno();
    return 0;
}

int closesocket(SOCKET s) {
    if (!Started())
        return SOCKET_ERROR;
    int fd;
    {
        std::lock_guard lock(Table().mutex);
        SocketRecord* r = Find(s);
        if (!r)
            return Fail(WSAENOTSOCK);
        fd = r->fd;
        detail::DropWatch(*r, true);
        Table().byFd.erase(fd);
    }
    // The descriptor is closed even when close reports a failure, so the handle is gone.
    if (::close(fd) < 0 && errno != EINTR)
        return FailErrno();
    return 0;
}

int ioctlsocket(SOCKET s, unsigned long cmd, u_long* argp) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (cmd == FIONBIO) {
        int on = (argp && *argp) ? 1 : 0;
        if (::ioctl(fd, FIONBIO, &on) < 0)
            return FailErrno();
        WithRecord(s, [on](SocketRecord& r) { r.nonBlocking = on != 0; });
        return 0;
    }
    int value = 0;
    if (::ioctl(fd, cmd, &value) < 0)
        return FailErrno();
    if (argp)
        *argp = static_cast<u_long>(value);
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const void* optval, int optlen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    if (level == SOL_SOCKET && optname == SO_LINGER && optlen == sizeof(LINGER) && optval) {
        const auto* shortRecord = static_cast<const LINGER*>(optval);
        linger full{shortRecord->l_onoff, shortRecord->l_linger};
        if (::setsockopt(fd, level, optname, &full, sizeof full) < 0)
            return FailErrno();
        return 0;
    }
    if (::setsockopt(fd, level, optname, optval, static_cast<socklen_t>(optlen)) < 0)
        return FailErrno();
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, void* optval, int* optlen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    socklen_t len = optlen ? static_cast<socklen_t>(*optlen) : 0;
    if (::getsockopt(fd, level, optname, optval, &len) < 0)
        return FailErrno();
    if (optlen)
        *optlen = static_cast<int>(len);
    return 0;
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
    if (::getsockname(fd, name, &len) < 0)
        return FailErrno();
    if (namelen)
        *namelen = static_cast<int>(len);
    return 0;
}

int getpeername(SOCKET s, sockaddr* name, int* namelen) {
    int fd = Started() ? FdOf(s) : -1;
    if (fd < 0)
        return SOCKET_ERROR;
    socklen_t len = namelen ? static_cast<socklen_t>(*namelen) : 0;
    if (::getpeername(fd, name, &len) < 0)
        return FailErrno();
    if (namelen)
        *namelen = static_cast<int>(len);
    return 0;
}

namespace {

// A plain dotted quad ("192.168.0.1": four decimal parts of at most 255, no leading zeros),
// false for anything else. The C library's inet_addr reads each part with strtoul, some 650
// instructions for every address a request connects to.
bool PlainDottedQuad(const char* cp, in_addr_t& address) {
    unsigned char bytes[4];
    for (int part = 0; part < 4; ++part) {
        if (*cp < '0' || *cp > '9' || (cp[0] == '0' && cp[1] >= '0' && cp[1] <= '9'))
            return false;  // no digit, or a leading zero (octal for the C library)
        unsigned value = 0;
        for (int digits = 0; *cp >= '0' && *cp <= '9'; ++cp)
            if (++digits > 3 || (value = value * 10 + static_cast<unsigned>(*cp - '0')) > 255)
                return false;
        bytes[part] = static_cast<unsigned char>(value);
        if (*cp++ != (part < 3 ? '.' : '\0'))
            return false;
    }
    std::memcpy(&address, bytes, sizeof address);
    return true;
}

}  // namespace

in_addr_t inet_addr(const char* cp) {
    if (!cp)
        return INADDR_NONE;
    in_addr_t address;
    return PlainDottedQuad(cp, address) ? address : ::inet_addr(cp);
}

// Written out by hand: the C library's inet_ntop goes through sprintf, some 1,700 instructions
// for every connect (the address is made text again after each look-up).
const char* inet_ntoa(in_addr in) {
    thread_local char text[INET_ADDRSTRLEN];
    const auto* bytes = reinterpret_cast<const unsigned char*>(&in.s_addr);
    char* out = text;
    for (int i = 0; i < 4; ++i) {
        unsigned value = bytes[i];
        if (value >= 100)
            *out++ = static_cast<char>('0' + value / 100);
        if (value >= 10)
            *out++ = static_cast<char>('0' + value / 10 % 10);
        *out++ = static_cast<char>('0' + value % 10);
        *out++ = i < 3 ? '.' : '\0';
    }
    return text;
}

int DescriptorOf(SOCKET s) {
    std::lock_guard lock(Table().mutex);
    SocketRecord* r = Find(s);
    return r ? r->fd : -1;
}

}  // namespace sys::winsock
