// The SOCKS 4, 4A and 5 client handshake as a step machine without a socket: it is given the
// server's bytes as they come and answers what to do next: send these bytes, wait for more,
// done (with the bytes the answer took and the bound address), or failed (with an error number
// and its text). The socket's SOCKS layer drives it; tests and the fuzz target feed it directly.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class TSocksLevel { Socks4, Socks4A, Socks5 };
// "4", "4A" (either case) or "5"; nothing for any other text.
std::optional<TSocksLevel> ParseSocksLevel(std::string_view Text);
// "4", "4A" or "5".
const char* SocksLevelText(TSocksLevel Level);
// Whether the SOCKS server looks the target's name up (4A and 5 send the name).
inline bool SocksSendsName(TSocksLevel Level) {
    return Level != TSocksLevel::Socks4;
}

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { saStarting, saSucceeded, saFailed, saNotRequired };

// Error numbers of the SOCKS handshake (OnSocksError, then OnSessionConnected).
constexpr int WSOCKS_LOGIC_ERROR = 20001;      // an answer that cannot come at this point
constexpr int WSOCKS_VERSION_ERROR = 20002;    // not the protocol version that was asked
constexpr int WSOCKS_METHOD_REFUSED = 20003;   // no acceptable authentication method
constexpr int WSOCKS_GENERAL_FAILURE = 20004;  // SOCKS 5 reply codes 1 to 8 ...
constexpr int WSOCKS_NOT_ALLOWED = 20005;
constexpr int WSOCKS_NET_UNREACHABLE = 20006;
constexpr int WSOCKS_HOST_UNREACHABLE = 20007;
constexpr int WSOCKS_REFUSED = 20008;  // ... and the SOCKS 4 result 92
constexpr int WSOCKS_TTL_EXPIRED = 20009;
constexpr int WSOCKS_BAD_COMMAND = 20010;
constexpr int WSOCKS_BAD_ADDRESS_TYPE = 20011;
constexpr int WSOCKS_UNASSIGNED = 20012;  // a reply code no table knows
constexpr int WSOCKS_INTERNAL_ERROR = 20013;
constexpr int WSOCKS_AUTH_FAILED = 20015;     // user code and password refused
constexpr int WSOCKS_REJECTED = 20016;        // SOCKS 4 result 91
constexpr int WSOCKS_RESOLVE_FAILED = 20017;  // SOCKS 4: the target name did not resolve
bool IsSocksError(int ErrCode);
// "SOCKS: connection refused" and the like, from the same table as the handshake's own texts;
// SocketErrorText gives them too.
std::string SocksErrorText(int ErrCode);

// What the handshake is to ask the SOCKS server for.
struct TSocksRequest {
    TSocksLevel Level = TSocksLevel::Socks5;
    std::string Host;           // sent as a name by SOCKS 4A and 5
    in_addr_t Address = 0;      // SOCKS 4: the target's IPv4 address, network order
    std::uint16_t Port = 0;     // host order
    bool Authenticate = false;  // SOCKS 5: offer user code and password
    std::string Usercode, Password;
};

// Limits of the wire format: one length byte for a host name, and the user/password record of
// at most 128 bytes. Nothing is cut: a request beyond them is refused before anything is sent.
constexpr std::size_t MaxSocksHostName = 255;
constexpr std::size_t MaxSocksCredentials = 125;
// The text that refuses the request, or nothing when it fits the wire format.
std::optional<std::string> SocksRequestFault(const TSocksRequest& Request);

enum class TSocksAction { Send, NeedMore, Done, Failed };

// One answer of the handshake.
struct TSocksStep {
    TSocksAction Action = TSocksAction::NeedMore;
    std::size_t Used = 0;  // bytes of the input that this step took
    // Told to the owner before the bytes are sent (saStarting, saNotRequired, saSucceeded).
    std::optional<TSocksAuthState> AuthNote;
    std::string Bytes;  // Send: for the server
    int Error = 0;      // Failed: a WSOCKS_... number
    std::string Text;   // Failed: its text
};

class TSocksHandshake {
  public:
    explicit TSocksHandshake(TSocksRequest Request) : Req(std::move(Request)) {}

    // The first message: the SOCKS 5 greeting, or the SOCKS 4 / 4A connect request.
    TSocksStep Start();
    // Bytes from the server. A step takes at most up to the end of the message it waits for,
    // so the rest of Input belongs to the next step (or, once done, to the owner).
    TSocksStep Feed(std::string_view Input);
    // How many bytes the message waited for still lacks, as far as is known (at least 1 while
    // waiting; 0 once ended): reading no more than this never reads past the answer.
    std::size_t Wanted() const;
    // The user/password record is out and its answer not yet in.
    bool Authenticating() const { return Phase == TPhase::Authenticating; }
    bool Ended() const { return Phase == TPhase::Done || Phase == TPhase::Failed; }

    // What a SOCKS 5 server reported as the address and port it connected from.
    const std::string& BoundAddr() const { return FBoundAddr; }
    const std::string& BoundPort() const { return FBoundPort; }

  private:
    enum class TPhase { Idle, Greeting, Authenticating, Connecting, Done, Failed };

    TSocksStep Step();
    TSocksStep ReadGreetingAnswer();
    TSocksStep ReadAuthAnswer();
    TSocksStep ReadSocks4Answer();
    TSocksStep ReadSocks5Answer();
    TSocksStep SendUserPassword();
    TSocksStep SendSocks5Request(std::optional<TSocksAuthState> Note);
    TSocksStep Fail(int Failure, int Code = 0);
    TSocksStep Succeed();
    std::size_t Socks5AnswerLength() const;
    unsigned char At(std::size_t i) const { return static_cast<unsigned char>(Answer[i]); }

    TSocksRequest Req;
    TPhase Phase = TPhase::Idle;
    std::string Answer;  // the bytes of the answer waited for, collected across feeds
    std::string FBoundAddr, FBoundPort;
};
