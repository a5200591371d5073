// A stream connect tries the addresses of its target in turn: the next attempt starts when the
// current one is refused or unreachable, or when it has not answered within FallbackDelayMs;
// an earlier attempt that is still running goes on beside the new one, and the first that
// connects wins. Only the outcome of the whole connect reaches OnSessionConnected.
#include <algorithm>
#include <cstring>

#include "WSocket.h"
#include "WinsockApi.h"
#include "sys/Poller.h"

using sys::Word;

namespace {

constexpr long kConnectEvents =
    ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CONNECT | ws::FD_CLOSE;

int SockAddrLength(const sockaddr_storage& A) {
    return A.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

}  // namespace

sockaddr_storage TCustomWSocket::TargetWithPort(const sockaddr_storage& Target) const {
    sockaddr_storage A = Target;
    // The port lies at the same place in both families' records.
    reinterpret_cast<sockaddr_in&>(A).sin_port = htons(PortNumber);
    return A;
}

void TCustomWSocket::StartAttempts() {
    ConnectTargets.clear();
    if (ResolvedTargets.empty()) {
        sockaddr_storage A{};
        std::memcpy(&A, &RemoteAddr, sizeof RemoteAddr);
        ConnectTargets.push_back(A);
    } else {
        for (const auto& T : ResolvedTargets)
            ConnectTargets.push_back(TargetWithPort(T));
    }
    NextTarget = 0;
    ConnectNextTarget();
}

// The options and notifications of a new attempt's socket; false after a reported failure.
bool TCustomWSocket::PrepareAttemptSocket() {
    const int On = -1;
    if (SocketType == SOCK_DGRAM) {
        BindLocalAddress();
        if (RemoteAddr.sin_addr.s_addr == INADDR_BROADCAST &&
            Winsock().setsockopt(SocketHandle, SOL_SOCKET, SO_BROADCAST, &On, sizeof On) ==
                ws::SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_BROADCAST)");
            return false;
        }
    } else {
        const bool Bound = LocalPortNumber != 0 || FLocalAddr != "0.0.0.0";
        if (Bound)
            BindLocalAddress();
        ApplyLinger();
        if (Winsock().setsockopt(SocketHandle, SOL_SOCKET, SO_KEEPALIVE, &On, sizeof On) ==
            ws::SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_KEEPALIVE)");
            return false;
        }
        if (FComponentOptions.Contains(wsoAckWithFirstData))
            DelayHandshakeAck();
        // The option matters only for a socket bound to a local address; connect chooses the
        // port of an unbound one without looking at it, so the call would be wasted there.
        if (Bound && Winsock().setsockopt(SocketHandle, SOL_SOCKET, SO_REUSEADDR, &On, sizeof On) ==
                         ws::SOCKET_ERROR) {
            ReportSocketError("setsockopt(SO_REUSEADDR)");
            return false;
        }
    }
    SelectEvents = kConnectEvents;
    if (Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, WM_SOCKET_SELECT, SelectEvents) ==
        ws::SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect");
        return false;
    }
    return true;
}

void TCustomWSocket::ConnectNextTarget() {
    const sockaddr_storage Target = ConnectTargets[NextTarget++];
    const bool First = FState == wsClosed;
    const bool Others = NextTarget < ConnectTargets.size() || !EarlierAttempts.empty();
    // Non-blocking from the start, as WSAAsyncSelect would make it anyway.
    SocketHandle = Winsock().socket(Target.ss_family, SocketType | SOCK_NONBLOCK, ProtoNumber);
    if (SocketHandle == INVALID_SOCKET) {
        // A family this machine lacks, say: the other addresses may still do.
        if (SocketType == SOCK_STREAM && Others)
            return void(TryOtherAttempt());
        if (First)
            return ReportSocketError("Connect (socket)");
        return EndConnectWithError(static_cast<Word>(Winsock().WSAGetLastError()));
    }
    if (First) {
        CloseInvoked = false;  // a new connection, also when opened from OnSessionClosed
        ChangeState(wsOpened);
    }
    if (!PrepareAttemptSocket())
        return;
    if (SocketType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        DoSessionConnected(0);
        return;
    }
    if (Winsock().connect(SocketHandle, reinterpret_cast<const sockaddr*>(&Target),
                          SockAddrLength(Target)) == 0 ||
        Winsock().WSAGetLastError() == ws::WSAEWOULDBLOCK) {
        if (FState != wsConnecting)
            ChangeState(wsConnecting);  // FD_CONNECT brings the outcome
        if (NextTarget < ConnectTargets.size())
            sys::SetTimer(WindowHandle, FallbackTimerId, FallbackDelayMs);
        return;
    }
    FLastError = Winsock().WSAGetLastError();
    if (TryOtherAttempt())
        return;
    if (First || FState == wsOpened)
        return ReportSocketError("Connect");
    EndConnectWithError(static_cast<Word>(FLastError));
}

// The current attempt has failed: its socket goes, and the next address is tried, or an earlier
// attempt that still runs becomes the current one. False when neither is left.
bool TCustomWSocket::TryOtherAttempt() {
    if (SocketType != SOCK_STREAM ||
        (NextTarget >= ConnectTargets.size() && EarlierAttempts.empty()))
        return false;
    if (SocketHandle != INVALID_SOCKET)
        Winsock().closesocket(SocketHandle);
    SocketHandle = INVALID_SOCKET;
    if (NextTarget < ConnectTargets.size()) {
        sys::KillTimer(WindowHandle, FallbackTimerId);
        ConnectNextTarget();
    } else {
        SocketHandle = EarlierAttempts.back();
        EarlierAttempts.pop_back();
    }
    return true;
}

// The outcome of an attempt that a later one has taken over from: a success wins the connect,
// a failure just ends that attempt.
void TCustomWSocket::EarlierAttemptEvent(SOCKET S, long Events, Word Err) {
    if (!(Events & ws::FD_CONNECT))
        return;
    EarlierAttempts.erase(std::find(EarlierAttempts.begin(), EarlierAttempts.end(), S));
    if (Err != 0) {
        Winsock().closesocket(S);
        return;
    }
    if (SocketHandle != INVALID_SOCKET)
        Winsock().closesocket(SocketHandle);
    SocketHandle = S;
    NetworkEvent(S, Events, Err);
}

void TCustomWSocket::FallbackDue() {
    sys::KillTimer(WindowHandle, FallbackTimerId);
    if (FState != wsConnecting || SocketHandle == INVALID_SOCKET ||
        NextTarget >= ConnectTargets.size())
        return;
    EarlierAttempts.push_back(SocketHandle);
    SocketHandle = INVALID_SOCKET;
    ConnectNextTarget();
}

// The connect has an outcome, or the socket closes: the other attempts and the timer go.
void TCustomWSocket::EndAttempts() {
    sys::KillTimer(WindowHandle, FallbackTimerId);
    for (SOCKET S : EarlierAttempts)
        Winsock().closesocket(S);
    EarlierAttempts.clear();
    NextTarget = ConnectTargets.size();
}

// A later attempt could not even start and no other runs: the connect fails as a refused one
// does.
void TCustomWSocket::EndConnectWithError(Word Err) {
    EndAttempts();
    ChangeState(wsConnected);
    DoSessionConnected(Err);
    if (FState != wsClosed)
        Close();
}
