#include "ReadSide.h"

#include <cerrno>

#include "Assert.h"

namespace sys::winsock::detail {

namespace {

[[maybe_unused]] bool Consistent(const ReadSide& side) {
    return side.stream || side.state == ReadState::Waiting || side.state == ReadState::Armed;
}

// Read failures that end the connection, as opposed to would-block or a bad call.
bool ConnectionFault(int readErrno) {
    return readErrno == ECONNRESET || readErrno == ETIMEDOUT || readErrno == EHOSTUNREACH ||
           readErrno == ENETUNREACH || readErrno == ECONNABORTED;
}

ReadStep Post(ReadSide& side, ReadNote note, ReadState next, int error = 0) {
    side.state = next;
    return {note, error};
}

// A look that found no data: FD_CLOSE when it found the end or any fault, else the side stays
// in `unchanged`. The peek has already taken a pending socket error, so that comes first.
ReadStep TellEnd(ReadSide& side, const Readiness& seen, ReadProbe& probe, Peeked peeked,
                 int peekErr, ReadState unchanged) {
    int err = peekErr;
    if (err == 0 && seen.error)
        err = probe.PendingError();
    if (err == 0)
        err = side.fault;
    if (peeked == Peeked::End || err != 0)
        return Post(side, ReadNote::Close, ReadState::Closed, err);
    side.state = unchanged;
    return {};
}

// FD_READ is permitted. Readable without a hang-up or an error is data, or the peer's end, or
// both: FD_READ goes out without a peek, and the owner's reads tell the rest. Only a hang-up or
// an error needs the peek that tells data from the end.
ReadStep LookArmed(ReadSide& side, const Readiness& seen, ReadProbe& probe) {
    const bool trouble = seen.hangUp || seen.error;
    if (side.state == ReadState::Drained && !trouble)
        return Post(side, ReadNote::Close, ReadState::Closed, side.fault);
    const bool cleanEnd = !trouble && (seen.peerEnd || side.state != ReadState::Armed);
    const ReadState told = cleanEnd ? ReadState::EndUnread : ReadState::Waiting;
    if (seen.readable && !trouble)
        return Post(side, ReadNote::Read, told);
    int peekErr = 0;
    const Peeked peeked = probe.Peek(peekErr);
    if (peeked == Peeked::Data)
        return Post(side, ReadNote::Read, told);
    return TellEnd(side, seen, probe, peeked, peekErr,
                   cleanEnd ? ReadState::ArmedAtEnd : ReadState::Armed);
}

// FD_READ went out with the end there too, and the owner has not read since: the end is told
// now unless data waits for the owner's next read.
ReadStep LookAtUnreadEnd(ReadSide& side, const Readiness& seen, ReadProbe& probe) {
    const bool trouble = seen.hangUp || seen.error;
    const ReadState waiting = trouble ? ReadState::Waiting : ReadState::WaitingAtEnd;
    int peekErr = 0;
    const Peeked peeked = probe.Peek(peekErr);
    if (peeked == Peeked::Data)
        return Post(side, ReadNote::None, waiting);
    return TellEnd(side, seen, probe, peeked, peekErr, waiting);
}

ReadStep DatagramReadiness(ReadSide& side, const Readiness& seen) {
    const bool any = seen.readable || seen.peerEnd || seen.hangUp || seen.error;
    if (side.state == ReadState::Armed && any)
        return Post(side, ReadNote::Read, ReadState::Waiting);
    return {};
}

}  // namespace

bool ReadPermitted(ReadState state) {
    return state == ReadState::Armed || state == ReadState::ArmedAtEnd ||
           state == ReadState::Drained;
}

ReadStep OnReadiness(ReadSide& side, const Readiness& seen, ReadProbe& probe) {
    QV_ASSERT(Consistent(side), "a datagram socket's read side neither waits nor is armed");
    if (!side.stream)
        return DatagramReadiness(side, seen);
    const bool trouble = seen.hangUp || seen.error;
    switch (side.state) {
        case ReadState::Waiting:
            if (seen.peerEnd && !trouble)
                side.state = ReadState::WaitingAtEnd;
            return {};
        case ReadState::WaitingAtEnd:
            if (trouble)
                side.state = ReadState::Waiting;
            return {};
        case ReadState::EndUnread:
            return seen.peerEnd || trouble ? LookAtUnreadEnd(side, seen, probe) : ReadStep{};
        case ReadState::Armed:
        case ReadState::ArmedAtEnd:
        case ReadState::Drained:
            return seen.readable || seen.peerEnd || trouble ? LookArmed(side, seen, probe)
                                                            : ReadStep{};
        case ReadState::Closed:
            return {};
    }
    return {};
}

// Once the peer's end has come cleanly, no data can follow what is there: a stream read that
// came back short has taken the last of it, so the watch's next look tells FD_CLOSE without
// asking the socket. The look rather than a message posted now, since the owner mostly closes
// the socket right after such a read.
bool OnRead(ReadSide& side, int readErrno, bool shortRead) {
    QV_ASSERT(Consistent(side), "a datagram socket's read side neither waits nor is armed");
    const bool wasPermitted = ReadPermitted(side.state);
    if (!side.stream) {
        side.state = ReadState::Armed;
        return !wasPermitted;
    }
    if (ConnectionFault(readErrno) && side.fault == 0)
        side.fault = readErrno;
    switch (side.state) {
        case ReadState::Waiting:
            side.state = ReadState::Armed;
            break;
        case ReadState::WaitingAtEnd:
        case ReadState::EndUnread:
        case ReadState::ArmedAtEnd:
            side.state = shortRead ? ReadState::Drained : ReadState::ArmedAtEnd;
            break;
        case ReadState::Armed:
        case ReadState::Drained:
        case ReadState::Closed:
            break;
    }
    return ReadPermitted(side.state) && !wasPermitted;
}

void OnSelect(ReadSide& side) {
    QV_ASSERT(Consistent(side), "a datagram socket's read side neither waits nor is armed");
    if (side.state == ReadState::Waiting)
        side.state = ReadState::Armed;
    else if (side.state == ReadState::WaitingAtEnd || side.state == ReadState::EndUnread)
        side.state = ReadState::ArmedAtEnd;
}

void OnConnectOutcome(ReadSide& side, bool made, int fault) {
    QV_ASSERT(side.stream, "only a stream socket's connect has an outcome to tell");
    QV_ASSERT(side.state == ReadState::Waiting || side.state == ReadState::Armed,
              "a connecting socket has seen nothing of its peer's data");
    if (fault != 0)
        side.fault = fault;
    side.state = made ? ReadState::Armed : ReadState::Waiting;
}

}  // namespace sys::winsock::detail
