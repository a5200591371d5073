#include "SocksHandshake.h"

#include "WSocket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

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
constexpr std::size_t kMethodAnswerLength = 2;
constexpr std::size_t kAuthAnswerLength = 2;
constexpr std::size_t kSocks4AnswerLength = 8;
constexpr std::size_t kSocks5AnswerHead = 5;  // up to the address type and one byte after it

// Every failure of the handshake with its error number and its one text. A number may have
// more than one failure (SOCKS 4 and 5 word a refused authentication differently); its
// SocksErrorText comes from the first.
enum TFailure {
    fUnexpected,
    fVersion,
    fMethod,
    fGeneral,  // SOCKS 5 reply codes 1 to 8, in order
    fNotAllowed,
    fNetUnreachable,
    fHostUnreachable,
    fRefused,
    fTtlExpired,
    fBadCommand,
    fBadAddressType,
    fUnassigned,  // the code follows as " #<code>"
    fInternal,
    fAuthRefused,
    fSocks4AuthFailed,
    fRejected,
    fResolveFailed,
};

struct TFailureText {
    int Error;
    const char* Text;
};

constexpr TFailureText kFailures[] = {
    {WSOCKS_LOGIC_ERROR, "unexpected answer"},
    {WSOCKS_VERSION_ERROR, "socks version error"},
    {WSOCKS_METHOD_REFUSED, "authentification method not acceptable"},
    {WSOCKS_GENERAL_FAILURE, "general SOCKS server failure"},
    {WSOCKS_NOT_ALLOWED, "connection not allowed by ruleset"},
    {WSOCKS_NET_UNREACHABLE, "network unreachable"},
    {WSOCKS_HOST_UNREACHABLE, "host unreachable"},
    {WSOCKS_REFUSED, "connection refused"},
    {WSOCKS_TTL_EXPIRED, "time to live expired"},
    {WSOCKS_BAD_COMMAND, "command not supported"},
    {WSOCKS_BAD_ADDRESS_TYPE, "address type not supported"},
    {WSOCKS_UNASSIGNED, "unassigned error"},
    {WSOCKS_INTERNAL_ERROR, "internal error"},
    {WSOCKS_AUTH_FAILED, "socks authentication failed"},
    {WSOCKS_AUTH_FAILED, "authentification failed"},
    {WSOCKS_REJECTED, "request rejected or failed"},
    {WSOCKS_RESOLVE_FAILED, "cannot resolve the host name"},
};
static_assert(std::size(kFailures) == fResolveFailed + 1);

std::string PortBytes(std::uint16_t Port) {
    return {char(Port >> 8), char(Port & 0xFF)};
}

}  // namespace

std::optional<TSocksLevel> ParseSocksLevel(std::string_view Text) {
    if (Text == "4")
        return TSocksLevel::Socks4;
    if (Text == "4A" || Text == "4a")
        return TSocksLevel::Socks4A;
    if (Text == "5")
        return TSocksLevel::Socks5;
    return std::nullopt;
}

const char* SocksLevelText(TSocksLevel Level) {
    switch (Level) {
        case TSocksLevel::Socks4:
            return "4";
        case TSocksLevel::Socks4A:
            return "4A";
        case TSocksLevel::Socks5:
            break;
    }
    return "5";
}

bool IsSocksError(int ErrCode) {
    return std::any_of(std::begin(kFailures), std::end(kFailures),
                       [ErrCode](const TFailureText& F) { return F.Error == ErrCode; });
}

// The number's first text, without a "socks " of its own after the "SOCKS: ".
std::string SocksErrorText(int ErrCode) {
    for (const TFailureText& F : kFailures) {
        if (F.Error != ErrCode)
            continue;
        std::string_view Text = F.Text;
        if (Text.starts_with("socks "))
            Text.remove_prefix(6);
        return "SOCKS: " + std::string(Text);
    }
    return "Not a WinSock error";
}

std::optional<std::string> SocksRequestFault(const TSocksRequest& Request) {
    if (SocksSendsName(Request.Level) && Request.Host.size() > MaxSocksHostName)
        return "SOCKS: the host name is longer than 255 bytes";
    if (Request.Level == TSocksLevel::Socks5 && Request.Authenticate &&
        Request.Usercode.size() + Request.Password.size() > MaxSocksCredentials)
        return "SOCKS: user code and password together are longer than 125 bytes";
    return std::nullopt;
}

// Sending.

TSocksStep TSocksHandshake::Start() {
    if (Phase != TPhase::Idle)
        return Fail(fInternal);
    TSocksStep S;
    S.Action = TSocksAction::Send;
    if (Req.Level == TSocksLevel::Socks5) {
        const unsigned char Method = Req.Authenticate ? kMethodUserPass : kMethodNone;
        S.Bytes = {char(kSocks5Version), char(1), char(Method)};
        Phase = TPhase::Greeting;
        return S;
    }
    S.Bytes = {char(kSocks4Version), char(kConnectCommand)};
    S.Bytes += PortBytes(Req.Port);
    if (Req.Level == TSocksLevel::Socks4A) {
        S.Bytes += std::string("\0\0\0\1", 4);  // 0.0.0.1: the name follows
        S.Bytes += Req.Usercode + '\0' + Req.Host + '\0';
    } else {
        S.Bytes += std::string(reinterpret_cast<const char*>(&Req.Address), 4);
        S.Bytes += Req.Usercode + '\0';
    }
    Phase = TPhase::Connecting;
    return S;
}

TSocksStep TSocksHandshake::SendUserPassword() {
    TSocksStep S;
    S.Action = TSocksAction::Send;
    S.AuthNote = saStarting;
    S.Bytes = {char(kUserPassVersion), char(Req.Usercode.size())};
    S.Bytes += Req.Usercode;
    S.Bytes += char(Req.Password.size());
    S.Bytes += Req.Password;
    Phase = TPhase::Authenticating;
    return S;
}

TSocksStep TSocksHandshake::SendSocks5Request(std::optional<TSocksAuthState> Note) {
    TSocksStep S;
    S.Action = TSocksAction::Send;
    S.AuthNote = Note;
    S.Bytes = {char(kSocks5Version), char(kConnectCommand), char(0)};
    if (in6_addr V6{}; ParseIPv6Text(Req.Host, V6)) {
        // An IPv6 address goes as its 16 bytes: as a name no server would take it.
        S.Bytes += char(kAddressIPv6);
        S.Bytes.append(reinterpret_cast<const char*>(&V6), sizeof V6);
    } else {
        S.Bytes += {char(kAddressName), char(Req.Host.size())};
        S.Bytes += Req.Host;
    }
    S.Bytes += PortBytes(Req.Port);
    Phase = TPhase::Connecting;
    return S;
}

// Receiving.

std::size_t TSocksHandshake::Wanted() const {
    std::size_t Length = 0;
    switch (Phase) {
        case TPhase::Greeting:
            Length = kMethodAnswerLength;
            break;
        case TPhase::Authenticating:
            Length = kAuthAnswerLength;
            break;
        case TPhase::Connecting:
            if (Req.Level != TSocksLevel::Socks5)
                Length = kSocks4AnswerLength;
            else if (Answer.size() < kSocks5AnswerHead)
                Length = kSocks5AnswerHead;
            else
                Length = std::max(Socks5AnswerLength(), Answer.size() + 1);
            break;
        default:
            return 0;
    }
    return Length - Answer.size();
}

TSocksStep TSocksHandshake::Feed(std::string_view Input) {
    const std::size_t Take = std::min(Input.size(), Wanted());
    if (Take == 0 && Ended())
        return Fail(fInternal);
    Answer.append(Input.substr(0, Take));
    TSocksStep S = Step();
    S.Used = Take;
    return S;
}

TSocksStep TSocksHandshake::Step() {
    if (Answer.empty() && !Ended() && Phase != TPhase::Idle)
        return {};
    switch (Phase) {
        case TPhase::Greeting:
            return ReadGreetingAnswer();
        case TPhase::Authenticating:
            return ReadAuthAnswer();
        case TPhase::Connecting:
            return Req.Level == TSocksLevel::Socks5 ? ReadSocks5Answer() : ReadSocks4Answer();
        default:
            return Fail(fInternal);
    }
}

TSocksStep TSocksHandshake::ReadGreetingAnswer() {
    if (Answer.size() < kMethodAnswerLength)
        return {};
    const unsigned char Version = At(0), Method = At(1);
    Answer.clear();
    if (Version != kSocks5Version)
        return Fail(fVersion);
    if (Method == kMethodUserPass)
        return SendUserPassword();
    if (Method != kMethodNone)
        return Fail(fMethod);
    return SendSocks5Request(Req.Authenticate ? std::optional(saNotRequired) : std::nullopt);
}

TSocksStep TSocksHandshake::ReadAuthAnswer() {
    if (At(0) != kUserPassVersion)
        return Fail(fVersion);
    if (Answer.size() < kAuthAnswerLength)
        return {};
    const bool Accepted = At(1) == 0;
    Answer.clear();
    if (!Accepted)
        return Fail(fAuthRefused);
    return SendSocks5Request(saSucceeded);
}

TSocksStep TSocksHandshake::ReadSocks4Answer() {
    if (Answer.size() < kSocks4AnswerLength)
        return {};
    if (At(0) != 0)
        return Fail(fVersion);
    switch (const int Code = At(1)) {
        case kSocks4Granted:
            return Succeed();
        case 91:
            return Fail(fRejected);
        case 92:
            return Fail(fRefused);
        case 93:
            return Fail(fSocks4AuthFailed);
        default:
            return Fail(fUnassigned, Code);
    }
}

// The whole answer's length from its address type; 0 for a type not taken.
std::size_t TSocksHandshake::Socks5AnswerLength() const {
    switch (At(3)) {
        case kAddressIPv4:
            return 4 + 4 + 2;
        case kAddressName:
            return 4 + 1 + At(4) + 2;
        case kAddressIPv6:
            return 4 + 16 + 2;
        default:
            return 0;
    }
}

TSocksStep TSocksHandshake::ReadSocks5Answer() {
    if (At(0) != kSocks5Version)
        return Fail(fVersion);
    if (Answer.size() < 2)
        return {};
    if (const int Code = At(1); Code != 0)
        return Code <= 8 ? Fail(fGeneral + Code - 1) : Fail(fUnassigned, Code);
    if (Answer.size() < kSocks5AnswerHead)
        return {};
    const std::size_t Length = Socks5AnswerLength();
    if (Length == 0)
        return Fail(fBadAddressType);
    if (Answer.size() < Length)
        return {};
    if (At(3) == kAddressIPv4 || At(3) == kAddressIPv6) {
        const int Family = At(3) == kAddressIPv4 ? AF_INET : AF_INET6;
        char Text[INET6_ADDRSTRLEN];
        FBoundAddr = inet_ntop(Family, Answer.data() + 4, Text, sizeof Text);
    } else {
        FBoundAddr = Answer.substr(5, At(4));
    }
    FBoundPort = std::to_string(At(Length - 2) << 8 | At(Length - 1));
    return Succeed();
}

TSocksStep TSocksHandshake::Succeed() {
    Phase = TPhase::Done;
    Answer.clear();
    TSocksStep S;
    S.Action = TSocksAction::Done;
    return S;
}

TSocksStep TSocksHandshake::Fail(int Failure, int Code) {
    Phase = TPhase::Failed;
    Answer.clear();
    TSocksStep S;
    S.Action = TSocksAction::Failed;
    S.Error = kFailures[Failure].Error;
    S.Text = kFailures[Failure].Text;
    if (Failure == fUnassigned)
        S.Text += " #" + std::to_string(Code);
    return S;
}
