// WSAAsyncSelect on the calling thread's epoll set. The watch asks only for the readiness that
// can lead to a notification now: every notification consumes its permission, and the watch is
// dropped when it fires while nothing is permitted, so a descriptor that stays ready (or hung
// up, which epoll reports whatever was asked) wakes the loop at most once and never makes it
// spin. Dropping only then, not as soon as nothing is permitted, spares an epoll_ctl DEL and
// ADD per read: the FD_READ handler's recv re-arms the watch before the loop polls again.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>

#include "SocketTable.h"

namespace sys::winsock {

namespace detail {

namespace {

int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    return err;
}

// The socket's answers to the read side's questions; each is a system call.
class SocketProbe final : public ReadProbe {
  public:
    explicit SocketProbe(int fd) : fd_(fd) {}

    // A separate FIONREAD would cost a second call: one peeked byte tells all three cases.
    Peeked Peek(int& err) override {
        char probe;
        ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0)
            return Peeked::Data;
        if (n == 0)
            return Peeked::End;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            err = errno;
            return Peeked::End;
        }
        return Peeked::Nothing;
    }
    int PendingError() override { return detail::PendingError(fd_); }

  private:
    int fd_;
};

std::uint32_t WantedEvents(const SocketRecord& r);

void Post(SocketRecord& r, long event, int errnoValue) {
    if (r.sel.mask & event)
        PostMessage(r.sel.hwnd, r.sel.msg, static_cast<WPARAM>(r.handle),
                    WSAMAKESELECTREPLY(event, errnoValue ? ErrorFromErrno(errnoValue) : 0));
}

// Writability without an error or hang-up is a connect that succeeded: only those two need the
// pending error asked. The connected socket has room to send, so FD_WRITE follows FD_CONNECT at
// once instead of a poll later, and the watch need not ask for EPOLLOUT any more.
void ConnectDone(SocketRecord& r, std::uint32_t events, int refusal = 0) {
    constexpr std::uint32_t kTrouble = EPOLLERR | EPOLLHUP;
    int err = refusal ? refusal : (events & kTrouble) ? PendingError(r.fd) : 0;
    int reset = 0;
    if (err == ECONNRESET || err == EPIPE) {
        // Established and reset before we looked: the connect succeeded, the reset is the
        // close that follows it.
        reset = err;
        err = 0;
    }
    r.phase = err ? Phase::Failed : Phase::Connected;
    OnConnectOutcome(r.sel.read, err == 0, reset);
    r.sel.writeArmed = err == 0;
    Post(r, FD_CONNECT, err);
    if (err == 0 && (events & EPOLLOUT) && !(events & kTrouble)) {
        r.sel.writeArmed = false;
        Post(r, FD_WRITE, 0);
    }
}

Readiness Seen(std::uint32_t events) {
    return {(events & EPOLLIN) != 0, (events & EPOLLRDHUP) != 0, (events & EPOLLHUP) != 0,
            (events & EPOLLERR) != 0};
}

void ReadSideLook(SocketRecord& r, std::uint32_t events) {
    SocketProbe probe(r.fd);
    const ReadStep step = OnReadiness(r.sel.read, Seen(events), probe);
    if (step.note != ReadNote::None)
        Post(r, step.note == ReadNote::Read ? FD_READ : FD_CLOSE, step.error);
}

void OnReady(SOCKET handle, std::uint32_t events) {
    std::lock_guard lock(Table().mutex);
    SocketRecord* r = Find(handle);
    if (!r)
        return;
    constexpr std::uint32_t kHangUp = EPOLLERR | EPOLLHUP;
    const bool permittedNothing = WantedEvents(*r) == 0;
    if (r->phase == Phase::Connecting) {
        if (events & (EPOLLOUT | kHangUp))
            ConnectDone(*r, events);
    } else if (r->phase == Phase::Listening) {
        if (r->sel.acceptArmed && (events & (EPOLLIN | kHangUp))) {
            r->sel.acceptArmed = false;
            Post(*r, FD_ACCEPT, 0);
        }
    } else {
        ReadSideLook(*r, events);
        if (r->sel.writeArmed && (events & (EPOLLOUT | kHangUp))) {
            r->sel.writeArmed = false;
            Post(*r, FD_WRITE, 0);
        }
    }
    // A watch that fires while nothing is permitted goes now, so it cannot fire again.
    UpdateWatch(*r, permittedNothing);
}

std::uint32_t WantedEvents(const SocketRecord& r) {
    const SelectState& s = r.sel;
    if (s.hwnd == 0 || s.mask == 0 || s.owner != std::this_thread::get_id())
        return 0;
    bool datagram = r.type != SOCK_STREAM;
    switch (r.phase) {
        case Phase::Connecting:
            return datagram ? 0u : std::uint32_t{EPOLLOUT};
        case Phase::Listening:
            return s.acceptArmed ? std::uint32_t{EPOLLIN} : 0u;
        case Phase::Idle:
            if (!datagram)
                return 0;
            [[fallthrough]];
        case Phase::Connected: {
            std::uint32_t bits = 0;
            if (ReadPermitted(s.read.state))
                bits |= EPOLLIN | EPOLLRDHUP;
            if (s.writeArmed)
                bits |= EPOLLOUT;
            return bits;
        }
        case Phase::Failed:
            return 0;
    }
    return 0;
}

}  // namespace

void UpdateWatch(SocketRecord& r, bool dropUnwanted) {
    if (r.sel.owner != std::this_thread::get_id())
        return;  // only the owning thread's loop can change its watches
    std::uint32_t wanted = WantedEvents(r);
    if (wanted == 0) {
        if (dropUnwanted)
            DropWatch(r);
    } else if (r.sel.watch == 0) {
        SOCKET handle = r.handle;
        r.sel.watch = WatchFd(r.fd, wanted, [handle](std::uint32_t ev) { OnReady(handle, ev); });
        r.sel.watched = r.sel.watch ? wanted : 0;
    } else if (wanted != r.sel.watched) {
        ModifyFdWatch(r.sel.watch, wanted);
        r.sel.watched = wanted;
    }
}

void ConnectEndedAtOnce(SocketRecord& r, std::uint32_t events, int refusal) {
    // poll and epoll share the values of these bits.
    static_assert(POLLOUT == EPOLLOUT && POLLERR == EPOLLERR && POLLHUP == EPOLLHUP);
    ConnectDone(r, events, refusal);
}

void DropWatch(SocketRecord& r, bool descriptorClosing) {
    if (r.sel.watch != 0 && r.sel.owner == std::this_thread::get_id())
        descriptorClosing ? ForgetFdWatch(r.sel.watch) : UnwatchFd(r.sel.watch);
    r.sel.watch = 0;
    r.sel.watched = 0;
}

}  // namespace detail

int WSAAsyncSelect(SOCKET s, HWND h, UINT msg, long mask) {
    if (StartupCount() <= 0) {
        WSASetLastError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    std::lock_guard lock(detail::Table().mutex);
    detail::SocketRecord* r = detail::Find(s);
    if (!r) {
        WSASetLastError(WSAENOTSOCK);
        return SOCKET_ERROR;
    }
    if (mask != 0 && !IsWindow(h)) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    int on = 1;
    if (!r->nonBlocking && ::ioctl(r->fd, FIONBIO, &on) == 0)
        r->nonBlocking = true;
    detail::DropWatch(*r);
    detail::SelectState& sel = r->sel;
    sel.hwnd = mask ? h : 0;
    sel.msg = msg;
    sel.mask = mask;
    sel.owner = std::this_thread::get_id();
    // A new selection re-enables every notification that its condition allows now.
    bool usable = r->phase == detail::Phase::Connected || r->type != SOCK_STREAM;
    detail::OnSelect(sel.read);
    sel.acceptArmed = true;
    sel.writeArmed = usable;
    detail::UpdateWatch(*r);
    return 0;
}

}  // namespace sys::winsock
