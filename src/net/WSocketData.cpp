// The data path of the socket: the send queue and its draining, the receive loop and the
// receive calls.
#include "WSocket.h"
#include "WinsockApi.h"

using sys::Word;

namespace {

// Send failures that mean the connection is gone rather than that the call was wrong.
bool ConnectionLost(int Error) {
    switch (Error) {
        case ws::WSAEINVAL:
        case ws::WSAENOTSOCK:
        case ws::WSAECONNABORTED:
        case ws::WSAECONNRESET:
        case ws::WSAENOTCONN:
            return true;
        default:
            return false;
    }
}

// Marks a running drain for as long as it runs, also when a handler throws.
class TDrainScope {
  public:
    explicit TDrainScope(bool& Flag) : flag_(Flag) { flag_ = true; }
    ~TDrainScope() { flag_ = false; }
    TDrainScope(const TDrainScope&) = delete;
    TDrainScope& operator=(const TDrainScope&) = delete;

  private:
    bool& flag_;
};

}  // namespace

void TCustomWSocket::QueueSendData(const void* Data, int Len) {
    if (Len <= 0)
        return;
    if (SendBufferList.empty())
        SendBufferList.push_back(std::make_unique<TBuffer>(SendBufferSize));
    auto* Bytes = static_cast<const char*>(Data);
    for (;;) {
        int n = SendBufferList.back()->Write(Bytes, Len);
        if (n >= Len)
            return;
        Len -= n;
        Bytes += n;
        SendBufferList.push_back(std::make_unique<TBuffer>(SendBufferSize));
    }
}

int TCustomWSocket::Send(const void* Data, int Len) {
    TActiveScope scope(this);
    if (FState != wsConnected) {
        Winsock().WSASetLastError(ws::WSAENOTCONN);
        ReportSocketError("Send");
        return -1;
    }
    const SOCKET S = SocketHandle;
    FAllSent = false;
    int Result = 0;
    if (Len > 0) {
        Result = Len;
        QueueSendData(Data, Len);
    }
    TryToSend();
    // A drain that found the connection lost has closed it: nothing was sent, nothing to tell.
    if (S != SocketHandle)
        return Result;
    if (SendBufferList.empty())
        FAllSent = true;
    // OnDataSent always comes from the loop, never from inside Send.
    if (FAllSent)
        sys::PostMessage(WindowHandle, WM_SOCKET_SELECT, static_cast<sys::WPARAM>(SocketHandle),
                         ws::WSAMAKESELECTREPLY(ws::FD_WRITE, 0));
    return Result;
}

int TCustomWSocket::SendString(const std::string& Str) {
    std::string Copy = Str;  // the handler of an event raised meanwhile may change the original
    return Send(Copy.data(), static_cast<int>(Copy.size()));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len) {
    TActiveScope scope(this);
    int n = Winsock().sendto(SocketHandle, Data, Len, SendFlagsValue,
                             reinterpret_cast<const sockaddr*>(&Dest), DestLen);
    if (n > 0)
        DoSendData(n);
    return n;
}

int TCustomWSocket::RawSend(const void* Data, int Len) {
    int n;
    if (SocketType == SOCK_DGRAM)
        n = Winsock().sendto(SocketHandle, Data, Len, SendFlagsValue,
                             reinterpret_cast<const sockaddr*>(&RemoteAddr), sizeof RemoteAddr);
    else
        n = Winsock().send(SocketHandle, Data, Len, SendFlagsValue);
    if (n > 0)
        DoSendData(n);
    return n;
}

void TCustomWSocket::TryToSend() {
    // An OnSendData handler that sends again only queues: the running drain takes it along.
    if (Sending || SocketHandle == INVALID_SOCKET || SendBufferList.empty())
        return;
    TDrainScope Drain(Sending);
    SOCKET S = SocketHandle;
    for (;;) {
        TBuffer* B = SendBufferList.front().get();
        int Len;
        const char* Data = B->Peek(Len);
        if (Len <= 0) {
            if (SendBufferList.size() > 1) {
                SendBufferList.pop_front();
                continue;
            }
            FAllSent = true;  // the last block stays, empty, for the next Send
            break;
        }
        int n = RawSend(Data, Len);
        if (n < 0) {
            int E = Winsock().WSAGetLastError();
            if (ConnectionLost(E)) {
                CloseInvoked = true;
                Close();
                DoSessionClosed(static_cast<Word>(E));
            } else if (E != ws::WSAEWOULDBLOCK) {
                ReportSocketError("TryToSend failed");
            }
            return;
        }
        // The OnSendData handler may have closed the socket or dropped the queue.
        if (S != SocketHandle || SendBufferList.empty() || SendBufferList.front().get() != B)
            break;
        if (n == 0)
            break;
        B->Remove(n);
        if (n < Len)
            break;  // the stack is full; FD_WRITE continues
    }
}

void TCustomWSocket::ClearSendBuffers() {
    // A drain on the stack tells a dropped queue by its first block gone, so it loses them all.
    // Otherwise the first block stays, emptied, for the next connection's first Send: a
    // request per connection would allocate one each time.
    if (Sending || SendBufferList.empty()) {
        SendBufferList.clear();
        return;
    }
    SendBufferList.resize(1);
    int Unread = 0;
    SendBufferList.front()->Peek(Unread);
    SendBufferList.front()->Remove(Unread);
}

void TCustomWSocket::Flush() {
    TActiveScope scope(this);
    while (SocketHandle != INVALID_SOCKET && !FAllSent) {
        TryToSend();
        if (SocketHandle == INVALID_SOCKET || FAllSent)
            break;
        WaitForMessage();  // FD_WRITE (or the close) wakes us
    }
}

TSocketSendFlags TCustomWSocket::SendFlags() {
    switch (SendFlagsValue) {
        case 0:
            return wsSendNormal;
        case MSG_OOB:
            return wsSendUrgent;
        default:
            ReportError("Invalid internal SendFlags");
            return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value) {
    switch (Value) {
        case wsSendNormal:
            SendFlagsValue = 0;
            break;
        case wsSendUrgent:
            SendFlagsValue = MSG_OOB;
            break;
        default:
            ReportError("Invalid SendFlags");
    }
}

// Receiving.

int TCustomWSocket::RawReceive(void* Buffer, int BufferSize, int Flags) {
    ++RecvCalls;
    return Winsock().recv(SocketHandle, Buffer, BufferSize, Flags);
}

int TCustomWSocket::RawReceiveFrom(SOCKET S, void* Buffer, int BufferSize, int Flags,
                                   sockaddr_in& From, int& FromLen) {
    ++RecvCalls;
    return Winsock().recvfrom(S, Buffer, BufferSize, Flags, reinterpret_cast<sockaddr*>(&From),
                              &FromLen);
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
    int n = RawReceive(Buffer, BufferSize, 0);
    if (n < 0)
        FLastError = Winsock().WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen) {
    int n = RawReceiveFrom(SocketHandle, Buffer, BufferSize, 0, From, FromLen);
    if (n < 0)
        FLastError = Winsock().WSAGetLastError();
    else
        FReadCount += n;
    return n;
}

std::string TCustomWSocket::ReceiveString() {
    std::string Result;
    int n = GetRcvdCount();
    if (n <= 0)
        return Result;
    Result.resize(static_cast<std::size_t>(n));
    n = Receive(Result.data(), n);
    Result.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return Result;
}

int TCustomWSocket::GetRcvdCount() {
    ws::u_long n = 0;
    if (Winsock().ioctlsocket(SocketHandle, FIONREAD, &n) == ws::SOCKET_ERROR) {
        ReportSocketError("ioctlSocket");
        return -1;
    }
    return static_cast<int>(n);
}

void TCustomWSocket::ReceiveLoop(Word Error) {
    try {
        for (;;) {
            FLastError = 0;
            unsigned CallsBefore = RecvCalls;
            if (!DoDataAvailable(Error)) {
                char Scratch[1024];  // nobody listens: read and drop
                if (RawReceive(Scratch, sizeof Scratch, 0) == -1) {
                    FLastError = Winsock().WSAGetLastError();
                    if (FLastError == ws::WSAEWOULDBLOCK) {
                        FLastError = 0;
                        break;
                    }
                }
            }
            if (FComponentOptions.Contains(wsoNoReceiveLoop) || FLastError != 0)
                break;
            // A handler that read nothing would be called forever; it is called again when it
            // reads (the next read notification follows its next Receive).
            if (RecvCalls == CallsBefore)
                break;
            ws::u_long Waiting = 0;
            if (Winsock().ioctlsocket(SocketHandle, FIONREAD, &Waiting) == ws::SOCKET_ERROR) {
                FLastError = Winsock().WSAGetLastError();
                break;
            }
            if (Waiting == 0 && BufferedCount() == 0)
                break;
        }
    } catch (...) {
        // Exceptions of OnDataAvailable handlers end the pass and go no further.
    }
}

void TCustomWSocket::WaitUntilClosed() {
    TActiveScope scope(this);
    while (SocketHandle != INVALID_SOCKET && FState != wsClosed) {
        PumpMessages();
        if (SocketHandle == INVALID_SOCKET || FState == wsClosed)
            break;
        ws::u_long Waiting = 0;
        if (Winsock().ioctlsocket(SocketHandle, FIONREAD, &Waiting) == ws::SOCKET_ERROR)
            break;
        if (Waiting > 0)
            DoDataAvailable(0);
        char Probe;
        if (SocketHandle == INVALID_SOCKET || RawReceive(&Probe, 0, 0) <= 0) {
            FLastError = Winsock().WSAGetLastError();
            if (FLastError != ws::WSAEWOULDBLOCK)
                break;
        }
        WaitForMessage();  // the next event of this or any socket, without spinning
    }
}
