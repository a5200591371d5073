// THttpCli: construction, state, the hidden window, starting, waiting for and aborting a
// request. The connection and sending side is in HttpProtSend.cpp, the receiving side in
// HttpProtReceive.cpp.
#include "HttpProt.h"

#include <algorithm>

#include "sys/Application.h"
#include "sys/Poller.h"

THttpCli::THttpCli(sys::TComponent* AOwner) : sys::TComponent(AOwner) {
    FWindowHandle = sys::AllocateHWnd([this](sys::TMessage& Msg) { WndProc(Msg); });
    FCtrlSocket = new TWSocket(this);
    // The client speaks first on every connection it opens (request, CONNECT, TLS or SOCKS).
    FCtrlSocket->SetComponentOptions({wsoAckWithFirstData});
    HookSocketHandlers();
}

THttpCli::~THttpCli() {
    MarkDestroying();
    KillTickTimer();
    KillFinalTimer();
    sys::DeallocateHWnd(FWindowHandle);
    // The socket's handlers point here: silence them before the socket closes.
    FCtrlSocket->OnSessionClosed = nullptr;
    FCtrlSocket->OnDataAvailable = nullptr;
    FCtrlSocket->OnSessionConnected = nullptr;
    FCtrlSocket->OnDataSent = nullptr;
    FCtrlSocket->OnDnsLookupDone = nullptr;
    FCtrlSocket->OnSslHandshakeDone = nullptr;
    delete FCtrlSocket;
}

void THttpCli::HookSocketHandlers() {
    FCtrlSocket->OnSessionClosed = [this](sys::TObject* S, sys::Word E) {
        SocketSessionClosed(S, E);
    };
    FCtrlSocket->OnDataAvailable = [this](sys::TObject* S, sys::Word E) {
        SocketDataAvailable(S, E);
    };
    FCtrlSocket->OnSessionConnected = [this](sys::TObject* S, sys::Word E) {
        SocketSessionConnected(S, E);
    };
    FCtrlSocket->OnDataSent = [this](sys::TObject* S, sys::Word E) { SocketDataSent(S, E); };
    FCtrlSocket->OnDnsLookupDone = [this](sys::TObject* S, sys::Word E) { SocketDnsDone(S, E); };
    FCtrlSocket->OnSslHandshakeDone = [this](sys::TObject* S, sys::Word E) {
        SocketSslHandshakeDone(S, E);
    };
}

void THttpCli::SetMultiThreaded(bool Value) {
    FMultiThreaded = Value;
    FCtrlSocket->SetMultiThreaded(Value);
}

void THttpCli::PostToSelf(sys::UINT Msg, sys::WPARAM WParam, sys::LPARAM LParam) {
    sys::PostMessage(FWindowHandle, Msg, WParam, LParam);
}

bool THttpCli::StillRunning(std::uint64_t Serial) const {
    return Serial == FSerial && FState != hcReady && FState != hcAborting;
}

void THttpCli::WndProc(sys::TMessage& Msg) {
    switch (Msg.Msg) {
        case WM_HTTP_REQUEST_DONE:
            FDoneSerial = Msg.WParam >> 8;
            // The client may be destroyed by the handler: nothing may follow it here.
            if (OnRequestDone)
                OnRequestDone(this, static_cast<THttpRequest>(Msg.WParam & 0xFF),
                              static_cast<sys::Word>(Msg.LParam));
            return;
        case WM_HTTP_SET_READY:
            if (Msg.WParam == FSerial)
                SetState(hcReady);
            return;
        case WM_HTTP_RESTART:
            if (StillRunning(Msg.WParam))
                BeginLookup();
            return;
        case sys::WM_TIMER:
            if (Msg.WParam == kFinalTimer)
                KillFinalTimer();
            Tick();
            return;
        default:
            Msg.Result = sys::DefWindowProc(FWindowHandle, Msg.Msg, Msg.WParam, Msg.LParam);
    }
}

void THttpCli::SetState(THttpCliState NewState) {
    if (NewState == FState)
        return;
    FState = NewState;
    if (NewState == hcReady) {
        StopTimer();
        // Kind and error are taken now: a handler may already start the next request.
        PostToSelf(WM_HTTP_REQUEST_DONE, FSerial << 8 | FRequestType, FRequestDoneError);
    }
    if (OnStateChange)
        OnStateChange(this);
}

// The time-out is a deadline checked by a ticking timer that outlives the request: requests
// that follow each other closely share one timer instead of making and destroying one each.
// The last tick before the deadline sets a single shot at it (Tick), and the timer stops
// ticking at the first tick that finds the client idle.
void THttpCli::StartTimer() {
    KillFinalTimer();
    FDeadlineSet = FTimeoutMs > 0;
    if (!FDeadlineSet)
        return;
    FDeadline = Now() + std::chrono::milliseconds(FTimeoutMs);
    const unsigned period = std::clamp(FTimeoutMs / 8, 5u, 1000u);
    if (period != FTickPeriod && sys::SetTimer(FWindowHandle, kTickTimer, period))
        FTickPeriod = period;
}

// An answer whose header is in keeps its status: only the wait for the rest of it ends, and
// the request tells by its error that the document is incomplete.
void THttpCli::TimedOut() {
    FDeadlineSet = false;
    if (!FHeaderDone || FState != hcWaitingBody)
        return EndRequest("Request timed out", sys::winsock::WSAETIMEDOUT);
    FRequestDoneError = sys::winsock::WSAETIMEDOUT;
    CloseConnection();
}

void THttpCli::Tick() {
    if (!FDeadlineSet || FState == hcReady)
        return KillTickTimer();
    const auto left = FDeadline - Now();
    if (left <= std::chrono::steady_clock::duration::zero())
        return TimedOut();
    // The ticks keep their own rhythm from request to request, so the deadline may fall just
    // after one: a single shot at the deadline ends the request on time instead of a tick late.
    if (left < std::chrono::milliseconds(FTickPeriod) && !FFinalArmed) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        FFinalArmed = sys::SetTimer(FWindowHandle, kFinalTimer, static_cast<unsigned>(ms));
    }
}

std::chrono::steady_clock::time_point THttpCli::Now() const {
    return FClock ? FClock() : std::chrono::steady_clock::now();
}

void THttpCli::StopTimer() {
    FDeadlineSet = false;
    KillFinalTimer();
}

void THttpCli::KillFinalTimer() {
    if (!FFinalArmed)
        return;
    sys::KillTimer(FWindowHandle, kFinalTimer);
    FFinalArmed = false;
}

void THttpCli::KillTickTimer() {
    if (FTickPeriod == 0)
        return;
    sys::KillTimer(FWindowHandle, kTickTimer);
    FTickPeriod = 0;
}

void THttpCli::ResetResponse() {
    FResponseHeaderLines.clear();
    FRequestDoneError = 0;
    FDocumentName.clear();
    FStatusCode = 0;
    FReceivedCount = 0;
    FSentCount = 0;
    FDocChunks = 0;
    FReader.Stop();
    FContentLength = -1;
    FContentType.clear();
    FAllowedToSend = false;
    FLocationPending = false;
    FRelocations = 0;
    FConnected = false;
    FFailed = false;
    FGotStatus = false;
    FHeaderDone = false;
    FTunnelling = false;
    FReceiveError = 0;
    FCookies.Clear();
}

void THttpCli::StartRequest(THttpRequest Rq) {
    if (FState != hcReady)
        throw EHttpException("HTTP component is busy", 1);
    if (Rq == hrPost && !FRequestBodyStream)
        throw EHttpException("HTTP component has nothing to post", 2);
    const std::uint64_t serial = ++FSerial;
    FRequestType = Rq;
    ResetResponse();
    FCtrlSocket->OnSessionClosed = [this](sys::TObject* S, sys::Word E) {
        SocketSessionClosed(S, E);
    };
    FAddress = {};
    FAddress.Location = FURL;
    SetState(hcStarting);
    if (!StillRunning(serial))
        return;
    StartTimer();
    if (!SplitAddresses()) {
        Fail("Address holds control characters", httperrBadAddress);
        return;
    }
    BeginLookup();
}

bool THttpCli::SplitAddresses() {
    // Blanks around the address and line breaks inside it are dropped, as a browser does.
    const std::string trimmed = http::TrimAddress(FURL);
    const http::TUrlParts url = http::ParseURL(trimmed);
    FViaProxy = !FProxy.empty();
    const http::TUrlParts proxy = FViaProxy ? http::ParseURL(FProxy) : http::TUrlParts{};
    const std::string proxyPort = proxy.Port.empty() ? FProxyPort : proxy.Port;
    if (!http::StartAddress(FAddress, trimmed, url, FViaProxy ? proxy.Host : "", proxyPort))
        return false;
    const bool ownCredentials = !url.User.empty() || !url.Pass.empty();
    FRequestUser = ownCredentials ? url.User : FUsername;
    FRequestPass = ownCredentials ? url.Pass : FPassword;
    DeriveDocumentName(url.Path);
    return true;
}

void THttpCli::DeriveDocumentName(const std::string& Path) {
    // The query goes first, so that a "/" inside it cannot pass for the last path segment.
    std::string path = Path.substr(0, Path.find('?'));
    if (!path.empty() && path != "/" && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    name = name.substr(0, 255);
    FDocumentName = name.empty() ? "document.htm" : name;
}

void THttpCli::RequestSync(THttpRequest Rq) {
    StartRequest(Rq);
    WaitUntilDone(FSerial);
    if (FStatusCode >= 400)
        throw EHttpException(FReasonPhrase, static_cast<sys::Word>(FStatusCode));
}

void THttpCli::WaitUntilDone(std::uint64_t Serial) {
    // The wait goes on past the ready state until OnRequestDone of this request has run, so
    // that it cannot arrive in the middle of the caller's next request. Every pass blocks in
    // the loop until a message comes; nothing spins meanwhile.
    auto& app = sys::Application::Instance();
    while (FDoneSerial < Serial) {
        if (!FMultiThreaded) {
            app.HandleMessage();
            continue;
        }
        FCtrlSocket->PumpMessages();
        if (FDoneSerial < Serial)
            sys::WaitMessage();
    }
}

void THttpCli::Abort() {
    EndRequest("Connection aborted on request", 3);
}

void THttpCli::EndRequest(const std::string& Reason, sys::Word Error) {
    if (FState == hcReady) {
        if (FCtrlSocket->State() != wsClosed)
            CloseConnection();
        return;
    }
    const THttpCliState old = FState;
    SetState(hcAborting);
    if (old == hcResolving) {
        try {
            FCtrlSocket->CancelDnsLookup();
        } catch (const std::exception&) {
        }
    }
    SetFailure(Reason, Error);
    if (old == hcResolving)
        FinishRequest();
    else
        CloseConnection();
    SetState(hcReady);
}

void THttpCli::Fail(const std::string& Reason, sys::Word Error) {
    SetFailure(Reason, Error);
    FinishRequest();
}

void THttpCli::SetFailure(const std::string& Reason, sys::Word Error) {
    FFailed = true;
    FRequestDoneError = Error;
    FStatusCode = 404;
    FReasonPhrase = Reason;
}

void THttpCli::FinishRequest() {
    FConnected = false;
    FReader.Stop();
    if (FDocChunks > 0) {
        FDocChunks = 0;
        DoDocEnd();
    }
    PostToSelf(WM_HTTP_SET_READY, FSerial);
}

void THttpCli::CloseConnection() {
    FCtrlSocket->Close();
}

void THttpCli::DoCookie(const std::string& Data, bool& Accept) {
    if (OnCookie)
        OnCookie(this, Data, Accept);
}

namespace {

void Fire(const TNotifyEvent& Event, sys::TObject* Sender) {
    if (Event)
        Event(Sender);
}

}  // namespace

void THttpCli::DoSessionConnected() {
    Fire(OnSessionConnected, this);
}

void THttpCli::DoRequestHeaderBegin() {
    Fire(OnRequestHeaderBegin, this);
}

void THttpCli::DoRequestHeaderEnd() {
    Fire(OnRequestHeaderEnd, this);
}

void THttpCli::DoHeaderBegin() {
    Fire(OnHeaderBegin, this);
}

void THttpCli::DoHeaderEnd() {
    Fire(OnHeaderEnd, this);
}

void THttpCli::DoDocBegin() {
    Fire(OnDocBegin, this);
}

void THttpCli::DoDocData(const void* Buffer, int Len) {
    if (OnDocData)
        OnDocData(this, Buffer, Len);
}

void THttpCli::DoDocEnd() {
    Fire(OnDocEnd, this);
}

void THttpCli::DoSendBegin() {
    Fire(OnSendBegin, this);
}

void THttpCli::DoSendData(const void* Buffer, int Len) {
    if (OnSendData)
        OnSendData(this, Buffer, Len);
}

void THttpCli::DoSendEnd() {
    Fire(OnSendEnd, this);
}
