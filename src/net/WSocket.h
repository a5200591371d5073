// The event-driven IPv4 TCP/UDP socket component and its class chain:
//   TCustomWSocket -> TCustomSocksWSocket -> TCustomLineWSocket -> TCustomSyncWSocket
//   -> TWSocket (the component applications create).
//
// Threads: a socket belongs to the thread that created it; all its events run on that thread
// from its message loop (sys::Application::HandleMessage / ProcessMessages or PumpMessages).
//
// Properties are getter/setter pairs (Addr()/SetAddr(), ...). Events are public TGuardedEvent
// members that may be empty; a handler is assigned as a lambda, a std::function or nullptr, and
// may replace or clear its event while it runs. Each event is raised through a trigger that does
// nothing when it is empty: a Do... function for most; OnDataAvailable through the non-virtual
// RaiseDataAvailable, since the virtual DoDataAvailable is the path of bytes arriving from
// below through the layers. The first parameter of every event is the sender: the socket
// itself, as sys::TObject* (use dynamic_cast or compare with the socket's address).
//
// Errors: usage errors and failed socket calls go through ReportError: an ESocketException,
// or, when OnError is assigned, that handler (the operation then continues after the report;
// LastError() holds the socket error number of failed calls). An exception escaping an
// OnDataAvailable handler is swallowed by the receive loop; one escaping any other handler
// (any std::exception) goes to OnBgException and aborts the socket unless CanClose is cleared.
//
// Re-entrancy: a handler may Close, Abort or FreeDeferred the socket that calls it, and may
// pump messages. FreeDeferred destroys the socket from the loop once no operation of it is
// running any more. Do not delete a socket directly from inside one of its own handlers.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "GuardedEvent.h"
#include "SocksHandshake.h"
#include "WSockbuf.h"
#include "sys/Classes.h"
#include "sys/Messages.h"
#include "sys/WinSock.h"

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
// wsoAckWithFirstData: for protocols where the client speaks first (HTTP, TLS, SOCKS). The
// handshake's last ACK waits for the first data sent, at most the delayed-ACK time, so the
// server's accept finds the request already there instead of waking twice.
enum TWSocketOption { wsoNoReceiveLoop, wsoAckWithFirstData };

// A set of TWSocketOption: SetComponentOptions({wsoNoReceiveLoop}).
class TWSocketOptions {
  public:
    TWSocketOptions() = default;
    TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (auto o : options)
            bits_ |= 1u << o;
    }
    bool Contains(TWSocketOption o) const { return (bits_ >> o) & 1u; }
    bool operator==(const TWSocketOptions&) const = default;

  private:
    unsigned bits_ = 0;
};

class ESocketException : public sys::Exception {
  public:
    using sys::Exception::Exception;
};

// Handler types of the events. Error is the socket error number that came with the event
// (0 = none).
using TDataAvailable = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TDataSent = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TSessionClosed = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TSessionAvailable = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TSessionConnected = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TDnsLookupDone = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TSendData = std::function<void(sys::TObject* Sender, int BytesSent)>;
using TChangeState =
    std::function<void(sys::TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(sys::TObject* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(sys::TObject* Sender)>;
using TSslHandshakeDone = std::function<void(sys::TObject* Sender, sys::Word Error)>;

// Messages of the hidden window of every socket.
constexpr sys::UINT WM_SOCKET_SELECT = sys::WM_USER + 1;
constexpr sys::UINT WM_SOCKET_HOSTBYNAME = sys::WM_USER + 2;
constexpr sys::UINT WM_SOCKET_HOSTBYADDR = sys::WM_USER + 3;
constexpr sys::UINT WM_SOCKET_CLOSE_DEFERRED = sys::WM_USER + 4;
constexpr sys::UINT WM_SOCKET_FREE_DEFERRED = sys::WM_USER + 5;
constexpr sys::UINT WM_SOCKET_TEST_EXCEPTION = sys::WM_USER + 6;

// Error numbers of the TLS layer, beside the socket error numbers.
// They stay clear of the SOCKS layer's 20001 to 20017.
constexpr int WSOCKET_TLS_HANDSHAKE = 20101;    // the handshake failed
constexpr int WSOCKET_TLS_CERTIFICATE = 20102;  // the server's certificate was not accepted
constexpr int WSOCKET_TLS_PROTOCOL = 20103;     // a TLS failure after the handshake
bool IsTlsError(int ErrCode);

// The English text of a socket error number; "Not a WinSock error" for unknown numbers.
std::string SocketErrorText(int ErrCode);
// Four dot-separated decimal groups of at most 255, blanks around them allowed.
bool IsDottedIP(const std::string& S);
// Address in network order of a host name or dotted text (blocking); raises ESocketException.
in_addr_t WSocketResolveHost(const std::string& Host);
// Every address of a host name, or the one of an address text of either family ("::1" and
// "[::1]" alike), in the order a connect tries them, ports 0 (blocking); raises ESocketException.
std::vector<sockaddr_storage> WSocketResolveHostAll(const std::string& Host);
// The IPv6 address of "::1" or "[::1]"; false for anything else.
bool ParseIPv6Text(const std::string& Text, in6_addr& Addr);
// The address text of an IPv4 or IPv6 address ("127.0.0.1", "::1"); "" for other families.
std::string SockAddrText(const sockaddr_storage& Addr);
// Port in host order of a number or a service name for Proto; raises ESocketException.
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
// Protocol number of a number or a protocol name; raises ESocketException.
int WSocketResolveProto(const std::string& Proto);

// The socket layer starts on the first socket call of any component and shuts down when the
// last component is destroyed.
bool WSocketLayerStarted();
int WSocketInstanceCount();
void UnloadWinsock();

class TCustomWSocket : public sys::TComponent {
  public:
    using SOCKET = sys::winsock::SOCKET;
    static constexpr SOCKET INVALID_SOCKET = sys::winsock::INVALID_SOCKET;

    explicit TCustomWSocket(sys::TComponent* AOwner = nullptr);
    ~TCustomWSocket() override;

    // Endpoint texts; the setters are refused unless State() is wsClosed.
    const std::string& Addr() const { return FAddr; }
    void SetAddr(const std::string& Value);
    // Addresses a connect tries in turn after those of Addr (a name's other addresses, found by
    // DnsLookup): the next starts when one is refused or unreachable, or when it has not
    // answered within FallbackDelayMs while the earlier ones go on. Address texts only.
    void SetAddrAlternatives(std::vector<std::string> Value) {
        FAddrAlternatives = std::move(Value);
    }
    static constexpr unsigned FallbackDelayMs = 250;
    static constexpr std::uintptr_t FallbackTimerId = 1;  // WM_TIMER of the socket's window
    const std::string& Port() const { return FPort; }
    virtual void SetPort(const std::string& Value);
    const std::string& Proto() const { return FProto; }
    virtual void SetProto(const std::string& Value);
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return FLocalPort; }
    void SetLocalPort(const std::string& Value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }

    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    int ReadCount() const { return FReadCount; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    bool AllSent() const { return FAllSent; }
    bool Paused() const { return FPaused; }
    // The own message pump has taken a quit message.
    bool Terminated() const { return FTerminated; }
    SOCKET HSocket() const { return SocketHandle; }
    sys::HWND Handle() const { return WindowHandle; }

    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    TWSocketOptions ComponentOptions() const { return FComponentOptions; }
    void SetComponentOptions(TWSocketOptions Value) { FComponentOptions = Value; }
    // Kept and published only: Flush waits without a limit.
    int FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(int Value) { FFlushTimeout = Value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    // Until the caller sets one of the two, a close is graceful (the default on/0 is not applied).
    void SetLingerOnOff(TSocketLingerOnOff Value) {
        FLingerOnOff = Value;
        LingerChosen = true;
    }
    int LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(int Value) {
        FLingerTimeout = Value;
        LingerChosen = true;
    }

    // Events.
    TGuardedEvent<sys::TObject*, sys::Word> OnSessionAvailable;
    TGuardedEvent<sys::TObject*, sys::Word> OnSessionConnected;
    TGuardedEvent<sys::TObject*, sys::Word> OnSessionClosed;
    TGuardedEvent<sys::TObject*, TSocketState, TSocketState> OnChangeState;
    TGuardedEvent<sys::TObject*, sys::Word> OnDataAvailable;
    TGuardedEvent<sys::TObject*, sys::Word> OnDataSent;
    TGuardedEvent<sys::TObject*, int> OnSendData;
    // The line layer raises it when LineLimit bytes are held without a LineEnd.
    TGuardedEvent<sys::TObject*> OnLineTooLong;
    TGuardedEvent<sys::TObject*, sys::Word> OnDnsLookupDone;
    TGuardedEvent<sys::TObject*> OnError;
    TGuardedEvent<sys::TObject*, const std::exception&, bool&> OnBgException;

    // Client socket: resolves Proto, Port, LocalPort and Addr, opens the socket and starts
    // the connect; OnSessionConnected(Error) tells the outcome. Datagrams connect at once.
    virtual void Connect();
    // Graceful close: OnSessionClosed, then every per-connection setting back to default.
    virtual void Close();
    virtual void CloseDeferred();
    // Destroys the socket from the loop; the way a handler disposes of its own socket.
    virtual void FreeDeferred();
    // Immediate close: lookup cancelled, queued data dropped, no lingering.
    virtual void Abort();
    // Waits in the loop until the send queue is empty or the socket is gone.
    virtual void Flush();
    // Waits in the loop, delivering data, until the socket is closed.
    virtual void WaitUntilClosed();
    // Server socket: Addr and Port name the local endpoint to listen on.
    virtual void Listen();
    virtual SOCKET Accept();
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveString();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);
    // Queues Len bytes and sends what the network takes at once. Returns Len (0 for Len <= 0),
    // or -1 when not connected. OnDataSent follows from the loop when the queue is empty.
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len);
    virtual int SendString(const std::string& Str);
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void CancelDnsLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerSockAddr(sockaddr_in& Name, int NameLen);
    virtual std::string GetBoundPort();
    virtual int GetLocalSockAddr(sockaddr_in& Name, int& NameLen);
    // Adopts a connected socket handle (from Accept of a listening socket).
    virtual void Dup(SOCKET NewSocket);
    virtual void Shutdown(int How);
    virtual int Pause();
    virtual int Resume();
    // Handles every pending message of the thread (see MultiThreaded), then returns.
    virtual void PumpMessages();

    void ClearSendBuffers();

  protected:
    virtual void WndProc(sys::TMessage& MsgRec);
    virtual void ResetToDefaults();
    virtual void InternalClose(bool Shut, sys::Word Error);
    virtual int GetRcvdCount();
    // Bytes a layer holds for the next Receive beyond what the network still has; the receive
    // loop goes on while there are any, so that nothing is stranded in a layer.
    virtual int BufferedCount() { return 0; }
    // A layer served a Receive from its own buffer: that counts as a read for the receive loop.
    void NoteLayerRead() { ++RecvCalls; }
    // A read that brought nothing is taken back, so that the receive loop does not come back
    // for more and spin; the read has asked for the next notification all the same.
    unsigned ReadMark() const { return RecvCalls; }
    void ForgetReadsSince(unsigned Mark) { RecvCalls = Mark; }
    virtual void BindLocalAddress();
    virtual int RawSend(const void* Data, int Len);
    virtual void ReportErrorFmt(const char* Fmt, ...) __attribute__((format(printf, 2, 3)));
    virtual void ReportError(const std::string& Msg);
    virtual void HandleBgException(const std::exception& E);
    // Bytes arrived from below: each layer takes what is its own and passes the rest up; here,
    // at the bottom of the chain, they go to the owner.
    virtual bool DoDataAvailable(sys::Word Error) { return RaiseDataAvailable(Error); }
    // Raises the owner's OnDataAvailable; false when no handler is assigned. Not virtual and
    // inline: the line layer raises it once per line, past the layers below it.
    bool RaiseDataAvailable(sys::Word Error) { return OnDataAvailable.Call(this, Error); }
    virtual void DoSessionAvailable(sys::Word Error);
    virtual void DoSessionConnected(sys::Word Error);
    virtual void DoSessionClosed(sys::Word Error);
    virtual void DoDataSent(sys::Word Error);
    virtual void DoChangeState(TSocketState OldState, TSocketState NewState);
    virtual void DoDnsLookupDone(sys::Word Error);
    virtual void DoError();
    virtual int RawReceive(void* Buffer, int BufferSize, int Flags);
    virtual int RawReceiveFrom(SOCKET S, void* Buffer, int BufferSize, int Flags, sockaddr_in& From,
                               int& FromLen);

    void DoSendData(int BytesSent);
    void ChangeState(TSocketState NewState);
    void ReportSocketError(const std::string& FuncName);
    void ApplyLinger();
    void DelayHandshakeAck();
    void TryToSend();
    void QueueSendData(const void* Data, int Len);
    void ReceiveLoop(sys::Word Error);
    // Handles one message of the loop and returns (waiting for it when there is none).
    void WaitForMessage();

    // Property storage.
    std::string FAddr, FPort, FProto, FLocalAddr, FLocalPort;
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;
    TSocketState FState = wsClosed;
    int FReadCount = 0;
    int FLastError = 0;
    bool FMultiThreaded = false;
    TWSocketOptions FComponentOptions;
    int FFlushTimeout = 60;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int FLingerTimeout = 0;

    // Internal state.
    std::deque<std::unique_ptr<TBuffer>> SendBufferList;
    int SendBufferSize = TBuffer::DefaultSize;
    int SendFlagsValue = 0;
    sys::HWND WindowHandle = 0;
    alignas(8) char LookupBuffer[1025] = {};
    sys::winsock::HANDLE LookupHandle = 0;
    long SelectEvents = 0;
    SOCKET SocketHandle = INVALID_SOCKET;
    bool AddrAssigned = false, AddrResolved = false;
    int AddressFamily = AF_INET;
    int ProtoNumber = IPPROTO_TCP;
    bool ProtoAssigned = true, ProtoResolved = false, LocalPortResolved = false;
    bool PortAssigned = false, PortResolved = false;
    std::uint16_t PortNumber = 0;
    int LocalPortNumber = 0;
    int SocketType = SOCK_STREAM;
    bool FAllSent = true;
    bool FPaused = false;
    bool CloseInvoked = false;
    bool FTerminated = false;
    bool LingerChosen = false;  // the caller set LingerOnOff or LingerTimeout
    sockaddr_in RemoteAddr{};
    // The addresses of Addr (then the alternatives) when the socket resolved them itself;
    // empty when a layer set RemoteAddr instead.
    std::vector<sockaddr_storage> ResolvedTargets;

    // Held by every operation that dispatches messages, so that a FreeDeferred arriving
    // meanwhile destroys the socket only after the outermost of them has returned. Declare it
    // first in the function: the socket may be gone when it goes out of scope.
    class TActiveScope {
      public:
        explicit TActiveScope(TCustomWSocket* Socket);
        ~TActiveScope();
        TActiveScope(const TActiveScope&) = delete;
        TActiveScope& operator=(const TActiveScope&) = delete;

      private:
        TCustomWSocket* socket_;
    };

  private:
    void NetworkEvent(SOCKET S, long Events, sys::Word Err);
    // Connect attempts, one per address (WSocketConnect.cpp).
    void StartAttempts();
    void ConnectNextTarget();
    bool PrepareAttemptSocket();
    bool TryOtherAttempt();
    void EarlierAttemptEvent(SOCKET S, long Events, sys::Word Err);
    void FallbackDue();
    void EndAttempts();
    void EndConnectWithError(sys::Word Err);
    sockaddr_storage TargetWithPort(const sockaddr_storage& Target) const;
    void HoldBackWhilePaused(long Events, sys::Word Err);
    void HostByNameDone(sys::winsock::HANDLE Task, sys::Word Err);
    void HostByAddrDone(sys::winsock::HANDLE Task, sys::Word Err);
    bool ResolveEndpoint(const char* Prefix, bool LocalPortToo);
    void ResolveTargets();
    void RefuseLookup();
    void StartNewLookup();
    // The common rule of Addr, Port and Proto: refused unless closed; a non-empty value must be
    // resolved again.
    void SetRemoteText(const char* Name, const std::string& Value, std::string& Field,
                       bool& Assigned, bool& Resolved);

    std::vector<std::string> FAddrAlternatives;
    std::vector<sockaddr_storage> ConnectTargets;  // of the connect under way
    std::size_t NextTarget = 0;
    std::vector<SOCKET> EarlierAttempts;  // still connecting beside SocketHandle
    sys::winsock::ADDRESSLIST LookupList{};
    std::vector<std::pair<long, sys::Word>> HeldEvents;  // one-shot events that came while paused
    int ActiveCalls = 0;  // operations of this socket running on the stack
    bool FreePending = false;
    bool Sending = false;    // TryToSend is running (an OnSendData handler may Send again)
    unsigned RecvCalls = 0;  // receive calls made, to see whether a handler read anything
};

using TSocksConnected = std::function<void(sys::TObject* Sender, sys::Word Error)>;
using TSocksErrorEvent =
    std::function<void(sys::TObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(sys::TObject* Sender, TSocksAuthState AuthState)>;

// The SOCKS proxy layer: passes everything through while no SOCKS server is named. With one,
// Connect goes to the SOCKS server, runs the SOCKS 4, 4A or 5 handshake for a connection to
// Addr:Port, and only then raises OnSessionConnected: the layers above and the owner see an
// ordinary connection. A failed handshake raises OnSocksError, then OnSessionConnected with
// the same error, and closes. SocksServer, SocksPort and SocksLevel go back to their defaults
// at every close, like the other per-connection settings.
class TCustomSocksWSocket : public TCustomWSocket {
  public:
    explicit TCustomSocksWSocket(sys::TComponent* AOwner = nullptr);

    // "4", "4A" or "5"; only while closed.
    std::string SocksLevel() const { return SocksLevelText(FSocksLevel); }
    void SetSocksLevel(const std::string& Value);
    // Empty: no SOCKS. Both only while closed.
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& Value);
    const std::string& SocksPort() const { return FSocksPort; }
    virtual void SetSocksPort(const std::string& Value);
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }
    // What a SOCKS 5 server reported as the address and port it connected from.
    const std::string& SocksBoundAddr() const { return FBoundAddr; }
    const std::string& SocksBoundPort() const { return FBoundPort; }

    void Connect() override;
    void Listen() override;

    // The connection to the SOCKS server stands (or failed).
    TGuardedEvent<sys::TObject*, sys::Word> OnSocksConnected;
    TGuardedEvent<sys::TObject*, int, const std::string&> OnSocksError;
    TGuardedEvent<sys::TObject*, TSocksAuthState> OnSocksAuthState;

  protected:
    void ResetToDefaults() override;
    bool DoDataAvailable(sys::Word Error) override;
    void DoSessionConnected(sys::Word Error) override;
    void DoSessionClosed(sys::Word Error) override;
    void DoDataSent(sys::Word Error) override;
    void InternalClose(bool Shut, sys::Word Error) override;
    virtual void DoSocksConnected(sys::Word Error);
    virtual void DoSocksError(int Error, const std::string& Msg);
    void DoSocksAuthState(TSocksAuthState AuthState);
    // True while the handshake runs: the layers above do not see the connection yet.
    bool SocksNegotiating() const { return FSocksPhase != TSocksPhase::None; }
    // A handshake of this layer or of the TLS layer begins: the bytes received are its own
    // until it ends. The line layer stops delivering lines.
    virtual void HandshakeBegins() {}

  private:
    enum class TSocksPhase { None, ServerConnect, Handshake };

    TSocksRequest SocksRequest() const;
    bool ResolveSocksEndpoints();
    void StartHandshake();
    bool ReadAnswer();
    void FollowStep(const TSocksStep& Step);
    void SendSocksBytes(const std::string& Bytes);
    void SocksSucceeded();
    void SocksFailed(int Error, const std::string& Msg);

    TSocksLevel FSocksLevel = TSocksLevel::Socks5;
    std::string FSocksServer, FSocksPort, FSocksUsercode, FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
    std::string FBoundAddr, FBoundPort;
    TSocksPhase FSocksPhase = TSocksPhase::None;
    std::uint16_t FTargetPort = 0;          // host order
    std::optional<TSocksHandshake> FSocks;  // while the handshake runs
    // Closed during the handshake, whose end is not told yet (and whether it was authenticating).
    bool FSocksCut = false;
    bool FSocksCutAuthenticating = false;
};

// The TLS layer: passes everything through while SslEnable is off. With SslEnable the handshake
// follows the connect, and OnSessionConnected comes once it has ended (with WSOCKET_TLS_... as the
// error when it failed; the connection is then closed). StartSslHandshake begins TLS on a
// connection that is up already (behind a proxy's tunnel); OnSslHandshakeDone tells the outcome
// of either. Send and Receive carry plain text; a graceful Close sends the close_notify first.
class TCustomSslWSocket : public TCustomSocksWSocket {
  public:
    explicit TCustomSslWSocket(sys::TComponent* AOwner = nullptr);
    ~TCustomSslWSocket() override;

    // Both only while closed.
    bool SslEnable() const { return FSslEnable; }
    void SetSslEnable(bool Value);
    // The name sent to the server (SNI) and verified against its certificate; a dotted address
    // is verified as an address. Empty: Addr.
    const std::string& SslServerName() const { return FSslServerName; }
    void SetSslServerName(const std::string& Value);
    // True from the end of a successful handshake until the connection closes.
    bool SslEstablished() const { return FSslPhase == TSslPhase::Established; }
    // True when the connection's handshake resumed an earlier session with the same server.
    bool SslSessionReused() const;
    // The text of the last TLS failure, such as "TLS: certificate has expired".
    const std::string& SslErrorText() const { return FSslErrorText; }

    void StartSslHandshake();
    int Receive(void* Buffer, int BufferSize) override;
    int Send(const void* Data, int Len) override;

    TGuardedEvent<sys::TObject*, sys::Word> OnSslHandshakeDone;

  protected:
    bool DoDataAvailable(sys::Word Error) override;
    void DoSessionConnected(sys::Word Error) override;
    void DoDataSent(sys::Word Error) override;
    void DoSessionClosed(sys::Word Error) override;
    void InternalClose(bool Shut, sys::Word Error) override;
    void ResetToDefaults() override;
    int GetRcvdCount() override;
    int BufferedCount() override;
    void DoSslHandshakeDone(sys::Word Error);
    // The handshake runs: the layers above do not see the connection yet.
    bool SslHandshaking() const { return FSslPhase == TSslPhase::Handshake; }

  private:
    enum class TSslPhase { Off, Handshake, Established, Closed, Failed };
    struct TSslState;

    std::unique_ptr<TSslState> NewSslState(const std::string& Name);
    void BeginHandshake(bool AfterConnect);
    void ContinueHandshake(bool Pull = true);
    void HandshakeEnded(int Error);
    void FailHandshake();
    int ReadPlain(void* Buffer, int BufferSize);
    int PullCipherText();
    bool PushCipherText(bool EvenIfEmpty = false);
    void SendCloseNotify();
    void FailConnection(int Error, const std::string& Text);
    void FreeSsl();
    void DrainUnwanted();

    bool FSslEnable = false;
    std::string FSslServerName;
    std::string FSslErrorText;
    TSslPhase FSslPhase = TSslPhase::Off;
    bool FHandshakeAfterConnect = false;
    bool FHandshakeCut = false;  // closed during a handshake whose end is not told yet
    bool FCutAfterConnect = false;
    std::unique_ptr<TSslState> FSsl;
};

// Delivers held bytes again after LineMode changed.
constexpr sys::UINT WM_SOCKET_LINE_DELIVER = sys::WM_USER + 20;

// The line mode layer: passes everything through while LineMode is off. With LineMode on it
// collects the received bytes and raises OnDataAvailable once per complete line (LineEnd
// included), and Receive returns that line and nothing more; the rest of a connection that
// ends without a LineEnd comes as a last line before OnSessionClosed. LineEcho sends the
// received bytes back; LineEdit applies backspace and tab first. Bytes held when LineMode is
// switched off are served first by the next reads.
class TCustomLineWSocket : public TCustomSslWSocket {
  public:
    // Bytes held without a LineEnd before OnLineTooLong fires and they come as one line.
    static constexpr std::size_t DefaultLineLimit = 1024 * 1024;

    using TCustomSslWSocket::TCustomSslWSocket;

    bool LineMode() const { return FLineMode; }
    virtual void SetLineMode(bool Value);
    const std::string& LineEnd() const { return FLineEnd; }
    // An empty one ends the lines as LineMode off does.
    void SetLineEnd(const std::string& Value);
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool Value) { FLineEcho = Value; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool Value) { FLineEdit = Value; }
    // 0: no limit. Also how much is held behind a line the owner has not taken before the
    // network is left unread (HoldAhead when 0 or larger).
    std::size_t LineLimit() const { return FLineLimit; }
    void SetLineLimit(std::size_t Value);
    static constexpr std::size_t HoldAhead = 1024 * 1024;

    int Receive(void* Buffer, int BufferSize) override;

  protected:
    void WndProc(sys::TMessage& MsgRec) override;
    int GetRcvdCount() override;
    int BufferedCount() override;
    bool DoDataAvailable(sys::Word Error) override;
    void DoSessionClosed(sys::Word Error) override;
    // Applies backspace and tab to the Count bytes received at Start of the line buffer; both
    // may change (a backspace can take back bytes held from before).
    virtual void EditLine(std::size_t& Start, std::size_t& Count);
    void HandshakeBegins() override;
    void DoLineTooLong();

  private:
    bool LinesReady() const;
    // Lines are cut at LineEnd; otherwise held bytes are served as they are.
    bool SplitsLines() const { return FLineMode && !FLineEnd.empty(); }
    void LinesStartOrEnd();
    bool HoldsEnough() const;
    bool DeliverHeldLines();
    void ResumeReading();
    std::size_t HeldCount() const { return FLineTail - FLineHead; }
    void MakeRoom(std::size_t Wanted);
    void Consume(std::size_t Count);
    void FreeLineBuffer();
    std::size_t TakeFromBuffer(void* Buffer, std::size_t Size);
    void EchoReceived(std::size_t Start, std::size_t Count);
    bool FindLineEnd(std::string_view End);
    bool TakeNextLine(std::string_view End);
    bool TakeOverlongLine();
    void DeliverLines();
    bool OfferLine(SOCKET S);
    void DeliverHeld();

    bool FLineMode = false;
    std::string FLineEnd = "\r\n";
    bool FLineEcho = false;
    bool FLineEdit = false;
    std::size_t FLineLimit = DefaultLineLimit;
    // Received bytes not read yet are [FLineHead, FLineTail) of the line buffer; reads advance
    // the head, and the bytes move to the front only when more room is needed.
    std::unique_ptr<char[]> FLineBuffer;
    std::size_t FLineCapacity = 0;
    std::size_t FLineHead = 0;
    std::size_t FLineTail = 0;
    std::size_t FLineScanned = 0;  // the search for LineEnd goes on from here
    std::size_t FPendingLine = 0;  // bytes of the front line the owner has not read yet
    // The network is left unread until the owner takes lines (HoldsEnough), and no read
    // notification comes meanwhile: ResumeReading asks for one.
    bool FReadingHeldBack = false;
    // Bumped by every change that may stop the bytes received from going to the owner as they
    // did: a handshake that starts, a change of line mode or line end, the end of the
    // connection. The delivery loop compares this one number after each line instead of
    // looking at every condition again. Handle changes are not counted.
    unsigned DeliveryGeneration = 0;
};

// Returned by the waits when they gave up (time-out or the application terminating).
constexpr int WSOCKET_WAIT_GIVEN_UP = 12001;

// The synchronous wait layer: runs the message loop until a flag that a handler sets holds.
class TCustomSyncWSocket : public TCustomLineWSocket {
  public:
    using TCustomLineWSocket::TCustomLineWSocket;

    // Milliseconds a wait may take; 0: no limit.
    int WaitTimeout() const { return FWaitTimeout; }
    void SetWaitTimeout(int Value) { FWaitTimeout = Value; }

    // Sets Done to false, runs Routine (when there is one), then waits as WaitForFlag(Done)
    // does; a close of the socket by Routine already ends that wait.
    virtual int RunAndWait(bool& Done, const std::function<void()>& Routine);
    // Handles messages, blocking in the loop, until Done holds (0), or gives up
    // (WSOCKET_WAIT_GIVEN_UP) at the time-out or when the application or this socket's own
    // pump has taken a quit message. When the socket is closed meanwhile and stays closed, the
    // wait ends with the close's error code (WSAENOTCONN for a close without error), time-out
    // or not. Waits may nest: each has a time-out of its own.
    virtual int WaitForFlag(bool& Done);

  protected:
    void DoSessionConnected(sys::Word Error) override;
    void DoSessionClosed(sys::Word Error) override;
    void DoChangeState(TSocketState OldState, TSocketState NewState) override;

  private:
    int WaitUntil(bool& Done, unsigned CloseMark);

    int FWaitTimeout = 0;
    unsigned FCloses = 0;  // transitions to wsClosed, so that a wait sees a close it missed
    int FEndError = 0;     // the first error the connection reported, kept until it reopens
};

// The socket component that applications create and own.
class TWSocket : public TCustomSyncWSocket {
  public:
    using TCustomSyncWSocket::TCustomSyncWSocket;
};
