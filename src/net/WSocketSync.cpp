// The synchronous wait layer: turns an asynchronous operation into a blocking one by running
// the message loop until a flag holds. The wait blocks in the loop; a time-out is a timer
// message to the socket's own window, so that the loop wakes for it without polling.
#include <chrono>

#include "WSocket.h"
#include "sys/Application.h"
#include "sys/Poller.h"

namespace {

// Each wait has a timer of its own: a wait nested in a handler of an outer one on the same
// socket must neither replace nor kill the outer wait's timer. The ids stay clear of the
// socket's other timers (FallbackTimerId).
constexpr std::uintptr_t kFirstWaitTimer = 0x57430000;
thread_local std::uintptr_t NextWaitTimer = kFirstWaitTimer;

// Stops the time-out timer however the wait ends.
class TWaitTimer {
  public:
    TWaitTimer(sys::HWND Window, int Ms) : window_(Window), id_(Ms > 0 ? NextWaitTimer++ : 0) {
        if (id_)
            sys::SetTimer(window_, id_, static_cast<unsigned>(Ms));
    }
    ~TWaitTimer() {
        if (id_)
            sys::KillTimer(window_, id_);
    }
    TWaitTimer(const TWaitTimer&) = delete;
    TWaitTimer& operator=(const TWaitTimer&) = delete;

  private:
    sys::HWND window_;
    std::uintptr_t id_;
};

}  // namespace

int TCustomSyncWSocket::RunAndWait(bool& Done, const std::function<void()>& Routine) {
    TActiveScope scope(this);
    Done = false;
    const unsigned CloseMark = FCloses;
    if (Routine)
        Routine();
    return WaitUntil(Done, CloseMark);
}

int TCustomSyncWSocket::WaitForFlag(bool& Done) {
    return WaitUntil(Done, FCloses);
}

// A flag that a handler of this socket was to set can no longer be set once the socket is
// closed: the wait ends then instead of blocking for ever.
int TCustomSyncWSocket::WaitUntil(bool& Done, unsigned CloseMark) {
    if (Done)
        return 0;
    TActiveScope scope(this);
    using Clock = std::chrono::steady_clock;
    const bool Limited = FWaitTimeout > 0;
    const Clock::time_point Deadline = Clock::now() + std::chrono::milliseconds(FWaitTimeout);
    TWaitTimer Timer(WindowHandle, FWaitTimeout);
    auto& App = sys::Application::Instance();
    while (!Done) {
        if (FCloses != CloseMark && FState == wsClosed)
            return FEndError ? FEndError : sys::winsock::WSAENOTCONN;
        if ((Limited && Clock::now() >= Deadline) || App.Terminated() || FTerminated)
            return WSOCKET_WAIT_GIVEN_UP;
        WaitForMessage();  // a socket event, any other message, or the timer
    }
    return 0;
}

void TCustomSyncWSocket::DoSessionConnected(sys::Word Error) {
    if (Error && !FEndError)
        FEndError = Error;
    TCustomLineWSocket::DoSessionConnected(Error);
}

void TCustomSyncWSocket::DoSessionClosed(sys::Word Error) {
    if (Error && !FEndError)
        FEndError = Error;
    TCustomLineWSocket::DoSessionClosed(Error);
}

void TCustomSyncWSocket::DoChangeState(TSocketState OldState, TSocketState NewState) {
    if (NewState == wsClosed && OldState != wsClosed)
        ++FCloses;
    else if (OldState == wsClosed && NewState != wsClosed)
        FEndError = 0;  // a new connection
    TCustomLineWSocket::DoChangeState(OldState, NewState);
}
