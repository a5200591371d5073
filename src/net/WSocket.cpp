// The socket core: creation and destruction, the hidden window and its messages, the network
// event handler, the state machine, closing and error reporting.
#include "WSocket.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "WinsockApi.h"
#include "sys/Application.h"
#include "sys/Assert.h"

using sys::Word;

TCustomWSocket::TActiveScope::TActiveScope(TCustomWSocket* Socket) : socket_(Socket) {
    ++socket_->ActiveCalls;
}

TCustomWSocket::TActiveScope::~TActiveScope() {
    QV_ASSERT(socket_->ActiveCalls > 0, "an active scope left that was never entered");
    if (--socket_->ActiveCalls == 0 && socket_->FreePending) {
        socket_->FreePending = false;  // the destructor's own calls must not delete it again
        delete socket_;
    }
}

bool IsTlsError(int ErrCode) {
    return ErrCode >= WSOCKET_TLS_HANDSHAKE && ErrCode <= WSOCKET_TLS_PROTOCOL;
}

std::string SocketErrorText(int ErrCode) {
    switch (ErrCode) {
        case WSOCKET_TLS_HANDSHAKE:
            return "TLS: handshake failed";
        case WSOCKET_TLS_CERTIFICATE:
            return "TLS: certificate not accepted";
        case WSOCKET_TLS_PROTOCOL:
            return "TLS: connection failed";
        default:
            return IsSocksError(ErrCode) ? SocksErrorText(ErrCode) : ws::ErrorText(ErrCode);
    }
}

TCustomWSocket::TCustomWSocket(sys::TComponent* AOwner) : sys::TComponent(AOwner) {
    WindowHandle = sys::AllocateHWnd([this](sys::TMessage& M) { WndProc(M); });
    TCustomWSocket::ResetToDefaults();
    WSocketInstanceCreated();
}

TCustomWSocket::~TCustomWSocket() {
    MarkDestroying();
    // The handlers usually belong to an owner that is itself being destroyed right now, so
    // the close below raises no events at all.
    OnSessionAvailable = nullptr;
    OnSessionConnected = nullptr;
    OnSessionClosed = nullptr;
    OnChangeState = nullptr;
    OnDataAvailable = nullptr;
    OnDataSent = nullptr;
    OnSendData = nullptr;
    OnLineTooLong = nullptr;
    OnDnsLookupDone = nullptr;
    OnError = nullptr;
    OnBgException = nullptr;
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    try {
        if (FState != wsClosed)
            Close();
    } catch (...) {
    }
    // A close that failed its report still must not leave the descriptor behind.
    if (SocketHandle != INVALID_SOCKET && WSocketLayerStarted())
        Winsock().closesocket(SocketHandle);
    SocketHandle = INVALID_SOCKET;
    WSocketInstanceDestroyed();
    ClearSendBuffers();
    FDnsResultList.clear();
    sys::DeallocateHWnd(WindowHandle);
    WindowHandle = 0;
}

void TCustomWSocket::WndProc(sys::TMessage& MsgRec) {
    TActiveScope scope(this);
    try {
        switch (MsgRec.Msg) {
            case WM_SOCKET_SELECT:
                NetworkEvent(MsgRec.WParam, ws::WSAGETSELECTEVENT(MsgRec.LParam),
                             static_cast<Word>(ws::WSAGETSELECTERROR(MsgRec.LParam)));
                break;
            case WM_SOCKET_HOSTBYNAME:
                HostByNameDone(MsgRec.WParam,
                               static_cast<Word>(ws::WSAGETASYNCERROR(MsgRec.LParam)));
                break;
            case WM_SOCKET_HOSTBYADDR:
                HostByAddrDone(MsgRec.WParam,
                               static_cast<Word>(ws::WSAGETASYNCERROR(MsgRec.LParam)));
                break;
            case WM_SOCKET_CLOSE_DEFERRED:
                Close();
                break;
            case WM_SOCKET_FREE_DEFERRED:
                FreePending = true;  // the scope destroys the socket once nothing of it runs
                break;
            case sys::WM_TIMER:
                if (MsgRec.WParam == FallbackTimerId)
                    FallbackDue();
                break;
            case WM_SOCKET_TEST_EXCEPTION:
                throw ESocketException("Test exception in WSocket");
            default:
                MsgRec.Result =
                    sys::DefWindowProc(WindowHandle, MsgRec.Msg, MsgRec.WParam, MsgRec.LParam);
        }
    } catch (const std::exception& E) {
        HandleBgException(E);
    }
}

void TCustomWSocket::NetworkEvent(SOCKET S, long Events, Word Err) {
    if (S != SocketHandle || S == INVALID_SOCKET) {
        if (S != INVALID_SOCKET && std::count(EarlierAttempts.begin(), EarlierAttempts.end(), S))
            EarlierAttemptEvent(S, Events, Err);
        return;
    }
    if (FPaused) {
        HoldBackWhilePaused(Events, Err);
        return;
    }
    // After each step a handler may have closed the socket (or opened a new one): the
    // remaining bits belong to a connection that is gone then.
    if (Events & ws::FD_CONNECT) {
        if (Err != 0 && TryOtherAttempt())
            return;  // the rest belongs to the failed attempt
        EndAttempts();
        ChangeState(wsConnected);
        DoSessionConnected(Err);
        if (Err != 0 && S == SocketHandle && FState != wsClosed)
            Close();
        if (S != SocketHandle)
            return;
    }
    if (Events & ws::FD_READ) {
        ReceiveLoop(Err);
        if (S != SocketHandle)
            return;
    }
    if (Events & ws::FD_WRITE) {
        TryToSend();
        if (S == SocketHandle && FAllSent)
            DoDataSent(Err);
        if (S != SocketHandle)
            return;
    }
    if (Events & ws::FD_ACCEPT) {
        DoSessionAvailable(Err);
        if (S != SocketHandle)
            return;
    }
    if ((Events & ws::FD_CLOSE) && FState != wsConnecting) {
        ReceiveLoop(0);  // what is still buffered comes first
        if (S != SocketHandle)
            return;
        if (!CloseInvoked) {
            CloseInvoked = true;
            DoSessionClosed(Err);
        }
        if (S == SocketHandle && FState != wsClosed)
            Close();
    }
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
    TSocketState OldState = FState;
    FState = NewState;
    DoChangeState(OldState, NewState);
}

void TCustomWSocket::Close() {
    TActiveScope scope(this);
    InternalClose(true, 0);
}

void TCustomWSocket::CloseDeferred() {
    sys::PostMessage(WindowHandle, WM_SOCKET_CLOSE_DEFERRED, 0, 0);
}

void TCustomWSocket::FreeDeferred() {
    sys::PostMessage(WindowHandle, WM_SOCKET_FREE_DEFERRED, 0, 0);
}

void TCustomWSocket::InternalClose(bool Shut, Word Error) {
    // Nothing sets wsInvalidState: a close that meets it (or no state at all) works on a broken
    // or freed socket.
    QV_ASSERT(FState > wsInvalidState && FState <= wsClosed, "close of a socket in no valid state");
    EndAttempts();
    if (SocketHandle == INVALID_SOCKET) {
        if (FState != wsClosed) {
            ChangeState(wsClosed);
            ResetToDefaults();
        }
        return;
    }
    if (FState == wsClosed)
        return;
    // A graceful close (Shut) needs no shutdown first: closing the last reference sends the FIN
    // behind whatever is still queued, and the layer's descriptors are close-on-exec and never
    // duplicated, so this close is the last one. Abort turns it into a reset through the linger.
    static_cast<void>(Shut);
    SOCKET Old = SocketHandle;
    SocketHandle = INVALID_SOCKET;  // notifications for the old handle are ignored from now on
    if (Winsock().closesocket(Old) == ws::SOCKET_ERROR) {
        FLastError = Winsock().WSAGetLastError();
        // The descriptor is released even when the call reports a failure, so there is nothing
        // to try again; a layer that is not started any more has nothing to close either.
        if (FLastError != ws::WSAEWOULDBLOCK && FLastError != ws::WSANOTINITIALISED) {
            ReportSocketError("Disconnect (closesocket)");
            return;
        }
    }
    ChangeState(wsClosed);
    if (!IsDestroying() && !CloseInvoked) {
        CloseInvoked = true;
        DoSessionClosed(Error);
    }
    // A handler that opened a new connection from OnSessionClosed keeps it.
    if (SocketHandle != INVALID_SOCKET || FState != wsClosed)
        return;
    try {
        ResetToDefaults();
    } catch (...) {
    }
}

void TCustomWSocket::Abort() {
    TActiveScope scope(this);
    CancelDnsLookup();
    ClearSendBuffers();
    if (FState == wsConnected && ProtoNumber == IPPROTO_TCP) {
        FLingerOnOff = wsLingerOff;
        ApplyLinger();
    }
    InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int How) {
    if (SocketHandle != INVALID_SOCKET)
        Winsock().shutdown(SocketHandle, How);
}

void TCustomWSocket::ApplyLinger() {
    if (FLingerOnOff == wsLingerNoSet)
        return;
    // Linger on with 0 s turns every close into a reset that drops what the peer has not read
    // yet; as a default that would make Close lose data, so only a caller's choice applies it.
    if (!LingerChosen && FLingerOnOff == wsLingerOn && FLingerTimeout == 0)
        return;
    if (SocketHandle == INVALID_SOCKET) {
        ReportError("Cannot set linger option at this time");
        return;
    }
    ws::LINGER li{static_cast<ws::u_short>(FLingerOnOff),
                  static_cast<ws::u_short>(FLingerTimeout & 0xFFFF)};
    if (Winsock().setsockopt(SocketHandle, SOL_SOCKET, SO_LINGER, &li, sizeof li) ==
        ws::SOCKET_ERROR)
        ReportSocketError("setsockopt(SO_LINGER)");
}

void TCustomWSocket::ResetToDefaults() {
    RemoteAddr.sin_family = AF_INET;
    AddressFamily = AF_INET;
    PortAssigned = AddrAssigned = AddrResolved = false;
    ResolvedTargets.clear();
    ConnectTargets.clear();
    NextTarget = 0;
    FAddrAlternatives.clear();
    PortResolved = ProtoResolved = LocalPortResolved = false;
    ProtoAssigned = true;
    ProtoNumber = IPPROTO_TCP;
    // Copies of constant strings, rather than literals, keep GCC 12's -Wrestrict false alarm
    // on short string assignment quiet in optimised builds.
    static const std::string kTcp = "tcp", kAnyPort = "0", kAnyAddr = "0.0.0.0";
    FProto = kTcp;
    SocketType = SOCK_STREAM;
    FLocalPort = kAnyPort;
    FLocalAddr = kAnyAddr;
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    LingerChosen = false;
    SocketHandle = INVALID_SOCKET;
    FState = wsClosed;
    FAllSent = true;
    FPaused = false;
    FReadCount = 0;
    CloseInvoked = false;
    HeldEvents.clear();
    FFlushTimeout = 60;
}

int TCustomWSocket::Pause() {
    FPaused = true;
    return Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, 0, 0);
}

int TCustomWSocket::Resume() {
    FPaused = false;
    int Result =
        Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, WM_SOCKET_SELECT, SelectEvents);
    // Notifications that came while paused and are signalled only once come again now.
    for (const auto& [Events, Err] : HeldEvents)
        sys::PostMessage(WindowHandle, WM_SOCKET_SELECT, static_cast<sys::WPARAM>(SocketHandle),
                         ws::WSAMAKESELECTREPLY(Events, Err));
    HeldEvents.clear();
    return Result;
}

// A new selection signals readiness for reading, writing and accepting again, but a connect's
// outcome and the peer's close only once: those must not be lost to the pause.
void TCustomWSocket::HoldBackWhilePaused(long Events, Word Err) {
    const long OneShot = Events & (ws::FD_CONNECT | ws::FD_CLOSE);
    if (OneShot != 0)
        HeldEvents.emplace_back(OneShot, Err);
}

void TCustomWSocket::PumpMessages() {
    TActiveScope scope(this);
    if (!FMultiThreaded) {
        sys::Application::Instance().ProcessMessages();
        return;
    }
    sys::MSG Msg;
    while (sys::PeekMessage(Msg, 0, 0, 0, sys::PM_REMOVE)) {
        if (Msg.message == sys::WM_QUIT) {
            FTerminated = true;
            continue;
        }
        sys::TranslateMessage(Msg);
        sys::DispatchMessage(Msg);
    }
}

void TCustomWSocket::WaitForMessage() {
    TActiveScope scope(this);
    if (!FMultiThreaded) {
        sys::Application::Instance().HandleMessage();
        return;
    }
    sys::WaitMessage();
    PumpMessages();
}

// Error reporting.

void TCustomWSocket::ReportError(const std::string& Msg) {
    if (OnError) {
        DoError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::ReportErrorFmt(const char* Fmt, ...) {
    char Text[1024];
    va_list Args;
    va_start(Args, Fmt);
    std::vsnprintf(Text, sizeof Text, Fmt, Args);
    va_end(Args);
    ReportError(Text);
}

void TCustomWSocket::ReportSocketError(const std::string& FuncName) {
    int N = Winsock().WSAGetLastError();
    std::string Text =
        "Error " + std::to_string(N) + " in function " + FuncName + "\r\n" + SocketErrorText(N);
    if (N == ws::WSAECONNRESET || N == ws::WSAENOTCONN) {
        Winsock().closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        ChangeState(wsClosed);
    }
    FLastError = N;
    ReportError(Text);
}

void TCustomWSocket::HandleBgException(const std::exception& E) {
    bool CanClose = true;
    if (OnBgException) {
        try {
            OnBgException.Call(this, E, CanClose);
        } catch (...) {
        }
    }
    if (CanClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

// Event triggers. The events keep a handler that is replaced while it runs alive themselves, so
// no copy is made per call.

void TCustomWSocket::DoSessionAvailable(Word Error) {
    OnSessionAvailable.Call(this, Error);
}

void TCustomWSocket::DoSessionConnected(Word Error) {
    OnSessionConnected.Call(this, Error);
}

void TCustomWSocket::DoSessionClosed(Word Error) {
    OnSessionClosed.Call(this, Error);
}

void TCustomWSocket::DoDataSent(Word Error) {
    OnDataSent.Call(this, Error);
}

void TCustomWSocket::DoChangeState(TSocketState OldState, TSocketState NewState) {
    OnChangeState.Call(this, OldState, NewState);
}

void TCustomWSocket::DoDnsLookupDone(Word Error) {
    OnDnsLookupDone.Call(this, Error);
}

void TCustomWSocket::DoError() {
    OnError.Call(this);
}

void TCustomWSocket::DoSendData(int BytesSent) {
    OnSendData.Call(this, BytesSent);
}
