// A test listener that fails every test which leaves the message loop less clean than it found
// it: more live windows, descriptor watches, timers, sockets or pending messages at its end
// than at its start. Each leak is one stale event or descriptor waiting to hit a later test.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

namespace testsupport {

struct LoopCounts {
    std::size_t windows = 0;  // of every thread: a thread's window outlives the thread
    std::size_t watches = 0;  // the rest are the calling thread's
    std::size_t timers = 0;
    // Messages for a freed window do not count: the loop drops them unseen, and a test that
    // frees a socket from its own handler cannot help leaving some.
    std::size_t messages = 0;
    std::optional<std::size_t> sockets;  // empty in programs without the socket layer
};

// What the loop holds now (see sys::LiveWindowCount and its neighbours).
LoopCounts ReadLoopCounts();
// One clause per count that grew, "1 timer (before 0, after 1)"; empty when none grew.
std::string DescribeLeaks(const LoopCounts& before, const LoopCounts& after);

class CleanLoopListener : public ::testing::EmptyTestEventListener {
  public:
    void OnTestStart(const ::testing::TestInfo&) override { TakeBaseline(); }
    void OnTestEnd(const ::testing::TestInfo& info) override;

    void TakeBaseline() { before_ = ReadLoopCounts(); }
    // Adds a failure to the running test, naming testName and what it leaked.
    void CheckClean(const std::string& testName) const;

  private:
    LoopCounts before_;
};

// Appends a CleanLoopListener to gtest's listeners; every test main calls it.
void InstallCleanLoopListener();

}  // namespace testsupport
