// The socket calls as the socket component uses them: one table, filled when the socket layer
// is started by the first call of any component and emptied when it is shut down again.
#pragma once

#include "sys/AsyncLookup.h"
#include "sys/WinSock.h"

namespace ws = sys::winsock;

struct TWinsockApi {
    decltype(&ws::WSAGetLastError) WSAGetLastError;
    decltype(&ws::WSASetLastError) WSASetLastError;
    decltype(&ws::WSAAsyncSelect) WSAAsyncSelect;
    decltype(&ws::WSAAsyncGetHostByName) WSAAsyncGetHostByName;
    decltype(&ws::WSAAsyncGetHostByAddr) WSAAsyncGetHostByAddr;
    decltype(&ws::WSACancelAsyncRequest) WSACancelAsyncRequest;
    decltype(&ws::gethostbyname) gethostbyname;
    decltype(&ws::getservbyname) getservbyname;
    decltype(&ws::getprotobyname) getprotobyname;
    decltype(&ws::inet_addr) inet_addr;
    decltype(&ws::inet_ntoa) inet_ntoa;
    decltype(&ws::socket) socket;
    decltype(&ws::bind) bind;
    decltype(&ws::connect) connect;
    decltype(&ws::listen) listen;
    decltype(&ws::accept) accept;
    decltype(&ws::setsockopt) setsockopt;
    decltype(&ws::getsockname) getsockname;
    decltype(&ws::getpeername) getpeername;
    decltype(&ws::send) send;
    decltype(&ws::sendto) sendto;
    decltype(&ws::recv) recv;
    decltype(&ws::recvfrom) recvfrom;
    decltype(&ws::ioctlsocket) ioctlsocket;
    decltype(&ws::shutdown) shutdown;
    decltype(&ws::closesocket) closesocket;
    decltype(&ws::WSAAsyncGetAddrInfo) WSAAsyncGetAddrInfo;
    decltype(&ws::getaddrlist) getaddrlist;
};

// The table, starting the socket layer first when it is not started (raises
// ESocketException when that fails).
const TWinsockApi& Winsock();

// Counting of live socket components; the last one going shuts the layer down.
void WSocketInstanceCreated();
void WSocketInstanceDestroyed();
