// THttpCli: name lookup, connect, the request header and the POST body.
#include "HttpProt.h"
#include "HttpRequestHeader.h"

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
    const std::uint64_t serial = FSerial;
    FDnsResult.clear();
    SetState(hcResolving);
    if (!StillRunning(serial))
        return;
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
    const std::uint64_t serial = FSerial;
    FDnsResult = FCtrlSocket->DnsResult();
    SetState(hcResolved);
    if (!StillRunning(serial))
        return;
    try {
        FCtrlSocket->SetAddr(FDnsResult);
        FCtrlSocket->SetPort(FAddress.ConnectPort);
        FCtrlSocket->SetProto("tcp");
        FCtrlSocket->Connect();
    } catch (const std::exception&) {
        if (!StillRunning(serial))
            return;
        const int error = FCtrlSocket->LastError();
        FRequestDoneError = static_cast<sys::Word>(error);
        FStatusCode = 404;
        FReasonPhrase = "can't connect: " + ErrorText(error);
        CloseConnection();
        FinishRequest();
    }
}

void THttpCli::SocketSessionConnected(sys::TObject*, sys::Word Error) {
    if (FState != hcResolved)
        return;
    if (Error != 0) {
        Fail(ErrorText(Error), Error);
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
    FReader.StartHeader();
    SetState(hcWaitingHeader);
    if (!StillRunning(serial))
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
        SendFailed(serial, E);
    }
}

void THttpCli::SendFailed(std::uint64_t Serial, const std::exception& E) {
    if (!StillRunning(Serial))
        return;
    FStatusCode = 404;
    FReasonPhrase = E.what();
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
    in.TargetHost = FAddress.TargetHost;
    in.NoCache = FNoCache;
    if (Method == "POST" && FRequestBodyStream)
        in.PostSize = RemainingSize(*FRequestBodyStream);
    in.ModifiedSince = FModifiedSince;
    in.Username = FUsername;
    in.Password = FPassword;
    in.ViaProxy = FViaProxy;
    in.ProxyUsername = FProxyUsername;
    in.ProxyPassword = FProxyPassword;
    in.Cookie = FCookie;
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
    if (Error != 0 && FRequestDoneError == 0)
        FRequestDoneError = Error;
    FinishRequest();
}
