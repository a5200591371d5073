// Asynchronous host look-ups on a small pool of worker threads. The worker only resolves; the
// host entry is written into the caller's buffer and the completion posted to the caller's
// window (wParam = task handle, lParam high word = error) unless the task was cancelled first.
// A cancelled task writes and posts nothing. Task handles are never reused within the process.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "WinSock.h"

namespace sys::winsock {

// Resolves name (IPv4) into a host entry laid out in buf (buflen bytes, aligned for pointers):
// official name, no aliases, AF_INET, length 4 and the addresses. 0 on failure to start.
HANDLE WSAAsyncGetHostByName(HWND h, UINT msg, const char* name, char* buf, int buflen);
// Resolves name for both families into list (ADDRESSLIST), written before the completion is
// posted and never after a cancel. 0 on failure to start.
HANDLE WSAAsyncGetAddrInfo(HWND h, UINT msg, const char* name, ADDRESSLIST* list);
// Resolves the len-byte address addr of family type into a host entry whose official name is
// the host's name. 0 on failure to start.
HANDLE WSAAsyncGetHostByAddr(HWND h, UINT msg, const char* addr, int len, int type, char* buf,
                             int buflen);
// 0 when the task will not write or post any more (also when it had already completed);
// SOCKET_ERROR with WSAEINVAL for a handle that was never issued.
int WSACancelAsyncRequest(HANDLE task);

namespace detail {
// Runs on the worker before each resolution. Tests hold a worker there to cancel a task that is
// certainly still running; the program never sets it.
void SetLookupGateForTest(std::function<void()> gate);
// Names that the look-ups of both families answer from this table (address texts of either
// family) before they ask the resolver, so that a test can give a name an IPv6 and an IPv4
// address. An empty table ends it.
void SetHostsForTest(std::map<std::string, std::vector<std::string>> hosts);
}  // namespace detail

}  // namespace sys::winsock
