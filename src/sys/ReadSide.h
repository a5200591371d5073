// The read side of a socket under WSAAsyncSelect as one state machine: when FD_READ and FD_CLOSE
// go out as the watch looks, after each read and after a new selection. It holds no descriptor:
// the socket is asked through the probe the caller hands in, and only when the state and the
// readiness cannot tell, since every question is a system call. Internal to sys; the caller
// holds the socket table's mutex.
#pragma once

namespace sys::winsock::detail {

enum class ReadState {
    Waiting,       // FD_READ not permitted: not selected or connected yet, or told and not read
    WaitingAtEnd,  // the same, and the peer's end has come cleanly since
    // FD_READ went out with the peer's end there, perhaps with nothing before it: unless the
    // owner reads, the next look that sees the end tells FD_CLOSE.
    EndUnread,
    Armed,       // FD_READ may go out at the next look
    ArmedAtEnd,  // the same, and the peer's end has come cleanly: no data can follow what is there
    Drained,     // a read after the end took the last data: the next look is FD_CLOSE, unasked
    Closed,      // FD_CLOSE told: nothing more comes from the read side
};

// What the watch saw, in epoll's terms but without its header.
struct Readiness {
    bool readable = false;
    bool peerEnd = false;  // the peer has shut its sending side (EPOLLRDHUP)
    bool hangUp = false;
    bool error = false;
};

enum class Peeked { Data, Nothing, End };

// The socket's answers, asked for only when needed.
class ReadProbe {
  public:
    // One byte peeked without taking it: data first (even before a pending error), then the
    // end (err set when a fault ended it), else nothing yet.
    virtual Peeked Peek(int& err) = 0;
    // The pending socket error, taken off the socket; 0 if none.
    virtual int PendingError() = 0;

  protected:
    ~ReadProbe() = default;
};

enum class ReadNote { None, Read, Close };

// The notification a step posts; error is an errno value for FD_CLOSE.
struct ReadStep {
    ReadNote note = ReadNote::None;
    int error = 0;
};

struct ReadSide {
    ReadState state = ReadState::Waiting;
    bool stream = true;  // datagram sockets only ever wait or are armed
    // A fault that the connect's completion or a read took off the socket (a reset, say): it is
    // gone from the socket once reported, so it is kept for the FD_CLOSE that tells the end.
    int fault = 0;
};

// FD_READ may go out at the next look, so the watch asks for reading.
bool ReadPermitted(ReadState state);

// The watch looked. A hang-up or an error may carry a fault that only a peek reports, so it
// makes the end unclean: only a clean end lets a read that empties the socket tell it.
ReadStep OnReadiness(ReadSide& side, const Readiness& seen, ReadProbe& probe);

// A recv or recvfrom returned: readErrno is its errno (0 when it succeeded), shortRead tells a
// plain read that came back with less than asked (or nothing). True when FD_READ has become
// permitted again, so the watch may have to ask for reading.
bool OnRead(ReadSide& side, int readErrno, bool shortRead);

// A new selection re-enables FD_READ.
void OnSelect(ReadSide& side);

// The connect's outcome: a connection made permits FD_READ. fault is a reset that completing
// the connect took, for the FD_CLOSE to come; 0 for none.
void OnConnectOutcome(ReadSide& side, bool made, int fault);

}  // namespace sys::winsock::detail
