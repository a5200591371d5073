// The SOCKS layer of the socket: the SOCKS 4, 4A and 5 client handshake between the connect to
// the SOCKS server and the owner's OnSessionConnected. Answers are collected in the layer's own
// receive area however the server splits them; nothing is read past an answer except behind a
// SOCKS 5 answer, where the bytes that came along are served first by the next reads.
#include <algorithm>
#include <cstring>

#include "WSocket.h"
#include "WinsockApi.h"
#include "sys/AsciiText.h"

using sys::Word;

namespace {

constexpr unsigned char kSocks4Version = 4;
constexpr unsigned char kSocks5Version = 5;
constexpr unsigned char kUserPassVersion = 1;
constexpr unsigned char kConnectCommand = 1;
constexpr unsigned char kMethodNone = 0;
constexpr unsigned char kMethodUserPass = 2;
constexpr unsigned char kAddressIPv4 = 1;
constexpr unsigned char kAddressName = 3;
constexpr unsigned char kAddressIPv6 = 4;
constexpr unsigned char kSocks4Granted = 90;
constexpr int kSocks4AnswerLength = 8;

std::string Trim(const std::string& S) {
    std::size_t First = 0, Last = S.size();
    while (First < Last && static_cast<unsigned char>(S[First]) <= ' ')
        ++First;
    while (Last > First && static_cast<unsigned char>(S[Last - 1]) <= ' ')
        --Last;
    return S.substr(First, Last - First);
}

struct TSocksReply {
    int Error;
    const char* Text;
};

// SOCKS 5 reply codes 1 to 8.
constexpr TSocksReply kSocks5Replies[] = {
    {WSOCKS_GENERAL_FAILURE, "general SOCKS server failure"},
    {WSOCKS_NOT_ALLOWED, "connection not allowed by ruleset"},
    {WSOCKS_NET_UNREACHABLE, "network unreachable"},
    {WSOCKS_HOST_UNREACHABLE, "host unreachable"},
    {WSOCKS_REFUSED, "connection refused"},
    {WSOCKS_TTL_EXPIRED, "time to live expired"},
    {WSOCKS_BAD_COMMAND, "command not supported"},
    {WSOCKS_BAD_ADDRESS_TYPE, "address type not supported"},
};

std::string Unassigned(int Code) {
    return "unassigned error #" + std::to_string(Code);
}

std::string PortBytes(std::uint16_t NetworkPort) {
    char Bytes[2];
    std::memcpy(Bytes, &NetworkPort, 2);
    return std::string(Bytes, 2);
}

}  // namespace

bool IsSocksError(int ErrCode) {
    return ErrCode >= WSOCKS_LOGIC_ERROR && ErrCode <= WSOCKS_RESOLVE_FAILED &&
           ErrCode != WSOCKS_INTERNAL_ERROR + 1;
}

std::string SocksErrorText(int ErrCode) {
    if (ErrCode >= WSOCKS_GENERAL_FAILURE && ErrCode <= WSOCKS_BAD_ADDRESS_TYPE)
        return std::string("SOCKS: ") + kSocks5Replies[ErrCode - WSOCKS_GENERAL_FAILURE].Text;
    switch (ErrCode) {
        case WSOCKS_LOGIC_ERROR:
            return "SOCKS: unexpected answer";
        case WSOCKS_VERSION_ERROR:
            return "SOCKS: version error";
        case WSOCKS_METHOD_REFUSED:
            return "SOCKS: authentication method not acceptable";
        case WSOCKS_UNASSIGNED:
            return "SOCKS: unassigned error";
        case WSOCKS_INTERNAL_ERROR:
            return "SOCKS: internal error";
        case WSOCKS_AUTH_FAILED:
            return "SOCKS: authentication failed";
        case WSOCKS_REJECTED:
            return "SOCKS: request rejected or failed";
        case WSOCKS_RESOLVE_FAILED:
            return "SOCKS: cannot resolve the host name";
        default:
            return "Not a WinSock error";
    }
}

TCustomSocksWSocket::TCustomSocksWSocket(sys::TComponent* AOwner) : TCustomWSocket(AOwner) {}

void TCustomSocksWSocket::ResetToDefaults() {
    TCustomWSocket::ResetToDefaults();
    FSocksStep = TSocksStep::None;
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel.assign(1, '5');  // not = "5": GCC 12 warns falsely about that at -O2
    FRcvCnt = 0;
    FPendingStart = FPendingCount = 0;
}

// Properties.

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks level if not closed");
    const std::string Level = sys::UpperAscii(Value);
    if (Level != "4" && Level != "4A" && Level != "5")
        return ReportError("Invalid socks level. Must be 4, 4A or 5.");
    FSocksLevel = Level;
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks port if not closed");
    FSocksPort = Trim(Value);
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Can't change socks server if not closed");
    FSocksServer = Trim(Value);
}

// Connecting.

void TCustomSocksWSocket::Connect() {
    TActiveScope scope(this);
    // Without a server, and for the checks of an unusable socket, the core decides alone.
    if (FSocksServer.empty() || (SocketHandle != INVALID_SOCKET && FState != wsClosed) ||
        !PortAssigned || !AddrAssigned || !ProtoAssigned)
        return TCustomWSocket::Connect();
    if (sys::LowerAscii(Trim(FProto)) != "tcp")
        return ReportError("tcp is the only protocol supported thru socks server");
    if (!CheckSocksSettings() || !ResolveSocksEndpoints())
        return;
    FSocksStep = TSocksStep::Greeting;
    ++DeliveryGeneration;
    FRcvCnt = 0;
    FPendingStart = FPendingCount = 0;
    FBoundAddr.clear();
    FBoundPort.clear();
    TCustomWSocket::Connect();
}

// What does not fit the wire format is refused before anything is sent, never cut.
bool TCustomSocksWSocket::CheckSocksSettings() {
    if (FSocksLevel != "4" && FAddr.size() > MaxSocksHostName) {
        ReportError("SOCKS: the host name is longer than 255 bytes");
        return false;
    }
    if (FSocksLevel == "5" && FSocksAuthentication == socksAuthenticateUsercode &&
        FSocksUsercode.size() + FSocksPassword.size() > MaxSocksCredentials) {
        ReportError("SOCKS: user code and password together are longer than 125 bytes");
        return false;
    }
    return true;
}

// The socket connects to the SOCKS server; the target's port is kept for the request.
bool TCustomSocksWSocket::ResolveSocksEndpoints() {
    try {
        RemoteAddr.sin_port = htons(WSocketResolvePort(FSocksPort, "tcp"));
        RemoteAddr.sin_addr.s_addr = WSocketResolveHost(FSocksServer);
        FTargetPort = htons(WSocketResolvePort(FPort, "tcp"));
    } catch (const std::exception& E) {
        ReportError("connect: " + std::string(E.what()));
        return false;
    }
    PortResolved = AddrResolved = true;  // the core must not resolve the target over them
    return true;
}

void TCustomSocksWSocket::DoSessionConnected(Word Error) {
    if (FSocksStep != TSocksStep::Greeting)
        return TCustomWSocket::DoSessionConnected(Error);
    const SOCKET S = SocketHandle;
    DoSocksConnected(Error);
    if (S != SocketHandle)
        return;
    if (Error != 0) {
        FSocksStep = TSocksStep::None;
        return TCustomWSocket::DoSessionConnected(Error);
    }
    if (FSocksLevel == "5")
        SendGreeting();
    else
        SendSocks4Request();
}

void TCustomSocksWSocket::SendSocksBytes(const std::string& Bytes) {
    try {
        TCustomWSocket::Send(Bytes.data(), static_cast<int>(Bytes.size()));
    } catch (const std::exception&) {
        // A send that fails closes the connection, which ends the handshake.
    }
}

void TCustomSocksWSocket::SendGreeting() {
    const unsigned char Method =
        FSocksAuthentication == socksAuthenticateUsercode ? kMethodUserPass : kMethodNone;
    SendSocksBytes({char(kSocks5Version), char(1), char(Method)});
}

void TCustomSocksWSocket::SendUserPassword() {
    const SOCKET S = SocketHandle;
    DoSocksAuthState(saStarting);
    if (S != SocketHandle)
        return;
    FSocksStep = TSocksStep::Authenticating;
    std::string Record(1, char(kUserPassVersion));
    Record += char(FSocksUsercode.size());
    Record += FSocksUsercode;
    Record += char(FSocksPassword.size());
    Record += FSocksPassword;
    SendSocksBytes(Record);
}

void TCustomSocksWSocket::SendSocks5Request() {
    std::string Request = {char(kSocks5Version), char(kConnectCommand), char(0)};
    in6_addr V6;
    if (ParseIPv6Text(FAddr, V6)) {
        // An IPv6 address goes as its 16 bytes: as a name no server would take it.
        Request += char(kAddressIPv6);
        Request.append(reinterpret_cast<const char*>(&V6), sizeof V6);
    } else {
        Request += {char(kAddressName), char(FAddr.size())};
        Request += FAddr;
    }
    Request += PortBytes(FTargetPort);
    FSocksStep = TSocksStep::Connecting;
    SendSocksBytes(Request);
}

void TCustomSocksWSocket::SendSocks4Request() {
    std::string Request = {char(kSocks4Version), char(kConnectCommand)};
    Request += PortBytes(FTargetPort);
    if (FSocksLevel == "4A") {
        Request += std::string("\0\0\0\1", 4);  // 0.0.0.1: the name follows
        Request += FSocksUsercode + '\0' + FAddr + '\0';
    } else {
        in_addr_t Target;
        try {
            Target = WSocketResolveHost(FAddr);
        } catch (const std::exception& E) {
            const char* Kind =
                dynamic_cast<const ESocketException*>(&E) ? "ESocketException" : "Exception";
            return SocksFailed(WSOCKS_RESOLVE_FAILED, std::string(Kind) + " " + E.what());
        }
        Request += std::string(reinterpret_cast<const char*>(&Target), 4);
        Request += FSocksUsercode + '\0';
    }
    FSocksStep = TSocksStep::Connecting;
    SendSocksBytes(Request);
}

// Answers.

bool TCustomSocksWSocket::DoDataAvailable(Word Error) {
    if (FSocksStep == TSocksStep::None)
        return TCustomWSocket::DoDataAvailable(Error);
    if (Error != 0) {
        SocksFailed(Error, "data receive error");
        return true;
    }
    switch (FSocksStep) {
        case TSocksStep::Greeting:
            ReadGreetingAnswer();
            break;
        case TSocksStep::Authenticating:
            ReadAuthAnswer();
            break;
        case TSocksStep::Connecting:
            if (FSocksLevel == "5")
                ReadSocks5Answer();
            else
                ReadSocks4Answer();
            break;
        case TSocksStep::None:
            SocksFailed(WSOCKS_INTERNAL_ERROR, "internal error");
            break;
    }
    return true;
}

// Reads what is there, up to Wanted bytes in the receive area; true when anything came.
bool TCustomSocksWSocket::ReadAnswer(int Wanted) {
    if (FRcvCnt >= Wanted)
        return false;
    const int n = TCustomWSocket::RawReceive(FRcvBuf + FRcvCnt, Wanted - FRcvCnt, 0);
    if (n <= 0)
        return false;  // nothing yet, or the close that follows ends the handshake
    FRcvCnt += n;
    return true;
}

void TCustomSocksWSocket::ReadGreetingAnswer() {
    if (FSocksLevel != "5")
        return SocksFailed(WSOCKS_LOGIC_ERROR, "TWSocket logic error");
    if (!ReadAnswer(2) || FRcvCnt < 2)
        return;
    FRcvCnt = 0;
    if (FRcvBuf[0] != kSocks5Version)
        return SocksFailed(WSOCKS_VERSION_ERROR, "socks version error");
    if (FRcvBuf[1] == kMethodUserPass)
        return SendUserPassword();
    if (FRcvBuf[1] != kMethodNone)
        return SocksFailed(WSOCKS_METHOD_REFUSED, "authentification method not acceptable");
    if (FSocksAuthentication == socksAuthenticateUsercode) {
        const SOCKET S = SocketHandle;
        DoSocksAuthState(saNotRequired);
        if (S != SocketHandle)
            return;
    }
    SendSocks5Request();
}

void TCustomSocksWSocket::ReadAuthAnswer() {
    if (!ReadAnswer(127))
        return;
    if (FRcvBuf[0] != kUserPassVersion)
        return SocksFailed(WSOCKS_VERSION_ERROR, "socks version error");
    if (FRcvCnt > 2)
        return SocksFailed(WSOCKS_LOGIC_ERROR, "too much data availaible");
    if (FRcvCnt < 2)
        return;
    if (FRcvBuf[1] != 0)
        return SocksFailed(WSOCKS_AUTH_FAILED, "socks authentication failed");
    FRcvCnt = 0;
    const SOCKET S = SocketHandle;
    DoSocksAuthState(saSucceeded);
    if (S == SocketHandle)
        SendSocks5Request();
}

void TCustomSocksWSocket::ReadSocks4Answer() {
    // Exactly the answer: whatever follows it belongs to the owner and stays in the network.
    if (!ReadAnswer(kSocks4AnswerLength) || FRcvCnt < kSocks4AnswerLength)
        return;
    if (FRcvBuf[0] != 0)
        return SocksFailed(WSOCKS_VERSION_ERROR, "socks version error");
    switch (const int Code = FRcvBuf[1]) {
        case kSocks4Granted:
            return SocksSucceeded(kSocks4AnswerLength);
        case 91:
            return SocksFailed(WSOCKS_REJECTED, "request rejected or failed");
        case 92:
            return SocksFailed(WSOCKS_REFUSED, "connection refused");
        case 93:
            return SocksFailed(WSOCKS_AUTH_FAILED, "authentification failed");
        default:
            return SocksFailed(WSOCKS_UNASSIGNED, Unassigned(Code));
    }
}

void TCustomSocksWSocket::ReadSocks5Answer() {
    if (!ReadAnswer(static_cast<int>(sizeof FRcvBuf)))
        return;
    if (FRcvBuf[0] != kSocks5Version)
        return SocksFailed(WSOCKS_VERSION_ERROR, "socks version error");
    if (FRcvCnt < 2)
        return;
    if (const int Code = FRcvBuf[1]; Code != 0) {
        if (Code >= 1 && Code <= 8)
            return SocksFailed(kSocks5Replies[Code - 1].Error, kSocks5Replies[Code - 1].Text);
        return SocksFailed(WSOCKS_UNASSIGNED, Unassigned(Code));
    }
    if (FRcvCnt < 5)
        return;
    int Length;
    if (FRcvBuf[3] == kAddressIPv4)
        Length = 10;
    else if (FRcvBuf[3] == kAddressIPv6)
        Length = 22;
    else if (FRcvBuf[3] == kAddressName)
        Length = 7 + FRcvBuf[4];
    else
        return SocksFailed(WSOCKS_BAD_ADDRESS_TYPE, "address type not supported");
    if (FRcvCnt < Length)
        return;
    if (FRcvBuf[3] == kAddressIPv4) {
        in_addr Bound;
        std::memcpy(&Bound, FRcvBuf + 4, 4);
        FBoundAddr = Winsock().inet_ntoa(Bound);
    } else if (FRcvBuf[3] == kAddressIPv6) {
        sockaddr_storage Bound{};
        Bound.ss_family = AF_INET6;
        std::memcpy(&reinterpret_cast<sockaddr_in6&>(Bound).sin6_addr, FRcvBuf + 4, 16);
        FBoundAddr = SockAddrText(Bound);
    } else {
        FBoundAddr.assign(reinterpret_cast<const char*>(FRcvBuf + 5), FRcvBuf[4]);
    }
    std::uint16_t Port;
    std::memcpy(&Port, FRcvBuf + Length - 2, 2);
    FBoundPort = std::to_string(ntohs(Port));
    SocksSucceeded(Length);
}

// The owner sees the connection now (through TLS first, when that is on), and then the bytes
// that came behind the answer.
void TCustomSocksWSocket::SocksSucceeded(int AnswerLength) {
    FSocksStep = TSocksStep::None;
    FPendingStart = AnswerLength;
    FPendingCount = FRcvCnt - AnswerLength;
    FRcvCnt = 0;
    const SOCKET S = SocketHandle;
    DoSessionConnected(0);
    if (S == SocketHandle && FPendingCount > 0)
        DoDataAvailable(0);
}

void TCustomSocksWSocket::SocksFailed(int Error, const std::string& Msg) {
    FSocksStep = TSocksStep::None;
    FRcvCnt = 0;
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
    if (FSocksStep == TSocksStep::Authenticating)
        DoSocksAuthState(saFailed);
    if (FSocksStep != TSocksStep::None) {
        FSocksStep = TSocksStep::None;
        const Word Failure = Error != 0 ? Error : static_cast<Word>(ws::WSAECONNABORTED);
        DoSocksError(Failure, "connection closed during the SOCKS handshake");
        DoSessionConnected(Failure);
    }
    TCustomWSocket::DoSessionClosed(Error);
}

// The handshake's own requests are nobody's business above this layer.
void TCustomSocksWSocket::DoDataSent(Word Error) {
    if (FSocksStep == TSocksStep::None)
        TCustomWSocket::DoDataSent(Error);
}

// Receiving after the handshake.

int TCustomSocksWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    if (FPendingCount <= 0)
        return TCustomWSocket::RawReceive(Buffer, BufferSize, Flags);
    const int n = std::min(BufferSize, FPendingCount);
    if (n <= 0)
        return 0;
    std::memcpy(Buffer, FRcvBuf + FPendingStart, static_cast<std::size_t>(n));
    FPendingStart += n;
    FPendingCount -= n;
    NoteLayerRead();
    return n;
}

int TCustomSocksWSocket::GetRcvdCount() {
    return FPendingCount > 0 ? FPendingCount : TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::BufferedCount() {
    return FPendingCount + TCustomWSocket::BufferedCount();
}

void TCustomSocksWSocket::Listen() {
    if (!FSocksServer.empty())
        return ReportError("Listening is not supported thru socks server");
    TCustomWSocket::Listen();
}

// Event triggers.

void TCustomSocksWSocket::DoSocksConnected(Word Error) {
    if (auto Handler = OnSocksConnected)
        Handler(this, Error);
}

void TCustomSocksWSocket::DoSocksError(int Error, const std::string& Msg) {
    if (auto Handler = OnSocksError)
        Handler(this, Error, Msg);
}

void TCustomSocksWSocket::DoSocksAuthState(TSocksAuthState AuthState) {
    if (auto Handler = OnSocksAuthState)
        Handler(this, AuthState);
}
