// THttpCli: name lookup, connect, the request header and the POST body.
#include "HttpProt.h"
#include "HttpRequestHeader.h"
#include "net/SocksHandshake.h"
#include "sys/Assert.h"

namespace {

std::string ErrorText(int Error) {
    return SocketErrorText(Error) + " (Error #" + std::to_string(Error) + ")";
}

// Bytes from the stream's position to its end; 0 when the stream cannot tell.
std::int64_t RemainingSize(std::istream& Stream) {
    Stream.clear();
    const auto here = Stream.tellg();
    if (here < 0)
        return 0;
    Stream.seekg(0, std::ios::end);
    const auto end = Stream.tellg();
    Stream.seekg(here);
    return end > here ? static_cast<std::int64_t>(end - here) : 0;
}

}  // namespace

void THttpCli::BeginLookup() {
    // StartRequest refuses a second request while one runs (the busy error), and a restart
    // after a relocation checks that its request still runs: a lookup for a request that is
    // over (or a second one beside it) would mix two requests on one socket.
    QV_ASSERT(StillRunning(FSerial) && FState != hcResolving && FState != hcResolved,
              "a request's lookup begins while none runs or another is under way");
    const std::uint64_t serial = FSerial;
    FDnsResult.clear();
    FGotStatus = false;
    FReceiveError = 0;
    SetState(hcResolving);
    if (!StillRunning(serial))
        return;
    if (SocksLooksUpNames())
        return ConnectSocket(FAddress.ConnectHost);  // the name goes to the SOCKS server as it is
    try {
        FCtrlSocket->DnsLookup(FAddress.ConnectHost);
    } catch (const std::exception&) {
        // A name the socket refuses outright (an empty one) fails like an unknown one.
        if (StillRunning(serial) && FState == hcResolving) {
            const int error = FCtrlSocket->LastError();
            Fail("can't resolve hostname to IP address",
                 static_cast<sys::Word>(error ? error : 11001));
        }
    }
}

void THttpCli::SocketDnsDone(sys::TObject*, sys::Word Error) {
    if (FState != hcResolving)
        return;  // an answer for a request that has been aborted meanwhile
    if (Error != 0) {
        Fail("can't resolve hostname to IP address", Error);
        return;
    }
    // The name's other addresses are tried in turn when the first does not answer.
    const auto& found = FCtrlSocket->DnsResultList();
    ConnectSocket(FCtrlSocket->DnsResult(),
                  found.size() > 1 ? std::vector<std::string>(found.begin() + 1, found.end())
                                   : std::vector<std::string>{});
}

// SOCKS 4A always sends the name; SOCKS 5 may be given an address looked up here instead.
bool THttpCli::SocksLooksUpNames() const {
    if (FSocksServer.empty())
        return false;
    const std::optional<TSocksLevel> Level = ParseSocksLevel(FSocksLevel);
    return Level == TSocksLevel::Socks4A || (Level == TSocksLevel::Socks5 && FSocksRemoteLookup);
}

void THttpCli::ConnectSocket(const std::string& Addr, std::vector<std::string> Alternatives) {
    const std::uint64_t serial = FSerial;
    FDnsResult = Addr;
    SetState(hcResolved);
    if (!StillRunning(serial))
        return;
    try {
        FCtrlSocket->SetAddr(FDnsResult);
        FCtrlSocket->SetAddrAlternatives(std::move(Alternatives));
        FCtrlSocket->SetPort(FAddress.ConnectPort);
        FCtrlSocket->SetProto("tcp");
        ApplySocks();
        // Through a proxy's tunnel TLS starts once the proxy has agreed (SendConnect).
        FCtrlSocket->SetSslEnable(FAddress.Scheme == "https" &&
                                  !http::Tunnelled(FAddress, FViaProxy));
        FCtrlSocket->SetSslServerName(FAddress.TargetHost);
        FCtrlSocket->Connect();
    } catch (const std::exception& E) {
        if (!StillRunning(serial))
            return;
        // A setting the socket refused (a SOCKS host name too long, say) has no socket error.
        const int error = FCtrlSocket->LastError();
        FRequestDoneError = static_cast<sys::Word>(error ? error : sys::winsock::WSAEINVAL);
        FStatusCode = 404;
        FReasonPhrase = "can't connect: " + (error ? ErrorText(error) : std::string(E.what()));
        CloseConnection();
        FinishRequest();
    }
}

// The socket forgets its SOCKS settings at every close: each connection gets them anew.
void THttpCli::ApplySocks() {
    FCtrlSocket->SetSocksServer(FSocksServer);
    if (FSocksServer.empty())
        return;
    FCtrlSocket->SetSocksPort(FSocksPort);
    FCtrlSocket->SetSocksLevel(FSocksLevel);
    FCtrlSocket->SetSocksUsercode(FSocksUsercode);
    FCtrlSocket->SetSocksPassword(FSocksPassword);
    FCtrlSocket->SetSocksAuthentication(FSocksUsercode.empty() ? socksNoAuthentication
                                                               : socksAuthenticateUsercode);
}

void THttpCli::SocketSessionConnected(sys::TObject*, sys::Word Error) {
    if (FState != hcResolved)
        return;
    if (Error != 0) {
        Fail(IsTlsError(Error) ? FCtrlSocket->SslErrorText() : ErrorText(Error), Error);
        return;
    }
    const std::uint64_t serial = FSerial;
    FConnected = true;
    SetState(hcConnected);
    if (!StillRunning(serial))
        return;
    DoSessionConnected();
    if (!StillRunning(serial))
        return;
    if (http::Tunnelled(FAddress, FViaProxy)) {
        SendConnect();
        return;
    }
    SendRequestOfKind(serial);
}

void THttpCli::SendRequestOfKind(std::uint64_t Serial) {
    FReader.StartHeader();
    SetState(hcWaitingHeader);
    if (!StillRunning(Serial))
        return;
    try {
        switch (FRequestType) {
            case hrGet:
                SendRequest("GET");
                break;
            case hrHead:
                SendRequest("HEAD");
                break;
            case hrPost:
                SendRequest("POST");
                DoSendBegin();
                FAllowedToSend = true;
                SendNextBodyChunk();
                break;
            case hrNone:
                break;
        }
    } catch (const std::exception& E) {
        SendFailed(Serial, E);
    }
}

// Asks the proxy for a tunnel to the server; its answer is read as a header of its own
// (TunnelHeaderLine), and TLS starts once it has agreed.
void THttpCli::SendConnect() {
    const std::uint64_t serial = FSerial;
    FTunnelling = true;
    FTunnelStatus = 0;
    FTunnelReason.clear();
    FTunnelLines.clear();
    FReader.StartHeader();
    const std::string authority = http::Authority(FAddress);
    std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!FProxyUsername.empty())
        request += "Proxy-Authorization: Basic " +
                   http::Base64Encode(FProxyUsername + ":" + FProxyPassword) + "\r\n";
    request += "\r\n";
    try {
        FCtrlSocket->Send(request.data(), static_cast<int>(request.size()));
    } catch (const std::exception& E) {
        SendFailed(serial, E);
    }
}

void THttpCli::SocketSslHandshakeDone(sys::TObject*, sys::Word Error) {
    // Only the handshake inside a proxy's tunnel is ours to follow; a direct one ends in
    // SocketSessionConnected.
    if (FState != hcConnected || !http::Tunnelled(FAddress, FViaProxy))
        return;
    if (Error != 0) {
        SetFailure(FCtrlSocket->SslErrorText(), Error);
        return;  // the socket closes the connection, which ends the request
    }
    SendRequestOfKind(FSerial);
}

void THttpCli::SendFailed(std::uint64_t Serial, const std::exception& E) {
    if (!StillRunning(Serial))
        return;
    const int error = FCtrlSocket->LastError();
    SetFailure(E.what(), static_cast<sys::Word>(error ? error : sys::winsock::WSAENOTCONN));
    CloseConnection();
}

void THttpCli::SendRequest(const std::string& Method) {
    FRequestBuffer.clear();
    DoRequestHeaderBegin();
    http::THttpRequestHeaderInput in;
    in.Method = Method;
    in.RequestPath = FAddress.RequestPath;
    in.Sender = FSender;
    in.Accept = FAccept;
    in.Reference = FReference;
    in.ContentTypePost = FContentTypePost;
    in.Agent = FAgent;
    const std::string host = http::HostField(FAddress);
    in.Host = host;
    in.NoCache = FNoCache;
    if (Method == "POST" && FRequestBodyStream)
        in.PostSize = RemainingSize(*FRequestBodyStream);
    in.ModifiedSince = FModifiedSince;
    in.Username = FRequestUser;
    in.Password = FRequestPass;
    // Inside a tunnel the proxy has had its credentials with CONNECT.
    in.ViaProxy = FViaProxy && !http::Tunnelled(FAddress, FViaProxy);
    in.ProxyUsername = FProxyUsername;
    in.ProxyPassword = FProxyPassword;
    FSentHost = FAddress.TargetHost;
    FSentPath = http::RequestedPath(FAddress);
    FSentSecure = FAddress.Scheme == "https";
    const std::string cookie = CookieLine();
    in.Cookie = cookie;
    in.RangeBegin = FContentRangeBegin;
    in.RangeEnd = FContentRangeEnd;
    for (std::string& line : http::RequestHeaderLines(in))
        WriteRequestLine(std::move(line));
    FContentRangeBegin.clear();
    FContentRangeEnd.clear();
    FAcceptRanges.clear();
    DoRequestHeaderEnd();
    WriteRequestLine("");
    FCtrlSocket->Send(FRequestBuffer.data(), static_cast<int>(FRequestBuffer.size()));
    FRequestBuffer.clear();
}

http::TCookieSite THttpCli::SentSite() const {
    return {FSentHost, FSentPath, FSentSecure};
}

// The Cookie property first, then what servers of this request have set for where it goes now.
std::string THttpCli::CookieLine() const {
    const std::string received = FCookies.HeaderFor(SentSite());
    if (FCookie.empty() || received.empty())
        return FCookie + received;
    return FCookie + "; " + received;
}

void THttpCli::WriteRequestLine(std::string Line) {
    if (OnCommand)
        OnCommand(this, Line);
    FRequestBuffer += Line;
    FRequestBuffer += "\r\n";
}

void THttpCli::SendNextBodyChunk() {
    if (!FAllowedToSend || !FRequestBodyStream)
        return;
    const std::uint64_t serial = FSerial;
    FRequestBodyStream->read(FSendBuffer, sizeof FSendBuffer);
    const auto count = static_cast<int>(FRequestBodyStream->gcount());
    if (count <= 0) {
        FAllowedToSend = false;
        DoSendEnd();
        return;
    }
    FSentCount += count;
    DoSendData(FSendBuffer, count);
    if (StillRunning(serial))
        FCtrlSocket->Send(FSendBuffer, count);
}

void THttpCli::SocketDataSent(sys::TObject*, sys::Word) {
    const std::uint64_t serial = FSerial;
    try {
        SendNextBodyChunk();
    } catch (const std::exception& E) {
        SendFailed(serial, E);
    }
}

void THttpCli::SocketSessionClosed(sys::TObject*, sys::Word Error) {
    if (FState != hcReady && FState != hcAborting && !FFailed && !FGotStatus)
        EndWithoutAnswer(Error);
    if (Error != 0 && FRequestDoneError == 0)
        FRequestDoneError = Error;
    FinishRequest();
}

// A reset, a close without a byte, or bytes that are not HTTP: the server has not answered,
// whatever an earlier answer of a relocation said.
void THttpCli::EndWithoutAnswer(sys::Word Error) {
    const int error = Error != 0 ? Error : FReceiveError;
    if (error != 0)
        SetFailure(IsTlsError(error) ? FCtrlSocket->SslErrorText() : ErrorText(error),
                   static_cast<sys::Word>(error));
    else
        SetFailure("No HTTP answer", httperrNoAnswer);
}
