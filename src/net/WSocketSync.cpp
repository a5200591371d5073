// The synchronous wait layer: turns an asynchronous operation into a blocking one by running
// the message loop until a flag holds. The wait blocks in the loop; a time-out is a timer
// message to the socket's own window, so that the loop wakes for it without polling.
#include <chrono>

#include "WSocket.h"
#include "sys/Application.h"
#include "sys/Poller.h"

namespace {

constexpr std::uintptr_t kWaitTimer = 0x5743;  // the socket's window has no other timer

// Stops the time-out timer however the wait ends.
class TWaitTimer {
  public:
    TWaitTimer(sys::HWND Window, int Ms) : window_(Window), set_(Ms > 0) {
        if (set_)
            sys::SetTimer(window_, kWaitTimer, static_cast<unsigned>(Ms));
    }
    ~TWaitTimer() {
        if (set_)
            sys::KillTimer(window_, kWaitTimer);
    }
    TWaitTimer(const TWaitTimer&) = delete;
    TWaitTimer& operator=(const TWaitTimer&) = delete;

  private:
    sys::HWND window_;
    bool set_;
};

}  // namespace

int TCustomSyncWSocket::RunAndWait(bool& Done, const std::function<void()>& Routine) {
    TActiveScope scope(this);
    Done = false;
    if (Routine)
        Routine();
    return WaitForFlag(Done);
}

int TCustomSyncWSocket::WaitForFlag(bool& Done) {
    if (Done)
        return 0;
    TActiveScope scope(this);
    using Clock = std::chrono::steady_clock;
    const bool Limited = FWaitTimeout > 0;
    const Clock::time_point Deadline = Clock::now() + std::chrono::milliseconds(FWaitTimeout);
    TWaitTimer Timer(WindowHandle, FWaitTimeout);
    auto& App = sys::Application::Instance();
    while (!Done) {
        if ((Limited && Clock::now() >= Deadline) || App.Terminated() || FTerminated)
            return WSOCKET_WAIT_GIVEN_UP;
        WaitForMessage();  // a socket event, any other message, or the timer
    }
    return 0;
}
