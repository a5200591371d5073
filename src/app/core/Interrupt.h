// Ctrl+C (and a polite SIGTERM) for a program that runs the message loop: the signal handler
// only writes to an eventfd that the loop watches, and the reaction runs from the loop like
// a button click would. A second signal ends the program the hard way.
#pragma once

#include <csignal>
#include <functional>

#include "sys/Messages.h"
#include "sys/Poller.h"

class TInterrupt {
  public:
    explicit TInterrupt(std::function<void()> onInterrupt);
    ~TInterrupt();
    TInterrupt(const TInterrupt&) = delete;
    TInterrupt& operator=(const TInterrupt&) = delete;

    // True once a signal has been taken from the loop.
    bool Happened() const { return happened_; }

  private:
    void Taken(sys::TMessage& message);

    std::function<void()> onInterrupt_;
    int eventFd_ = -1;
    sys::HWND window_ = 0;
    sys::FdWatchId watch_ = 0;
    bool happened_ = false;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};
