// Shared pieces of the socket tests: an event log that handlers append to, and a socket type
// that shows the protected state the tests look at.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "RunLoop.h"
#include "net/WSocket.h"

namespace nettest {

// Gives tests a look at the send queue and other internals.
class TProbeSocket : public TWSocket {
  public:
    using TWSocket::TWSocket;
    std::vector<int> QueuedBlockSizes() const {
        std::vector<int> sizes;
        for (const auto& b : SendBufferList)
            sizes.push_back(b->WriteCount() - b->ReadCount());
        return sizes;
    }
    std::size_t QueueBlocks() const { return SendBufferList.size(); }
    bool IsCloseInvoked() const { return CloseInvoked; }
    bool PortIsAssigned() const { return PortAssigned; }
    bool AddrIsAssigned() const { return AddrAssigned; }
    using TWSocket::SocketType;

    // Every send call: bytes offered and the result. SendLimit > 0 makes the "stack" take at
    // most that many bytes per call.
    std::vector<std::pair<int, int>> Sends;
    int SendLimit = 0;
    // Buffer sizes of the receive calls, and the read notifications that reached the socket.
    std::vector<int> ReceiveSizes;
    int ReadNotifications = 0;

  protected:
    int RawSend(const void* Data, int Len) override {
        bool limited = SendLimit > 0 && Len > SendLimit;
        int n = TWSocket::RawSend(Data, limited ? SendLimit : Len);
        Sends.emplace_back(Len, n);
        // A stack that takes only part of the bytes signals room again later.
        if (limited && n > 0)
            sys::PostMessage(Handle(), WM_SOCKET_SELECT, static_cast<sys::WPARAM>(HSocket()),
                             sys::winsock::WSAMAKESELECTREPLY(sys::winsock::FD_WRITE, 0));
        return n;
    }
    int RawReceive(void* Buffer, int BufferSize, int Flags) override {
        ReceiveSizes.push_back(BufferSize);
        return TWSocket::RawReceive(Buffer, BufferSize, Flags);
    }
    void WndProc(sys::TMessage& M) override {
        if (M.Msg == WM_SOCKET_SELECT && (M.LParam & sys::winsock::FD_READ))
            ++ReadNotifications;
        TWSocket::WndProc(M);
    }
};

// Raises the exception that a call reports and returns its text ("" when none was raised).
template <typename F>
std::string ReportedText(F f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "";
}

// Connects s to the server and runs the loop until the connection stands.
inline void ConnectTo(TCustomWSocket& s, const testsupport::LoopbackServer& server) {
    s.SetAddr("127.0.0.1");
    s.SetPort(server.PortText());
    s.Connect();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return s.State() == wsConnected; }));
}

// Runs the loop for a moment, so that events that must not come had their chance.
inline void Settle(int ms = 100) {
    testsupport::RunLoopUntil([] { return false; }, std::chrono::milliseconds(ms));
}

// "Connected(0)", "State(3->4)", "Data(0)", "Closed(0)", ... in the order they happened.
struct TEventLog {
    std::vector<std::string> Events;
    void Attach(TCustomWSocket& s);
    bool Has(const std::string& e) const;
    int Count(const std::string& prefix) const;
};

std::string StateName(TSocketState s);

// A socket that tells when it is destroyed, for handlers that free their own socket.
class TWatchedSocket : public TWSocket {
  public:
    explicit TWatchedSocket(bool& Gone) : gone_(Gone) {}
    ~TWatchedSocket() override { gone_ = true; }

  private:
    bool& gone_;
};

}  // namespace nettest
