// Shared pieces of the socket tests: an event log that handlers append to, and a socket type
// that shows the protected state the tests look at.
#pragma once

#include <string>
#include <vector>

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
};

// "Connected(0)", "State(3->4)", "Data(0)", "Closed(0)", ... in the order they happened.
struct TEventLog {
    std::vector<std::string> Events;
    void Attach(TCustomWSocket& s);
    bool Has(const std::string& e) const;
    int Count(const std::string& prefix) const;
};

std::string StateName(TSocketState s);

}  // namespace nettest
