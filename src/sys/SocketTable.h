// The process-wide table behind socket handles, and the per-socket state of WSAAsyncSelect.
// Internal to sys: WinSock.cpp makes and drops entries, AsyncSelect.cpp drives notifications.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "Poller.h"
#include "ReadSide.h"
#include "WinSock.h"

namespace sys::winsock::detail {

enum class Phase { Idle, Connecting, Connected, Listening, Failed };

// Which notifications may be posted next; each is consumed when its event is signalled and
// re-enabled by the call named in WinSock.h.
struct SelectState {
    HWND hwnd = 0;
    UINT msg = 0;
    long mask = 0;
    std::thread::id owner;
    FdWatchId watch = 0;
    std::uint32_t watched = 0;  // epoll bits of the watch
    ReadSide read;              // FD_READ and FD_CLOSE
    bool writeArmed = false;
    bool acceptArmed = false;
};

struct SocketRecord {
    int fd = -1;
    SOCKET handle = INVALID_SOCKET;
    int type = SOCK_STREAM;
    Phase phase = Phase::Idle;
    bool nonBlocking = false;  // the descriptor's mode, kept here to spare asking the system
    SelectState sel;
};

struct SocketTable {
    std::mutex mutex;
    std::unordered_map<int, SocketRecord> byFd;
};

SocketTable& Table();
// The record of a live handle, or nullptr. The caller holds Table().mutex.
SocketRecord* Find(SOCKET s);
// Brings the epoll watch of a record in line with its state. Caller holds the mutex. A watch
// that is no longer wanted stays until it next fires unless dropUnwanted is set.
void UpdateWatch(SocketRecord& r, bool dropUnwanted = false);
// A connect found ended without waiting (events as poll gave them, refusal the error of a
// connect refused inside the call, else 0): FD_CONNECT (and FD_WRITE after a success) are
// posted now, as the watch would have when it fired. Caller holds the mutex.
void ConnectEndedAtOnce(SocketRecord& r, std::uint32_t events, int refusal);
// Stops notifications of a record that is about to go. Caller holds the mutex. With
// descriptorClosing the caller closes the descriptor next, which takes it off epoll, so no
// epoll_ctl is made.
void DropWatch(SocketRecord& r, bool descriptorClosing = false);

}  // namespace sys::winsock::detail
