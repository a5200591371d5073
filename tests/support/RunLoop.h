// Runs the application's message loop until a condition holds, bounded in time. The bound is
// a timer message, so the wait blocks in the loop and never sleeps or spins.
#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// True when done() held before the bound ran out.
bool RunLoopUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds bound = std::chrono::seconds(10));

}  // namespace testsupport
