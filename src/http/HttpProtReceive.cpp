// THttpCli: the receiving half. The reader (HttpResponse.h) cuts the received bytes into
// header lines and body pieces; the handlers here record what the header says, follow
// relocations and pass the document on.
#include "HttpProt.h"

void THttpCli::SocketDataAvailable(sys::TObject*, sys::Word Error) {
    // The reader cuts over-long lines, so it always has room.
    char* space = FReader.FreeSpace();
    const int count = FCtrlSocket->Receive(space, static_cast<int>(FReader.FreeCount()));
    if (count < 0 && FCtrlSocket->LastError() != sys::winsock::WSAEWOULDBLOCK)
        FReceiveError = FCtrlSocket->LastError();
    if (FRequestType == hrNone || count <= 0)
        return;
    FReadError = Error;
    FReader.Received(static_cast<std::size_t>(count));
}

void THttpCli::ResponseHeaderBegin() {
    DoHeaderBegin();
}

void THttpCli::ResponseHeaderLine(std::string Line) {
    if (FTunnelling)
        return TunnelHeaderLine(Line);
    const std::uint64_t serial = FSerial;
    FResponseHeaderLines.push_back(std::move(Line));
    // An interim answer's lines are kept for the log only: the final answer decides.
    if (!FReader.InInterimAnswer()) {
        // The views in header point into the kept line: they are used before any handler
        // runs, since a handler may start a new request, which clears the kept lines.
        ApplyHeaderLine(http::ClassifyHeaderLine(FResponseHeaderLines.back()));
        if (!StillRunning(serial))
            return;
    }
    if (OnHeaderData)
        OnHeaderData(this);
    // An error status ends the request here: the rest of the answer is not read, unless its
    // header can say more (a wait, a login, a bot challenge).
    if (StillRunning(serial) && FStatusCode >= 400 && !HeaderTellsMore())
        CloseConnection();
}

void THttpCli::ApplyHeaderLine(const http::THttpHeaderLine& Header) {
    if (Header.Kind == http::THttpHeaderLine::TKind::Field)
        return ApplyHeaderField(Header.Name, Header.Value);
    // A status line without a number keeps what was there; reading goes on.
    if (Header.Kind == http::THttpHeaderLine::TKind::Status && Header.StatusCode) {
        FStatusCode = *Header.StatusCode;
        FReasonPhrase = Header.ReasonPhrase;
        FGotStatus = true;
    }
}

void THttpCli::ApplyHeaderField(const std::string& Name, std::string_view Value) {
    if (Name == "location") {
        const auto origin = [this] {
            return FAddress.Scheme + "://" + FAddress.TargetHost + ":" + FAddress.TargetPort;
        };
        const std::string before = origin();
        if (!http::ApplyRelocation(FAddress, Value, FViaProxy)) {
            SetFailure("Relocation address holds control characters", httperrBadAddress);
            CloseConnection();
            return;
        }
        FLocationPending = true;
        // Credentials were meant for the server of the address, not for wherever it sends us.
        if (origin() != before) {
            FRequestUser.clear();
            FRequestPass.clear();
        }
    } else if (Name == "content-length") {
        if (const auto length = http::ParseHeaderInteger(Value))
            FContentLength = *length;
    } else if (Name == "content-range") {
        const http::TContentRange range = http::ParseContentRange(Value);
        FContentRangeBegin = range.First;
        FContentRangeEnd = range.Last;
    } else if (Name == "accept-ranges") {
        FAcceptRanges = Value;
    } else if (Name == "content-type") {
        FContentType = http::LowerAscii(Value);
    } else if (Name == "www-authenticate") {
        FAuthChallenges.emplace_back(Value);
    } else if (Name == "set-cookie") {
        // Copied first: a handler may start a new request, which drops the line it points into.
        const std::string data(Value);
        const std::uint64_t serial = FSerial;
        bool accept = true;
        DoCookie(data, accept);
        if (accept && StillRunning(serial))
            FCookies.Receive(data, SentSite());
    }
}

void THttpCli::ResponseHeaderEnd(bool WithoutHeader) {
    if (FTunnelling)
        return TunnelHeaderEnd();
    const std::uint64_t serial = FSerial;
    if (WithoutHeader) {
        if (FContentType.empty())
            FContentType = "text/html";
    } else if (FLocationPending) {
        Relocate();
        return;
    } else {
        const std::size_t dot = http::LastPos(".", FDocumentName);
        if (dot > 0 && http::LowerAscii(FDocumentName.substr(dot - 1)) == ".exe" &&
            FContentType == "text/html")
            http::ChangeExt(FDocumentName, "htm");
    }
    SetState(hcWaitingBody);
    if (!StillRunning(serial))
        return;
    DoHeaderEnd();
    if (WithoutHeader || !StillRunning(serial))
        return;
    FHeaderDone = true;
    if (FRequestType == hrHead || (FRequestType == hrGet && FHeaderOnly) || FStatusCode >= 400 ||
        BodyComplete())
        AnswerComplete();
}

// 429 and 503 may say in a later line (Retry-After) when to ask again: their header is read
// whole, where other error answers end at their status line.
bool THttpCli::HeaderTellsMore() const {
    switch (FStatusCode) {
        case 401:
        case 403:
        case 407:
        case 429:
        case 503:
            return true;
        default:
            return false;
    }
}

bool THttpCli::BodyComplete() const {
    if (FStatusCode == 204 || FStatusCode == 304)
        return true;  // these never carry a body
    return FContentLength >= 0 && FReceivedCount >= FContentLength;
}

void THttpCli::AnswerComplete() {
    // A server that keeps the connection open for more requests would otherwise hold the
    // request until its own time-out.
    CloseConnection();
}

void THttpCli::TunnelHeaderLine(const std::string& Line) {
    FTunnelLines.push_back(Line);
    const http::THttpHeaderLine header = http::ClassifyHeaderLine(Line);
    if (header.Kind == http::THttpHeaderLine::TKind::Status && header.StatusCode) {
        FTunnelStatus = *header.StatusCode;
        FTunnelReason = header.ReasonPhrase;
    }
}

// The proxy's answer to CONNECT: a 2xx opens the tunnel, anything else is the answer of the
// request (a proxy that wants credentials, say) and ends it.
void THttpCli::TunnelHeaderEnd() {
    FTunnelling = false;
    FReader.Stop();
    if (FTunnelStatus >= 200 && FTunnelStatus < 300) {
        try {
            FCtrlSocket->StartSslHandshake();
        } catch (const std::exception& E) {
            SetFailure(E.what(), WSOCKET_TLS_HANDSHAKE);
            CloseConnection();
        }
        return;
    }
    FResponseHeaderLines = FTunnelLines;
    if (FTunnelStatus > 0) {
        FStatusCode = FTunnelStatus;
        FReasonPhrase = FTunnelReason;
        FGotStatus = true;
    }
    CloseConnection();
}

void THttpCli::Relocate() {
    const std::uint64_t serial = FSerial;
    DoHeaderEnd();
    if (!StillRunning(serial))
        return;
    FReader.Stop();
    FDocChunks = 0;
    if (FRelocations >= MaxRelocations) {
        SetFailure("Too many relocations", httperrTooManyRelocations);
        CloseConnection();
        return;
    }
    ++FRelocations;
    FCtrlSocket->OnSessionClosed = [this](sys::TObject* S, sys::Word E) { RelocationClosed(S, E); };
    CloseConnection();
    // A socket that was closed already raises no close event: go on without it.
    if (FLocationPending && StillRunning(serial) && FCtrlSocket->State() == wsClosed)
        RelocationClosed(this, 0);
}

void THttpCli::RelocationClosed(sys::TObject*, sys::Word) {
    FConnected = false;
    FLocationPending = false;
    FCtrlSocket->OnSessionClosed = [this](sys::TObject* S, sys::Word E) {
        SocketSessionClosed(S, E);
    };
    const std::uint64_t serial = FSerial;
    if (OnLocationChange)
        OnLocationChange(this);
    PostToSelf(WM_HTTP_RESTART, serial);
}

void THttpCli::ResponseHeaderTooLarge() {
    SetFailure("HTTP header too large", httperrHeaderTooLarge);
    CloseConnection();
}

void THttpCli::ResponseBodyData(const char* Data, std::size_t Len) {
    const std::uint64_t serial = FSerial;
    if (FDocChunks++ == 0) {
        DoDocBegin();
        if (!StillRunning(serial))
            return;
    }
    FReceivedCount += static_cast<std::int64_t>(Len);
    if (FResponseBodyStream)
        FResponseBodyStream->write(Data, static_cast<std::streamsize>(Len));
    DoDocData(Data, static_cast<int>(Len));
    if (FHeaderDone && StillRunning(serial) && BodyComplete())
        AnswerComplete();
}

void THttpCli::ResponseOtherLine(const std::string&) {
    if (OnDataAvailable)
        OnDataAvailable(this, FReadError);
}
