// THttpCli: an HTTP/1.0 client component that performs one request at a time over a TWSocket
// it owns. Starting a request returns at once; the request then advances in socket events
// that arrive through the thread's message loop, and OnRequestDone tells its end. Head (and
// RequestSync) start a request and keep the loop running until the client is idle again.
//
// Threads: a client belongs to the thread that created it, like its socket.
//
// Properties are getter/setter pairs; events are public std::function members that may be
// empty; the sender of every event is the client, as sys::TObject*.
//
// Addresses may be http:// or https:// (TLS, verified against the system's trust store; through
// an HTTP proxy an https request goes through a CONNECT tunnel). A request ends when its answer is
// complete: a HEAD (or a HeaderOnly GET) once the header is in, a body with a Content-Length
// after that many bytes, anything else when the server closes. Interim answers (100, 103) are
// read past and only kept in ResponseHeaderLines; the final answer decides. The Host line names
// the port when it is not the scheme's default. Cookies that servers set along one request's
// relocations go back on its later requests to the same host and are forgotten at its end. The
// URL is trimmed as a browser trims it (blanks and control bytes at its ends, tabs and line
// breaks inside) before it is judged.
//
// Failures (lookup, connect, TLS, abort, time-out, too many relocations, an oversized header, an
// address that cannot be sent, a connection that ends without any status line) end the request
// with StatusCode 404, a ReasonPhrase of their own and a RequestDoneError other than 0; the
// blocking calls raise EHttpException for every status of 400 or more.
//
// Re-entrancy: handlers may call Abort, and may start the next request from OnRequestDone.
// Do not destroy the client from inside one of its handlers other than OnRequestDone.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "HttpCookies.h"
#include "HttpRelocation.h"
#include "HttpResponse.h"
#include "HttpUrl.h"
#include "net/WSocket.h"
#include "sys/Classes.h"
#include "sys/Messages.h"

enum THttpCliState {
    hcReady,
    hcStarting,
    hcConnected,
    hcResolving,
    hcResolved,
    hcWaitingHeader,
    hcWaitingBody,
    hcAborting
};

enum THttpRequest { hrNone, hrGet, hrPost, hrHead };

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// RequestDoneError of the client's own failures, beside 3 (aborted) and the socket's error
// numbers (lookup, connect, reset, time-out 10060, TLS).
constexpr sys::Word httperrNoAnswer = 5;  // the connection ended without a status line
constexpr sys::Word httperrTooManyRelocations = 6;
constexpr sys::Word httperrBadAddress = 7;  // control bytes in the address or a Location
constexpr sys::Word httperrHeaderTooLarge = 8;

class EHttpException : public sys::Exception {
  public:
    EHttpException(const std::string& Msg, sys::Word ErrCode)
        : sys::Exception(Msg), FErrorCode(ErrCode) {}
    sys::Word ErrorCode() const { return FErrorCode; }

  private:
    sys::Word FErrorCode;
};

using TOnCommand = std::function<void(sys::TObject* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(sys::TObject* Sender, const void* Buffer, int Len)>;
using THttpRequestDone =
    std::function<void(sys::TObject* Sender, THttpRequest RqType, sys::Word Error)>;
using TCookieRcvdEvent =
    std::function<void(sys::TObject* Sender, const std::string& Data, bool& Accept)>;

// Private messages of the client's hidden window.
constexpr sys::UINT WM_HTTP_REQUEST_DONE = sys::WM_USER + 1;
constexpr sys::UINT WM_HTTP_SET_READY = sys::WM_USER + 2;
constexpr sys::UINT WM_HTTP_RESTART = sys::WM_USER + 3;

class THttpCli : public sys::TComponent, private http::IHttpResponseSink {
  public:
    // A request follows at most this many relocations.
    static constexpr int MaxRelocations = 20;
    // Header lines of one answer may take this many bytes together.
    static constexpr std::size_t MaxHeaderBytes = http::THttpResponseReader::kDefaultHeaderCap;

    explicit THttpCli(sys::TComponent* AOwner = nullptr);
    ~THttpCli() override;

    // Published properties.
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& Value) { FURL = Value; }
    // A host, "host:port" or an address with a scheme; empty for a direct connection.
    const std::string& Proxy() const { return FProxy; }
    void SetProxy(const std::string& Value) { FProxy = Value; }
    // Port of the proxy when Proxy names none.
    const std::string& ProxyPort() const { return FProxyPort; }
    void SetProxyPort(const std::string& Value) { FProxyPort = Value; }
    // The "From: " line.
    const std::string& Sender() const { return FSender; }
    void SetSender(const std::string& Value) { FSender = Value; }
    const std::string& Agent() const { return FAgent; }
    void SetAgent(const std::string& Value) { FAgent = Value; }
    const std::string& Accept() const { return FAccept; }
    void SetAccept(const std::string& Value) { FAccept = Value; }
    // The "Referer: " line.
    const std::string& Reference() const { return FReference; }
    void SetReference(const std::string& Value) { FReference = Value; }
    // Basic credentials. Credentials inside URL take their place for that request alone, and
    // go only to the host that URL names.
    const std::string& Username() const { return FUsername; }
    void SetUsername(const std::string& Value) { FUsername = Value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    const std::string& ProxyUsername() const { return FProxyUsername; }
    void SetProxyUsername(const std::string& Value) { FProxyUsername = Value; }
    const std::string& ProxyPassword() const { return FProxyPassword; }
    void SetProxyPassword(const std::string& Value) { FProxyPassword = Value; }
    // A SOCKS server that every connection goes through (empty: none), handed to the socket
    // before each connect. SocksLevel is "4", "4A" or "5"; a SocksUsercode makes a SOCKS 5
    // connection offer user and password. With "4A", and with "5" while SocksRemoteLookup is on,
    // the SOCKS server looks the host name up; otherwise the client does.
    const std::string& SocksServer() const { return FSocksServer; }
    void SetSocksServer(const std::string& Value) { FSocksServer = Value; }
    const std::string& SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string& Value) { FSocksPort = Value; }
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& Value) { FSocksLevel = Value; }
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    bool SocksRemoteLookup() const { return FSocksRemoteLookup; }
    void SetSocksRemoteLookup(bool Value) { FSocksRemoteLookup = Value; }
    bool NoCache() const { return FNoCache; }
    void SetNoCache(bool Value) { FNoCache = Value; }
    // 0 means none; otherwise an "If-Modified-Since: " line is sent.
    TDateTime ModifiedSince() const { return FModifiedSince; }
    void SetModifiedSince(TDateTime Value) { FModifiedSince = Value; }
    const std::string& Cookie() const { return FCookie; }
    void SetCookie(const std::string& Value) { FCookie = Value; }
    const std::string& ContentTypePost() const { return FContentTypePost; }
    void SetContentTypePost(const std::string& Value) { FContentTypePost = Value; }
    // A "Range: " request (cleared once sent); also set from a received Content-Range.
    const std::string& ContentRangeBegin() const { return FContentRangeBegin; }
    void SetContentRangeBegin(const std::string& Value) { FContentRangeBegin = Value; }
    const std::string& ContentRangeEnd() const { return FContentRangeEnd; }
    void SetContentRangeEnd(const std::string& Value) { FContentRangeEnd = Value; }
    const std::string& AcceptRanges() const { return FAcceptRanges; }
    // Selects the socket's own message pump for the blocking wait (a worker thread's loop).
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value);
    // Seconds a whole request may take, relocations included; 0 = no limit.
    int Timeout() const { return static_cast<int>(FTimeoutMs / 1000); }
    void SetTimeout(int Seconds) { FTimeoutMs = Seconds > 0 ? Seconds * 1000u : 0; }
    // A GET that ends once the answer's header is in: the connection is closed and no document
    // is read (for servers that refuse HEAD).
    bool HeaderOnly() const { return FHeaderOnly; }
    void SetHeaderOnly(bool Value) { FHeaderOnly = Value; }
    // The same limit in milliseconds, for callers that need a finer one.
    unsigned TimeoutMs() const { return FTimeoutMs; }
    void SetTimeoutMs(unsigned Value) { FTimeoutMs = Value; }
    // The clock the time-out reads; empty means the steady clock. Tests hand in one they move
    // by hand and post WM_TIMER with kTickTimer to Handle(), so no test waits for real time.
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    void SetClock(TClock Clock) { FClock = std::move(Clock); }
    static constexpr std::uintptr_t kTickTimer = 1;  // the time-out's WM_TIMER id
    sys::HWND Handle() const { return FWindowHandle; }

    // Public members. The streams are borrowed; the body stream of a POST must be seekable.
    std::istream* RequestBodyStream() const { return FRequestBodyStream; }
    void SetRequestBodyStream(std::istream* Value) { FRequestBodyStream = Value; }
    std::ostream* ResponseBodyStream() const { return FResponseBodyStream; }
    void SetResponseBodyStream(std::ostream* Value) { FResponseBodyStream = Value; }
    int StatusCode() const { return FStatusCode; }
    const std::string& ReasonPhrase() const { return FReasonPhrase; }
    const std::vector<std::string>& ResponseHeaderLines() const { return FResponseHeaderLines; }
    std::int64_t ContentLength() const { return FContentLength; }
    const std::string& ContentType() const { return FContentType; }
    const std::string& DocumentName() const { return FDocumentName; }
    const std::string& Location() const { return FAddress.Location; }
    std::int64_t ReceivedCount() const { return FReceivedCount; }
    std::int64_t SentCount() const { return FSentCount; }
    const std::vector<std::string>& AuthChallenges() const { return FAuthChallenges; }
    sys::Word RequestDoneError() const { return FRequestDoneError; }
    THttpCliState State() const { return FState; }
    TWSocket* CtrlSocket() const { return FCtrlSocket; }

    // Events.
    TNotifyEvent OnTrace;  // kept for the component's shape; never raised
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnHeaderData;
    TOnCommand OnCommand;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;
    TNotifyEvent OnSendEnd;
    TNotifyEvent OnStateChange;
    THttpRequestDone OnRequestDone;
    TNotifyEvent OnLocationChange;
    TCookieRcvdEvent OnCookie;
    // Lines that arrive while no answer is expected.
    TDataAvailable OnDataAvailable;

    // Starts a request and returns once its name lookup is under way. Raises
    // EHttpException "HTTP component is busy" (1) while a request runs and
    // "HTTP component has nothing to post" (2) for a POST without RequestBodyStream.
    void StartRequest(THttpRequest Rq);
    // Starts a request and waits in the message loop until the client is idle again and
    // OnRequestDone has come; raises EHttpException with ReasonPhrase and StatusCode when the
    // status is 400 or more.
    void RequestSync(THttpRequest Rq);
    void Head() { RequestSync(hrHead); }
    // Ends the current request at once with 404 "Connection aborted on request"; without a
    // request it only closes a connection that is still open.
    void Abort();

  protected:
    virtual void WriteRequestLine(std::string Line);
    virtual void BeginLookup();
    virtual void CloseConnection();
    virtual void RelocationClosed(sys::TObject* Sender, sys::Word Error);
    virtual void DoCookie(const std::string& Data, bool& Accept);
    virtual void DoSessionConnected();
    virtual void DoRequestHeaderBegin();
    virtual void DoRequestHeaderEnd();
    virtual void DoHeaderBegin();
    virtual void DoHeaderEnd();
    virtual void DoDocBegin();
    virtual void DoDocData(const void* Buffer, int Len);
    virtual void DoDocEnd();
    virtual void DoSendBegin();
    virtual void DoSendData(const void* Buffer, int Len);
    virtual void DoSendEnd();

    void SetState(THttpCliState NewState);
    void SendRequest(const std::string& Method);
    void SendNextBodyChunk();

    // Socket handlers.
    void SocketDnsDone(sys::TObject* Sender, sys::Word Error);
    void ConnectSocket(const std::string& Addr, std::vector<std::string> Alternatives = {});
    void ApplySocks();
    bool SocksLooksUpNames() const;
    void SocketSessionConnected(sys::TObject* Sender, sys::Word Error);
    void SocketDataAvailable(sys::TObject* Sender, sys::Word Error);
    void SocketDataSent(sys::TObject* Sender, sys::Word Error);
    void SocketSessionClosed(sys::TObject* Sender, sys::Word Error);
    void SocketSslHandshakeDone(sys::TObject* Sender, sys::Word Error);

  private:
    void WndProc(sys::TMessage& Msg);
    void HookSocketHandlers();
    void ResetResponse();
    bool SplitAddresses();
    void SendRequestOfKind(std::uint64_t Serial);
    void SendConnect();
    void TunnelHeaderLine(const std::string& Line);
    void TunnelHeaderEnd();
    // The connection ended: without a status line that is a failure of its own.
    void EndWithoutAnswer(sys::Word Error);
    // The answer is complete: the connection is closed without waiting for the server.
    void AnswerComplete();
    bool BodyComplete() const;
    bool HeaderTellsMore() const;
    void TimedOut();
    void DeriveDocumentName(const std::string& Path);
    void StartTimer();
    void StopTimer();
    void KillTickTimer();
    void KillFinalTimer();
    void Tick();
    // Ends the running request as a local failure: 404 with the reason, socket closed.
    void EndRequest(const std::string& Reason, sys::Word Error);
    void Fail(const std::string& Reason, sys::Word Error);
    // Records a failure of the client's own without ending the request (the close ends it).
    void SetFailure(const std::string& Reason, sys::Word Error);
    void FinishRequest();
    void PostToSelf(sys::UINT Msg, sys::WPARAM WParam = 0, sys::LPARAM LParam = 0);
    // True while the request that had serial Serial is still running.
    bool StillRunning(std::uint64_t Serial) const;
    // A request that could not be written has failed: say so instead of ending quietly as if
    // the server had closed without an answer.
    void SendFailed(std::uint64_t Serial, const std::exception& E);
    void WaitUntilDone(std::uint64_t Serial);
    void Relocate();
    void ApplyHeaderLine(const http::THttpHeaderLine& Header);
    void ApplyHeaderField(const std::string& Name, std::string_view Value);

    // The reader's events (the receiving half).
    void ResponseHeaderBegin() override;
    void ResponseHeaderLine(std::string Line) override;
    void ResponseHeaderEnd(bool WithoutHeader) override;
    void ResponseHeaderTooLarge() override;
    void ResponseBodyData(const char* Data, std::size_t Len) override;
    void ResponseOtherLine(const std::string& Line) override;

    // Where the current request went, for the cookies its answer sets and the ones it sends.
    http::TCookieSite SentSite() const;
    std::string CookieLine() const;

    // Published property storage.
    std::string FURL, FProxy, FProxyPort = "80", FSender;
    std::string FAgent = "Mozilla/3.0 (compatible)";
    std::string FAccept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string FReference, FUsername, FPassword, FProxyUsername, FProxyPassword;
    std::string FSocksServer, FSocksPort = "1080", FSocksLevel = "5", FSocksUsercode,
                              FSocksPassword;
    bool FSocksRemoteLookup = true;
    bool FNoCache = false;
    TDateTime FModifiedSince = 0;
    std::string FCookie;
    std::string FContentTypePost = "application/x-www-form-urlencoded";
    std::string FContentRangeBegin, FContentRangeEnd, FAcceptRanges;
    bool FMultiThreaded = false;
    bool FHeaderOnly = false;
    unsigned FTimeoutMs = 30000;

    // Results.
    std::istream* FRequestBodyStream = nullptr;
    std::ostream* FResponseBodyStream = nullptr;
    int FStatusCode = 0;
    std::string FReasonPhrase;
    std::vector<std::string> FResponseHeaderLines;
    std::int64_t FContentLength = -1;
    std::string FContentType;
    std::string FDocumentName;
    std::int64_t FReceivedCount = 0;
    std::int64_t FSentCount = 0;
    std::vector<std::string> FAuthChallenges;
    sys::Word FRequestDoneError = 0;
    THttpCliState FState = hcReady;

    // Internal state.
    TWSocket* FCtrlSocket = nullptr;
    sys::HWND FWindowHandle = 0;
    http::TRequestAddress FAddress;  // connect host/port, target host, request path, location
    bool FViaProxy = false;
    // Credentials of the running request: from its address, else the properties; dropped when a
    // relocation leaves the server they were meant for.
    std::string FRequestUser, FRequestPass;
    // Cookies set along the request's relocations; forgotten when the next request starts.
    http::TCookieJar FCookies;
    std::string FSentHost, FSentPath;
    bool FSentSecure = false;
    bool FFailed = false;      // a failure of the client's own has set the status
    bool FGotStatus = false;   // the current connection's answer had a status line
    bool FHeaderDone = false;  // the header of the final answer is in
    bool FTunnelling = false;  // waiting for the proxy's answer to CONNECT
    int FTunnelStatus = 0;
    std::string FTunnelReason;
    std::vector<std::string> FTunnelLines;
    int FReceiveError = 0;  // a receive that failed (a reset) on the current connection
    std::string FDnsResult;
    http::THttpResponseReader FReader{*this, MaxHeaderBytes};
    sys::Word FReadError = 0;  // error of the socket event being read
    char FSendBuffer[8193];
    bool FAllowedToSend = false;
    std::string FRequestBuffer;
    int FDocChunks = 0;
    bool FLocationPending = false;
    int FRelocations = 0;
    bool FConnected = false;
    THttpRequest FRequestType = hrNone;
    // Every request gets a new serial; messages and timers carry it, so that a late one of an
    // earlier request is recognised and ignored.
    std::uint64_t FSerial = 0;
    std::uint64_t FDoneSerial = 0;  // the last request whose OnRequestDone has come
    unsigned FTickPeriod = 0;       // ms; 0 while the timer does not tick
    static constexpr std::uintptr_t kFinalTimer = 2;
    bool FFinalArmed = false;  // a single shot at the deadline is set
    bool FDeadlineSet = false;
    std::chrono::steady_clock::time_point FDeadline;
    TClock FClock;
    std::chrono::steady_clock::time_point Now() const;
};
