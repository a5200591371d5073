// Signals for a program that runs the message loop: Ctrl+C, the end of the session, a polite
// kill. The signal handler only writes to an eventfd that the loop watches, and the reaction
// runs from the loop like a button click would, never inside the handler. A second signal of
// the same kind ends the program the hard way.
#pragma once

#include <csignal>
#include <functional>
#include <initializer_list>
#include <vector>

#include "sys/Messages.h"
#include "sys/Poller.h"

class TInterrupt {
  public:
    // Watches the signals until destroyed; onInterrupt gets the first signal of each
    // delivery. One object at a time.
    TInterrupt(std::initializer_list<int> watched, std::function<void(int signal)> onInterrupt);
    ~TInterrupt();
    TInterrupt(const TInterrupt&) = delete;
    TInterrupt& operator=(const TInterrupt&) = delete;

    // True once a signal has been taken from the loop.
    bool Happened() const { return signal_ != 0; }
    // The first signal taken, 0 before.
    int Signal() const { return signal_; }

  private:
    void Taken(sys::TMessage& message);

    std::function<void(int)> onInterrupt_;
    int eventFd_ = -1;
    sys::HWND window_ = 0;
    sys::FdWatchId watch_ = 0;
    int signal_ = 0;
    std::vector<std::pair<int, struct sigaction>> old_;
};
