#include "sys/ReadSide.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace sys::winsock::detail;
using S = ReadState;

namespace {

// Answers as configured and counts the questions: each is a system call the socket would make.
class FakeProbe final : public ReadProbe {
  public:
    FakeProbe(Peeked peeked, int peekErr, int pending)
        : peeked_(peeked), peekErr_(peekErr), pending_(pending) {}
    Peeked Peek(int& err) override {
        ++peeks;
        err = peekErr_;
        return peeked_;
    }
    int PendingError() override {
        ++pendingAsks;
        return pending_;
    }
    int peeks = 0;
    int pendingAsks = 0;

  private:
    Peeked peeked_;
    int peekErr_;
    int pending_;
};

enum class Kind { Look, Read, Select, Connect };

struct Input {
    Kind kind;
    Readiness seen{};
    int readErrno = 0;
    bool shortRead = false;
    bool made = false;
    int connectFault = 0;
};

Input Look(bool readable, bool peerEnd, bool hangUp = false, bool error = false) {
    return {Kind::Look, {readable, peerEnd, hangUp, error}};
}
const Input kData = Look(true, false);
const Input kDataAndEnd = Look(true, true);
const Input kEndAlone = Look(false, true);
const Input kHangUp = Look(true, true, true);
const Input kError = Look(true, false, false, true);
const Input kWritableOnly = Look(false, false);
Input Read(int readErrno, bool shortRead) {
    return {Kind::Read, {}, readErrno, shortRead};
}
const Input kFullRead = Read(0, false);
const Input kShortRead = Read(0, true);
const Input kSelect{Kind::Select};
Input Connect(bool made, int fault = 0) {
    return {Kind::Connect, {}, 0, false, made, fault};
}

// What the socket says when it is asked.
struct Socket {
    Peeked peeked = Peeked::Nothing;
    int peekErr = 0;
    int pending = 0;
};
const Socket kHasData{Peeked::Data};
const Socket kAtEnd{Peeked::End};
const Socket kEmpty{Peeked::Nothing};

struct Row {
    const char* name;
    ReadState from;
    Input input;
    Socket socket;
    ReadNote note;
    ReadState to;
    int peeks = 0;
    int error = 0;        // of the FD_CLOSE posted
    int faultBefore = 0;  // kept from an earlier read or the connect
    int faultAfter = 0;
    bool stream = true;
    bool rearmed = false;  // a read made FD_READ permitted again
};

constexpr ReadNote kNone = ReadNote::None;
constexpr ReadNote kRead = ReadNote::Read;
constexpr ReadNote kClose = ReadNote::Close;

const Row kRows[] = {
    // The watch looks while FD_READ is permitted.
    {"data alone needs no peek", S::Armed, kData, kHasData, kRead, S::Waiting},
    {"data with the end needs no peek", S::Armed, kDataAndEnd, kHasData, kRead, S::EndUnread},
    {"the end alone is peeked: data before it", S::Armed, kEndAlone, kHasData, kRead, S::EndUnread,
     1},
    {"the end alone is peeked: nothing before it", S::Armed, kEndAlone, kAtEnd, kClose, S::Closed,
     1},
    {"a hang-up is peeked: data first", S::Armed, kHangUp, kHasData, kRead, S::Waiting, 1},
    {"a hang-up is peeked: the end", S::Armed, kHangUp, kAtEnd, kClose, S::Closed, 1},
    {"a hang-up after a reset a read took", S::Armed, kHangUp, kAtEnd, kClose, S::Closed, 1,
     ECONNRESET, ECONNRESET, ECONNRESET},
    {"the peek's error comes first",
     S::Armed,
     kError,
     {Peeked::End, ECONNRESET, ETIMEDOUT},
     kClose,
     S::Closed,
     1,
     ECONNRESET},
    {"an error the peek did not take is asked for",
     S::Armed,
     kError,
     {Peeked::Nothing, 0, ETIMEDOUT},
     kClose,
     S::Closed,
     1,
     ETIMEDOUT},
    {"a hang-up with nothing there yet", S::Armed, kHangUp, kEmpty, kNone, S::Armed, 1},
    {"a clean end with nothing there yet", S::Armed, kEndAlone, kEmpty, kNone, S::ArmedAtEnd, 1},
    {"armed at the end, data needs no peek", S::ArmedAtEnd, kData, kHasData, kRead, S::EndUnread},
    {"armed at the end, a hang-up makes it unclean", S::ArmedAtEnd, kHangUp, kHasData, kRead,
     S::Waiting, 1},
    {"writable only leaves the read side alone", S::Armed, kWritableOnly, kHasData, kNone,
     S::Armed},
    {"drained: the close needs no peek", S::Drained, kDataAndEnd, kHasData, kClose, S::Closed},
    {"drained: the close carries a reset a read took", S::Drained, kDataAndEnd, kHasData, kClose,
     S::Closed, 0, ECONNRESET, ECONNRESET, ECONNRESET},
    {"drained, then a hang-up: the peek tells", S::Drained, kHangUp, kAtEnd, kClose, S::Closed, 1},
    // FD_READ went out with the end there and the owner has not read.
    {"unread end: the next look tells the close", S::EndUnread, kDataAndEnd, kAtEnd, kClose,
     S::Closed, 1},
    {"unread end: data still waits for the owner", S::EndUnread, kDataAndEnd, kHasData, kNone,
     S::WaitingAtEnd, 1},
    {"unread end: a hang-up with data waiting", S::EndUnread, kHangUp, kHasData, kNone, S::Waiting,
     1},
    {"unread end: a hang-up carries its error",
     S::EndUnread,
     Look(false, false, true, true),
     {Peeked::Nothing, 0, ECONNRESET},
     kClose,
     S::Closed,
     1,
     ECONNRESET},
    {"unread end: readable alone is no look at the end", S::EndUnread, kData, kAtEnd, kNone,
     S::EndUnread},
    // FD_READ not permitted: only what the watch learns of the end is kept.
    {"waiting: the clean end is noted", S::Waiting, kDataAndEnd, kAtEnd, kNone, S::WaitingAtEnd},
    {"waiting: data waits for the read", S::Waiting, kData, kHasData, kNone, S::Waiting},
    {"waiting: a hang-up is no clean end", S::Waiting, kHangUp, kAtEnd, kNone, S::Waiting},
    {"waiting at the end: a hang-up makes it unclean", S::WaitingAtEnd, kHangUp, kAtEnd, kNone,
     S::Waiting},
    {"closed: told once", S::Closed, kHangUp, kAtEnd, kNone, S::Closed},

    // The owner reads.
    {"a read permits FD_READ again", S::Waiting, kFullRead, kHasData, kNone, S::Armed, 0, 0, 0, 0,
     true, true},
    {"a short read before the end is no end", S::Waiting, kShortRead, kHasData, kNone, S::Armed, 0,
     0, 0, 0, true, true},
    {"a full read after the end", S::WaitingAtEnd, kFullRead, kHasData, kNone, S::ArmedAtEnd, 0, 0,
     0, 0, true, true},
    {"a short read after the end took the last data", S::WaitingAtEnd, kShortRead, kHasData, kNone,
     S::Drained, 0, 0, 0, 0, true, true},
    {"a short read after an unread end", S::EndUnread, kShortRead, kHasData, kNone, S::Drained, 0,
     0, 0, 0, true, true},
    {"a full read after an unread end", S::EndUnread, kFullRead, kHasData, kNone, S::ArmedAtEnd, 0,
     0, 0, 0, true, true},
    {"a short read while armed at the end", S::ArmedAtEnd, kShortRead, kHasData, kNone, S::Drained},
    {"a read while armed changes nothing", S::Armed, kShortRead, kHasData, kNone, S::Armed},
    {"a reset a read meets is kept for the close", S::Waiting, Read(ECONNRESET, false), kAtEnd,
     kNone, S::Armed, 0, 0, 0, ECONNRESET, true, true},
    {"would-block is no fault", S::Waiting, Read(EAGAIN, false), kEmpty, kNone, S::Armed, 0, 0, 0,
     0, true, true},
    {"the first fault is kept", S::Armed, Read(ECONNRESET, false), kAtEnd, kNone, S::Armed, 0, 0,
     ETIMEDOUT, ETIMEDOUT},
    {"drained stays drained", S::Drained, kFullRead, kAtEnd, kNone, S::Drained},
    {"closed stays closed", S::Closed, kShortRead, kAtEnd, kNone, S::Closed},

    // A new selection, and the connect's outcome.
    {"a selection permits FD_READ", S::Waiting, kSelect, kHasData, kNone, S::Armed},
    {"a selection keeps the clean end", S::WaitingAtEnd, kSelect, kHasData, kNone, S::ArmedAtEnd},
    {"a selection after an unread end", S::EndUnread, kSelect, kHasData, kNone, S::ArmedAtEnd},
    {"a selection keeps the drained side", S::Drained, kSelect, kAtEnd, kNone, S::Drained},
    {"a selection does not reopen a closed side", S::Closed, kSelect, kAtEnd, kNone, S::Closed},
    {"a connection made permits FD_READ", S::Waiting, Connect(true), kEmpty, kNone, S::Armed},
    {"a failed connect permits nothing", S::Armed, Connect(false), kEmpty, kNone, S::Waiting},
    {"a reset on completing the connect is kept", S::Armed, Connect(true, ECONNRESET), kEmpty,
     kNone, S::Armed, 0, 0, 0, ECONNRESET},

    // Datagram sockets: readable is data, never the end.
    {"datagram: any readiness is FD_READ, unpeeked", S::Armed, kHangUp, kAtEnd, kRead, S::Waiting,
     0, 0, 0, 0, false},
    {"datagram: waiting", S::Waiting, kData, kHasData, kNone, S::Waiting, 0, 0, 0, 0, false},
    {"datagram: a read re-arms, a short one is no end", S::Waiting, Read(ECONNRESET, true),
     kHasData, kNone, S::Armed, 0, 0, 0, 0, false, true},
    {"datagram: a selection arms", S::Waiting, kSelect, kHasData, kNone, S::Armed, 0, 0, 0, 0,
     false},
};

ReadStep Apply(ReadSide& side, const Input& input, ReadProbe& probe, bool& rearmed) {
    rearmed = false;
    switch (input.kind) {
        case Kind::Look:
            return OnReadiness(side, input.seen, probe);
        case Kind::Read:
            rearmed = OnRead(side, input.readErrno, input.shortRead);
            return {};
        case Kind::Select:
            OnSelect(side);
            return {};
        case Kind::Connect:
            OnConnectOutcome(side, input.made, input.connectFault);
            return {};
    }
    return {};
}

}  // namespace

// Every (state, input) that matters, with the notification it posts, the state it leads to and
// how often it asks the socket: the peeks spared are part of the behaviour.
TEST(ReadSide, EachInputInEachStatePostsAndMovesAsTheTableSays) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        ReadSide side{row.from, row.stream, row.faultBefore};
        FakeProbe probe(row.socket.peeked, row.socket.peekErr, row.socket.pending);
        bool rearmed = false;
        const ReadStep step = Apply(side, row.input, probe, rearmed);
        EXPECT_EQ(step.note, row.note);
        EXPECT_EQ(step.error, row.error);
        EXPECT_EQ(side.state, row.to);
        EXPECT_EQ(probe.peeks, row.peeks);
        EXPECT_EQ(side.fault, row.faultAfter);
        EXPECT_EQ(rearmed, row.rearmed);
        EXPECT_LE(probe.pendingAsks, row.input.seen.error ? 1 : 0);
    }
}

TEST(ReadSide, TheWatchAsksForReadingExactlyWhileFdReadIsPermitted) {
    const std::pair<ReadState, bool> cases[] = {
        {S::Waiting, false},   {S::WaitingAtEnd, false}, {S::EndUnread, false}, {S::Armed, true},
        {S::ArmedAtEnd, true}, {S::Drained, true},       {S::Closed, false},
    };
    for (auto [state, permitted] : cases)
        EXPECT_EQ(ReadPermitted(state), permitted) << static_cast<int>(state);
}

// A connection's life as the socket layer drives it: the peer's answer and its end come
// together, the owner's reads take it, and the close is told once, without a single peek.
TEST(ReadSide, AnAnswerAndTheEndTogetherAreToldWithoutAPeek) {
    ReadSide side;
    FakeProbe probe(Peeked::End, 0, 0);
    OnSelect(side);
    OnConnectOutcome(side, true, 0);
    EXPECT_EQ(OnReadiness(side, kDataAndEnd.seen, probe).note, ReadNote::Read);
    EXPECT_TRUE(OnRead(side, 0, false));  // a full read: more may be there
    EXPECT_EQ(OnReadiness(side, kDataAndEnd.seen, probe).note, ReadNote::Read);
    EXPECT_TRUE(OnRead(side, 0, true));  // short: the last of it
    EXPECT_EQ(OnReadiness(side, kDataAndEnd.seen, probe).note, ReadNote::Close);
    EXPECT_EQ(OnReadiness(side, kHangUp.seen, probe).note, ReadNote::None);
    EXPECT_EQ(probe.peeks, 0);
}
