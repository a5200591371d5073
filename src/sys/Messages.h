// Window messages on Linux: hidden windows, one message queue per thread, posting from any
// thread, and the peek/get/wait/dispatch calls that the components pump with.
#pragma once

#include <cstdint>
#include <functional>

namespace sys {

using HWND = std::uint64_t;  // 0 is "no window"; handles are never reused
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

struct MSG {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// The record a window procedure receives; Result is returned by DispatchMessage.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

using TWndMethod = std::function<void(TMessage&)>;

// Registers a receiver owned by the calling thread. Its messages go to that thread's queue.
HWND AllocateHWnd(TWndMethod proc);
// Unregisters the receiver; queued and later posts to it are dropped. Safe inside its own proc.
void DeallocateHWnd(HWND h);
bool IsWindow(HWND h);

// Appends to the queue of the thread owning h. Any thread may call it. False when h is gone.
bool PostMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
// Posts WM_QUIT (hwnd 0, wParam = exitCode) to the calling thread's queue.
void PostQuitMessage(int exitCode);

// Takes (PM_REMOVE) or looks at the first message matching the filter. A filter window of 0
// and a range of 0..0 match everything. Readiness of watched descriptors is collected first.
bool PeekMessage(MSG& msg, HWND filter, UINT msgMin, UINT msgMax, UINT removeFlag);
// Blocks until a matching message is there and takes it; false when it was WM_QUIT.
bool GetMessage(MSG& msg, HWND filter, UINT msgMin, UINT msgMax);
// Blocks until the calling thread's queue holds a message (returns at once if it does).
void WaitMessage();
// Calls the window procedure of msg.hwnd; messages for windows that are gone are dropped.
LRESULT DispatchMessage(const MSG& msg);
// Kept for the shape of the pumps; there is no keyboard translation here.
inline void TranslateMessage(const MSG&) {}
inline LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// Number of messages waiting in the calling thread's queue.
std::size_t PendingMessageCount();

// What a test leaves behind, for the tests' clean-loop check. Windows are counted over all
// threads; watches (timers' own not counted), timers and messages are those of the calling
// thread. Only messages that would still reach someone count: those for a live window or for
// the thread itself (WM_QUIT); the loop drops the rest unseen.
std::size_t LiveWindowCount();
std::size_t WatchCount();
std::size_t TimerCount();
std::size_t PendingLiveMessageCount();

}  // namespace sys
