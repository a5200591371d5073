// The SOCKS layer of the socket: drives the handshake (TSocksHandshake, which knows the wire
// format) between the connect to the SOCKS server and the owner's OnSessionConnected. Nothing
// is read past an answer, so the bytes that follow the last one reach the owner through the
// ordinary reads.
#include <algorithm>

#include "WSocket.h"
#include "WinsockApi.h"
#include "sys/AsciiText.h"
#include "sys/Assert.h"

using sys::Word;

namespace {

// Answers are at most 4 + 1 + 255 + 2 bytes (SOCKS 5 with a name).
constexpr std::size_t kAnswerPiece = 512;
constexpr const char* kReceiveFailed = "data receive error";
constexpr const char* kClosedDuringHandshake = "connection closed during the SOCKS handshake";

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(sys::TComponent* AOwner) : TCustomWSocket(AOwner) {}

void TCustomSocksWSocket::ResetToDefaults() {
    TCustomWSocket::ResetToDefaults();
    FSocksPhase = TSocksPhase::None;
    FSocks.reset();
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = TSocksLevel::Socks5;
}

// Properties.

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks level if not closed");
    const std::optional<TSocksLevel> Level = ParseSocksLevel(Value);
    if (!Level)
        return ReportError("Invalid socks level. Must be 4, 4A or 5.");
    FSocksLevel = *Level;
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks port if not closed");
    FSocksPort = sys::TrimBlanks(Value, sys::kSpaceAndControls);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks server if not closed");
    FSocksServer = sys::TrimBlanks(Value, sys::kSpaceAndControls);
}

// Connecting.

TSocksRequest TCustomSocksWSocket::SocksRequest() const {
    TSocksRequest Request;
    Request.Level = FSocksLevel;
    Request.Host = FAddr;
    Request.Port = FTargetPort;
    Request.Authenticate = FSocksAuthentication == socksAuthenticateUsercode;
    Request.Usercode = FSocksUsercode;
    Request.Password = FSocksPassword;
    return Request;
}

void TCustomSocksWSocket::Connect() {
    TActiveScope scope(this);
    // Without a server, and for the checks of an unusable socket, the core decides alone.
    if (FSocksServer.empty() || (SocketHandle != INVALID_SOCKET && FState != wsClosed) ||
        !PortAssigned || !AddrAssigned || !ProtoAssigned)
        return TCustomWSocket::Connect();
    if (sys::LowerAscii(sys::TrimBlanks(FProto, sys::kSpaceAndControls)) != "tcp")
        return ReportError("tcp is the only protocol supported thru socks server");
    // What does not fit the wire format is refused before anything is sent, never cut.
    if (const auto Fault = SocksRequestFault(SocksRequest()))
        return ReportError(*Fault);
    if (!ResolveSocksEndpoints())
        return;
    FSocksPhase = TSocksPhase::ServerConnect;
    FSocks.reset();
    FSocksCut = false;
    HandshakeBegins();
    FBoundAddr.clear();
    FBoundPort.clear();
    TCustomWSocket::Connect();
}

// The socket connects to the SOCKS server; the target's port is kept for the request.
bool TCustomSocksWSocket::ResolveSocksEndpoints() {
    try {
        RemoteAddr.sin_port = htons(WSocketResolvePort(FSocksPort, "tcp"));
        RemoteAddr.sin_addr.s_addr = WSocketResolveHost(FSocksServer);
        FTargetPort = WSocketResolvePort(FPort, "tcp");
    } catch (const std::exception& E) {
        ReportError("connect: " + std::string(E.what()));
        return false;
    }
    PortResolved = AddrResolved = true;  // the core must not resolve the target over them
    return true;
}

void TCustomSocksWSocket::DoSessionConnected(Word Error) {
    if (FSocksPhase != TSocksPhase::ServerConnect)
        return TCustomWSocket::DoSessionConnected(Error);
    const SOCKET S = SocketHandle;
    DoSocksConnected(Error);
    if (S != SocketHandle)
        return;
    if (Error != 0) {
        FSocksPhase = TSocksPhase::None;
        return TCustomWSocket::DoSessionConnected(Error);
    }
    StartHandshake();
}

// Plain SOCKS 4 sends the target's address, so the name is resolved here first.
void TCustomSocksWSocket::StartHandshake() {
    TSocksRequest Request = SocksRequest();
    if (Request.Level == TSocksLevel::Socks4) {
        try {
            Request.Address = WSocketResolveHost(FAddr);
        } catch (const std::exception& E) {
            const char* Kind =
                dynamic_cast<const ESocketException*>(&E) ? "ESocketException" : "Exception";
            return SocksFailed(WSOCKS_RESOLVE_FAILED, std::string(Kind) + " " + E.what());
        }
    }
    FSocksPhase = TSocksPhase::Handshake;
    FSocks.emplace(std::move(Request));
    FollowStep(FSocks->Start());
}

// Does what the handshake asked. A handler told of the authentication state may end the
// connection; nothing is sent then.
void TCustomSocksWSocket::FollowStep(const TSocksStep& Step) {
    switch (Step.Action) {
        case TSocksAction::Send:
            if (Step.AuthNote) {
                const SOCKET S = SocketHandle;
                DoSocksAuthState(*Step.AuthNote);
                if (S != SocketHandle || FSocksPhase != TSocksPhase::Handshake)
                    return;
            }
            return SendSocksBytes(Step.Bytes);
        case TSocksAction::NeedMore:
            return;
        case TSocksAction::Done:
            return SocksSucceeded();
        case TSocksAction::Failed:
            return SocksFailed(Step.Error, Step.Text);
    }
}

void TCustomSocksWSocket::SendSocksBytes(const std::string& Bytes) {
    try {
        TCustomWSocket::Send(Bytes.data(), static_cast<int>(Bytes.size()));
    } catch (const std::exception&) {
        // A send that fails closes the connection, which ends the handshake.
    }
}

// Answers.

bool TCustomSocksWSocket::DoDataAvailable(Word Error) {
    if (FSocksPhase == TSocksPhase::None)
        return TCustomWSocket::DoDataAvailable(Error);
    if (Error != 0) {
        SocksFailed(Error, kReceiveFailed);
        return true;
    }
    // Before the connect is told there is nothing to answer yet.
    while (FSocksPhase == TSocksPhase::Handshake && ReadAnswer()) {
    }
    return true;
}

// Reads no more than the answer waited for still lacks, and hands it to the handshake. True
// when the read filled all that was asked and the handshake waits for more: there may be more
// in the network already.
bool TCustomSocksWSocket::ReadAnswer() {
    char Piece[kAnswerPiece];
    const std::size_t Wanted = std::min(FSocks->Wanted(), sizeof Piece);
    const SOCKET S = SocketHandle;
    const int n = TCustomWSocket::RawReceive(Piece, static_cast<int>(Wanted), 0);
    if (n <= 0)
        return false;  // nothing yet, or the close that follows ends the handshake
    const TSocksStep Step = FSocks->Feed(std::string_view(Piece, static_cast<std::size_t>(n)));
    QV_ASSERT(Step.Used == static_cast<std::size_t>(n), "the handshake left part of its answer");
    FollowStep(Step);
    return S == SocketHandle && Step.Action == TSocksAction::NeedMore &&
           static_cast<std::size_t>(n) == Wanted;
}

// The owner sees the connection now (through TLS first, when that is on); the bytes behind the
// answer are still in the network and reach it through the receive loop.
void TCustomSocksWSocket::SocksSucceeded() {
    FSocksPhase = TSocksPhase::None;
    FBoundAddr = FSocks->BoundAddr();
    FBoundPort = FSocks->BoundPort();
    FSocks.reset();
    DoSessionConnected(0);
}

void TCustomSocksWSocket::SocksFailed(int Error, const std::string& Msg) {
    FSocksPhase = TSocksPhase::None;
    FSocks.reset();
    const SOCKET S = SocketHandle;
    DoSocksError(Error, Msg);
    if (S != SocketHandle)
        return;
    FLastError = Error;
    DoSessionConnected(static_cast<Word>(Error));
    if (S == SocketHandle && FState != wsClosed)
        InternalClose(true, static_cast<Word>(Error));
}

// A connection that ends during the handshake fails it first, so that an owner who waits for
// OnSessionConnected hears of it.
void TCustomSocksWSocket::DoSessionClosed(Word Error) {
    const bool Cut = FSocksCut;
    FSocksCut = false;
    if (FSocks ? FSocks->Authenticating() : Cut && FSocksCutAuthenticating)
        DoSocksAuthState(saFailed);
    if (FSocksPhase != TSocksPhase::None || Cut) {
        FSocksPhase = TSocksPhase::None;
        FSocks.reset();
        const Word Failure = Error != 0 ? Error : static_cast<Word>(ws::WSAECONNABORTED);
        DoSocksError(Failure, kClosedDuringHandshake);
        DoSessionConnected(Failure);
    }
    TCustomWSocket::DoSessionClosed(Error);
}

// A send that finds the connection lost closes first and tells OnSessionClosed after, when the
// close has reset the handshake already: remember that one was cut short.
void TCustomSocksWSocket::InternalClose(bool Shut, Word Error) {
    if (FSocksPhase != TSocksPhase::None) {
        FSocksCut = true;
        FSocksCutAuthenticating = FSocks && FSocks->Authenticating();
    }
    TCustomWSocket::InternalClose(Shut, Error);
}

// The handshake's own requests are nobody's business above this layer.
void TCustomSocksWSocket::DoDataSent(Word Error) {
    if (FSocksPhase == TSocksPhase::None)
        TCustomWSocket::DoDataSent(Error);
}

void TCustomSocksWSocket::Listen() {
    if (!FSocksServer.empty())
        return ReportError("Listening is not supported thru socks server");
    TCustomWSocket::Listen();
}

// Event triggers.

void TCustomSocksWSocket::DoSocksConnected(Word Error) {
    OnSocksConnected.Call(this, Error);
}

void TCustomSocksWSocket::DoSocksError(int Error, const std::string& Msg) {
    OnSocksError.Call(this, Error, Msg);
}

void TCustomSocksWSocket::DoSocksAuthState(TSocksAuthState AuthState) {
    OnSocksAuthState.Call(this, AuthState);
}
