// Endpoint properties and their resolution, name look-ups, Connect, Listen, Accept and Dup.
#include <netinet/tcp.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "WSocket.h"
#include "WinsockApi.h"
#include "sys/AsciiText.h"

using sys::Word;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal value of the digits after leading blanks, up to the first other character.
long LeadingNumber(const std::string& S) {
    std::size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    long Value = 0;
    for (; i < S.size() && IsDigit(S[i]); ++i)
        Value = Value < 100000000 ? Value * 10 + (S[i] - '0') : Value;
    return Value;
}

std::string Format(const char* Fmt, const std::string& Text, int Number) {
    char Buffer[512];
    std::snprintf(Buffer, sizeof Buffer, Fmt, Text.c_str(), Number);
    return Buffer;
}

constexpr long kListenEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CLOSE;  // 43
constexpr long kDupEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE;    // 51

}  // namespace

bool IsDottedIP(const std::string& S) {
    std::size_t i = 0, n = S.size();
    while (i < n && S[i] == ' ')
        ++i;
    if (i >= n || S[i] == '.')
        return false;
    int Dots = 0;
    long Group = 0;
    for (; i < n; ++i) {
        char c = S[i];
        if (c == '.') {
            if (++Dots > 3 || Group > 255)
                return false;
            Group = 0;
            if (i + 1 >= n || !IsDigit(S[i + 1]))
                return false;
        } else if (IsDigit(c)) {
            Group = Group < 100000 ? Group * 10 + (c - '0') : Group;
        } else {
            while (i < n && S[i] == ' ')
                ++i;
            if (i < n)
                return false;
            break;
        }
    }
    return Dots == 3 && Group <= 255;
}

in_addr_t WSocketResolveHost(const std::string& Host) {
    if (Host.empty() || Host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    std::string Name = sys::TrimBlanks(Host, sys::kSpaceAndControls);
    if (IsDottedIP(Host)) {
        in_addr_t Addr = Winsock().inet_addr(Name.c_str());
        if (Addr == INADDR_NONE && Name != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid IP address.");
        return Addr;
    }
    const hostent* Entry = Winsock().gethostbyname(Name.c_str());
    if (!Entry || !Entry->h_addr_list[0])
        throw ESocketException(
            Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", Host,
                   Winsock().WSAGetLastError()));
    in_addr_t Addr;
    std::memcpy(&Addr, Entry->h_addr_list[0], sizeof Addr);
    return Addr;
}

bool ParseIPv6Text(const std::string& Text, in6_addr& Addr) {
    std::string Inner = sys::TrimBlanks(Text, sys::kSpaceAndControls);
    if (Inner.size() >= 2 && Inner.front() == '[' && Inner.back() == ']')
        Inner = Inner.substr(1, Inner.size() - 2);
    return Inner.find(':') != std::string::npos && inet_pton(AF_INET6, Inner.c_str(), &Addr) == 1;
}

std::string SockAddrText(const sockaddr_storage& Addr) {
    char Text[INET6_ADDRSTRLEN] = "";
    if (Addr.ss_family == AF_INET)
        return Winsock().inet_ntoa(reinterpret_cast<const sockaddr_in&>(Addr).sin_addr);
    if (Addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(Addr).sin6_addr, Text,
                  sizeof Text);
    return Text;
}

std::vector<sockaddr_storage> WSocketResolveHostAll(const std::string& Host) {
    sockaddr_storage A{};
    in6_addr V6;
    if (!Host.empty() && Host.size() <= 256 && ParseIPv6Text(Host, V6)) {
        A.ss_family = AF_INET6;
        reinterpret_cast<sockaddr_in6&>(A).sin6_addr = V6;
        return {A};
    }
    if (IsDottedIP(Host)) {
        A.ss_family = AF_INET;
        reinterpret_cast<sockaddr_in&>(A).sin_addr.s_addr = WSocketResolveHost(Host);
        return {A};
    }
    if (Host.empty() || Host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + Host + "' Invalid Hostname.");
    ws::ADDRESSLIST List;
    if (Winsock().getaddrlist(sys::TrimBlanks(Host, sys::kSpaceAndControls).c_str(), &List) ==
        ws::SOCKET_ERROR)
        throw ESocketException(
            Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", Host,
                   Winsock().WSAGetLastError()));
    return {List.addrs, List.addrs + List.count};
}

std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto) {
    if (Port.empty() || Port.size() >= 32)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (IsDigit(Port[0]))
        return static_cast<std::uint16_t>(LeadingNumber(Port) & 0xFFFF);
    const std::string Name = sys::TrimBlanks(Port, sys::kSpaceAndControls);
    const std::string Protocol = sys::TrimBlanks(Proto, sys::kSpaceAndControls);
    const servent* Entry =
        Winsock().getservbyname(Name.c_str(), Protocol.empty() ? nullptr : Protocol.c_str());
    if (!Entry)
        throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d",
                                      Port, Winsock().WSAGetLastError()));
    return ntohs(static_cast<std::uint16_t>(Entry->s_port));
}

int WSocketResolveProto(const std::string& Proto) {
    if (Proto.empty() || Proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    std::string Name = sys::TrimBlanks(Proto, sys::kSpaceAndControls);
    if (!Name.empty() && IsDigit(Name[0]))
        return static_cast<int>(LeadingNumber(Name));
    // The two that every socket names are fixed numbers: asking the protocols database loads
    // the name service modules, some milliseconds at the first connect of every process.
    if (Name == "tcp" || Name == "TCP")
        return IPPROTO_TCP;
    if (Name == "udp" || Name == "UDP")
        return IPPROTO_UDP;
    const protoent* Entry = Winsock().getprotobyname(Name.c_str());
    if (!Entry)
        throw ESocketException(
            Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", Name,
                   Winsock().WSAGetLastError()));
    return static_cast<std::int16_t>(Entry->p_proto);
}

// Property setters.

void TCustomWSocket::SetRemoteText(const char* Name, const std::string& Value, std::string& Field,
                                   bool& Assigned, bool& Resolved) {
    if (Assigned && Value == Field)
        return;
    if (FState != wsClosed) {
        ReportError(std::string("Cannot change ") + Name + " if not closed");
        return;
    }
    Field = sys::TrimBlanks(Value, sys::kSpaceAndControls);
    Assigned = !Field.empty();
    if (Assigned)
        Resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& Value) {
    SetRemoteText("Addr", Value, FAddr, AddrAssigned, AddrResolved);
}

void TCustomWSocket::SetPort(const std::string& Value) {
    SetRemoteText("Port", Value, FPort, PortAssigned, PortResolved);
}

void TCustomWSocket::SetProto(const std::string& Value) {
    SetRemoteText("Proto", Value, FProto, ProtoAssigned, ProtoResolved);
}

void TCustomWSocket::SetLocalPort(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPort = Value;
    LocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& Value) {
    TActiveScope scope(this);  // an OnError handler may free the socket and pump
    if (FState != wsClosed) {
        ReportError("Cannot change LocalAddr if not closed");
        return;
    }
    std::string Text = Value.empty() ? "0.0.0.0" : Value;
    in_addr Addr{Winsock().inet_addr(Text.c_str())};
    if (Addr.s_addr == INADDR_NONE)
        ReportError("SetLocalAddr(): Invalid IP address");
    FLocalAddr = Winsock().inet_ntoa(Addr);
}

// Name look-ups.

void TCustomWSocket::RefuseLookup() {
    ReportError("DNS lookup: invalid host name.");
    DoDnsLookupDone(ws::WSAEINVAL);
}

// A new look-up replaces the pending one, whose late answer is then ignored.
void TCustomWSocket::StartNewLookup() {
    if (LookupHandle != 0) {
        Winsock().WSACancelAsyncRequest(LookupHandle);
        LookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();
}

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    TActiveScope scope(this);
    if (HostName.empty())
        return RefuseLookup();
    StartNewLookup();
    in_addr Addr{Winsock().inet_addr(HostName.c_str())};
    if (Addr.s_addr != INADDR_NONE) {
        FDnsResult = Winsock().inet_ntoa(Addr);
        DoDnsLookupDone(0);
        return;
    }
    sockaddr_storage V6{};
    V6.ss_family = AF_INET6;
    if (ParseIPv6Text(HostName, reinterpret_cast<sockaddr_in6&>(V6).sin6_addr)) {
        FDnsResult = SockAddrText(V6);
        FDnsResultList.assign(1, FDnsResult);
        DoDnsLookupDone(0);
        return;
    }
    LookupHandle = Winsock().WSAAsyncGetAddrInfo(WindowHandle, WM_SOCKET_HOSTBYNAME,
                                                 HostName.c_str(), &LookupList);
    if (LookupHandle == 0)
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(),
                       Winsock().WSAGetLastError());
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
    TActiveScope scope(this);
    // An address text has at most 256 characters; a longer one is refused before any copy.
    if (HostAddr.empty() || HostAddr.size() > 256)
        return RefuseLookup();
    StartNewLookup();
    in_addr_t Addr = Winsock().inet_addr(HostAddr.c_str());
    LookupHandle = Winsock().WSAAsyncGetHostByAddr(WindowHandle, WM_SOCKET_HOSTBYADDR,
                                                   reinterpret_cast<const char*>(&Addr), 4, AF_INET,
                                                   LookupBuffer, sizeof LookupBuffer);
    if (LookupHandle == 0)
        ReportErrorFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(),
                       Winsock().WSAGetLastError());
}

void TCustomWSocket::CancelDnsLookup() {
    if (LookupHandle == 0)
        return;
    TActiveScope scope(this);
    if (Winsock().WSACancelAsyncRequest(LookupHandle) != 0) {
        LookupHandle = 0;
        ReportSocketError("WSACancelAsyncRequest");
        return;
    }
    LookupHandle = 0;
    if (!IsDestroying())
        DoDnsLookupDone(ws::WSAEINTR);
}

void TCustomWSocket::HostByNameDone(ws::HANDLE Task, Word Err) {
    if (Task != LookupHandle)
        return;  // cancelled or replaced by a newer look-up
    LookupHandle = 0;
    if (Err == 0) {
        for (int i = 0; i < LookupList.count; ++i)
            FDnsResultList.push_back(SockAddrText(LookupList.addrs[i]));
        if (!FDnsResultList.empty())
            FDnsResult = FDnsResultList.front();
    }
    DoDnsLookupDone(Err);
}

void TCustomWSocket::HostByAddrDone(ws::HANDLE Task, Word Err) {
    if (Task != LookupHandle)
        return;
    LookupHandle = 0;
    if (Err == 0) {
        const auto* Entry = reinterpret_cast<const hostent*>(LookupBuffer);
        FDnsResult = Entry->h_name;
        FDnsResultList.assign(1, FDnsResult);
    }
    DoDnsLookupDone(Err);
}

// Endpoints.

bool TCustomWSocket::ResolveEndpoint(const char* Prefix, bool LocalPortToo) {
    try {
        if (!ProtoResolved) {
            ProtoNumber = WSocketResolveProto(FProto);
            SocketType = ProtoNumber == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
            ProtoResolved = true;
        }
        if (!PortResolved) {
            PortNumber = WSocketResolvePort(FPort, FProto);
            RemoteAddr.sin_port = htons(PortNumber);
            PortResolved = true;
        }
        if (LocalPortToo && !LocalPortResolved) {
            LocalPortNumber = WSocketResolvePort(FLocalPort, FProto);
            LocalPortResolved = true;
        }
        if (!AddrResolved) {
            ResolveTargets();
            AddrResolved = true;
        }
    } catch (const std::exception& E) {
        ReportError(Prefix + std::string(E.what()));
        return false;
    }
    return true;
}

// The addresses of Addr, then the alternatives (an unusable one is passed over).
void TCustomWSocket::ResolveTargets() {
    ResolvedTargets = WSocketResolveHostAll(FAddr);
    for (const auto& Text : FAddrAlternatives) {
        try {
            for (const auto& A : WSocketResolveHostAll(Text))
                ResolvedTargets.push_back(A);
        } catch (const ESocketException&) {
        }
    }
    AddressFamily = ResolvedTargets.front().ss_family;
    // RemoteAddr keeps the first IPv4 address for the datagram calls that use it.
    for (const auto& A : ResolvedTargets)
        if (A.ss_family == AF_INET) {
            RemoteAddr.sin_addr = reinterpret_cast<const sockaddr_in&>(A).sin_addr;
            break;
        }
}

void TCustomWSocket::BindLocalAddress() {
    sockaddr_in Local{};
    Local.sin_family = AF_INET;
    Local.sin_port = htons(static_cast<std::uint16_t>(LocalPortNumber));
    Local.sin_addr.s_addr = WSocketResolveHost(FLocalAddr);
    if (Winsock().bind(SocketHandle, reinterpret_cast<sockaddr*>(&Local), sizeof Local) ==
        ws::SOCKET_ERROR) {
        ReportErrorFmt("winsock.bind failed, error #%d", Winsock().WSAGetLastError());
        return;
    }
    sockaddr_in Bound{};
    int Len = sizeof Bound;
    if (Winsock().getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&Bound), &Len) ==
        ws::SOCKET_ERROR) {
        ReportErrorFmt("winsock.getsockname failed, error #%d", Winsock().WSAGetLastError());
        return;
    }
    LocalPortNumber = ntohs(Bound.sin_port);
    FLocalPort = std::to_string(LocalPortNumber);
}

// Quick-ack off before the connect makes the kernel hold back the handshake's last ACK until
// data goes out with it. Only a saving: a socket that refuses the option connects as before.
void TCustomWSocket::DelayHandshakeAck() {
    const int Off = 0;
    Winsock().setsockopt(SocketHandle, IPPROTO_TCP, TCP_QUICKACK, &Off, sizeof Off);
}

void TCustomWSocket::Connect() {
    TActiveScope scope(this);
    if (SocketHandle != INVALID_SOCKET && FState != wsClosed)
        return ReportError("Connect: Socket already in use");
    if (!PortAssigned)
        return ReportError("Connect: No Port Specified");
    if (!AddrAssigned)
        return ReportError("Connect: No IP Address Specified");
    if (!ProtoAssigned)
        return ReportError("Connect: No Protocol Specified");
    if (!ResolveEndpoint("connect: ", true))
        return;
    ClearSendBuffers();  // data left from an earlier connection is dropped
    StartAttempts();
}

void TCustomWSocket::Listen() {
    TActiveScope scope(this);
    auto Refuse = [this](const char* What) {
        Winsock().WSASetLastError(ws::WSAEINVAL);
        ReportSocketError(What);
    };
    // A second socket would leave the first one open and listening, out of reach.
    if (SocketHandle != INVALID_SOCKET && FState != wsClosed)
        return Refuse("listen: socket already in use");
    if (!PortAssigned)
        return Refuse("listen: port not assigned");
    if (!ProtoAssigned)
        return Refuse("listen: protocol not assigned");
    if (!AddrAssigned)
        return Refuse("listen: address not assigned");
    if (!ResolveEndpoint("listen: ", false))
        return;
    ClearSendBuffers();
    sockaddr_storage Local{};
    std::memcpy(&Local, &RemoteAddr, sizeof RemoteAddr);
    if (!ResolvedTargets.empty())
        Local = TargetWithPort(ResolvedTargets.front());
    const int LocalLen = Local.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    SocketHandle = Winsock().socket(Local.ss_family, SocketType, ProtoNumber);
    if (SocketHandle == INVALID_SOCKET)
        return ReportSocketError("socket");
    CloseInvoked = false;
    if (Winsock().bind(SocketHandle, reinterpret_cast<sockaddr*>(&Local), LocalLen) ==
        ws::SOCKET_ERROR) {
        // The state is still closed, so Close alone would leave the new socket open.
        SOCKET Unbound = SocketHandle;
        try {
            ReportSocketError("Bind");
        } catch (...) {
            Winsock().closesocket(Unbound);
            SocketHandle = INVALID_SOCKET;
            throw;
        }
        Winsock().closesocket(Unbound);
        SocketHandle = INVALID_SOCKET;
        Close();
        return;
    }
    ChangeState(wsBound);
    if (SocketType == SOCK_DGRAM) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        DoSessionConnected(0);
    } else {
        if (Winsock().listen(SocketHandle, 5) == ws::SOCKET_ERROR)
            return ReportSocketError("Listen");
        ChangeState(wsListening);
    }
    SelectEvents = kListenEvents;
    if (Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, WM_SOCKET_SELECT, SelectEvents) ==
        ws::SOCKET_ERROR)
        ReportSocketError("WSAASyncSelect");
}

TCustomWSocket::SOCKET TCustomWSocket::Accept() {
    TActiveScope scope(this);
    if (FState != wsListening) {
        Winsock().WSASetLastError(ws::WSAEINVAL);
        ReportSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    sockaddr_storage Peer{};
    int Len = sizeof Peer;
    SOCKET NewSocket = Winsock().accept(SocketHandle, reinterpret_cast<sockaddr*>(&Peer), &Len);
    if (Peer.ss_family == AF_INET)
        std::memcpy(&RemoteAddr, &Peer, sizeof RemoteAddr);
    if (NewSocket == INVALID_SOCKET)
        ReportSocketError("Accept");
    return NewSocket;
}

void TCustomWSocket::Dup(SOCKET NewSocket) {
    TActiveScope scope(this);
    if (NewSocket == 0 || NewSocket == INVALID_SOCKET) {
        Winsock().WSASetLastError(ws::WSAEINVAL);
        return ReportSocketError("Dup");
    }
    if (FState != wsClosed) {
        int Rc = Winsock().closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        if (Rc == ws::SOCKET_ERROR)
            return ReportSocketError("Dup (closesocket)");
        ChangeState(wsClosed);
    }
    SocketHandle = NewSocket;
    CloseInvoked = false;
    ApplyLinger();
    SelectEvents = kDupEvents;
    if (Winsock().WSAAsyncSelect(SocketHandle, WindowHandle, WM_SOCKET_SELECT, SelectEvents) ==
        ws::SOCKET_ERROR)
        return ReportSocketError("WSAAsyncSelect");
    ChangeState(wsConnected);
}

// Address queries.

std::string TCustomWSocket::GetPeerAddr() {
    TActiveScope scope(this);
    if (FState != wsConnected)
        return "error";
    sockaddr_storage Peer{};
    int Len = sizeof Peer;
    if (Winsock().getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&Peer), &Len) ==
        ws::SOCKET_ERROR) {
        ReportSocketError("GetPeerName");
        return "error";
    }
    return SockAddrText(Peer);
}

std::string TCustomWSocket::GetPeerPort() {
    TActiveScope scope(this);
    if (FState != wsConnected)
        return "error";
    sockaddr_storage Peer{};  // the port lies at the same place in both families' records
    int Len = sizeof Peer;
    if (Winsock().getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&Peer), &Len) ==
        ws::SOCKET_ERROR) {
        ReportSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(reinterpret_cast<const sockaddr_in&>(Peer).sin_port));
}

int TCustomWSocket::GetPeerSockAddr(sockaddr_in& Name, int NameLen) {
    if (FState != wsConnected)
        return -1;
    return Winsock().getpeername(SocketHandle, reinterpret_cast<sockaddr*>(&Name), &NameLen);
}

std::string TCustomWSocket::GetBoundPort() {
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    sockaddr_storage Local{};  // the port lies at the same place in both families' records
    int Len = sizeof Local;
    if (Winsock().getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&Local), &Len) ==
        ws::SOCKET_ERROR)
        return "error";
    char Text[16];
    std::snprintf(Text, sizeof Text, "%d",
                  ntohs(reinterpret_cast<const sockaddr_in&>(Local).sin_port));
    return Text;
}

int TCustomWSocket::GetLocalSockAddr(sockaddr_in& Name, int& NameLen) {
    return Winsock().getsockname(SocketHandle, reinterpret_cast<sockaddr*>(&Name), &NameLen);
}
