// A clock for THttpCli's time-out that moves only when a test moves it, so that time-out
// tests never wait for real time to pass.
#pragma once

#include <chrono>

#include "http/HttpProt.h"
#include "sys/Messages.h"

class ManualClock {
  public:
    explicit ManualClock(THttpCli& cli) : cli_(cli) {
        cli_.SetClock([this] { return now_; });
    }
    ~ManualClock() { cli_.SetClock(nullptr); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Moves time on and has the client look at it at once, as its next timer tick would.
    void Advance(std::chrono::milliseconds by) {
        now_ += by;
        sys::PostMessage(cli_.Handle(), sys::WM_TIMER, THttpCli::kTickTimer, 0);
    }

  private:
    THttpCli& cli_;
    std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::now();
};
