#include "CleanLoopListener.h"

#include "sys/Messages.h"

// Defined by the socket layer when a program has it; weak, so that programs without it (the
// loop's own tests) link and simply have no socket count.
int WSocketInstanceCount() __attribute__((weak));

namespace testsupport {

namespace {

void DescribeGrowth(std::string& out, const char* what, std::size_t before, std::size_t after) {
    if (after <= before)
        return;
    if (!out.empty())
        out += ", ";
    out += std::to_string(after - before) + " " + what + " (before " + std::to_string(before) +
           ", after " + std::to_string(after) + ")";
}

}  // namespace

LoopCounts ReadLoopCounts() {
    LoopCounts counts;
    counts.windows = sys::LiveWindowCount();
    counts.watches = sys::WatchCount();
    counts.timers = sys::TimerCount();
    counts.messages = sys::PendingLiveMessageCount();
    if (WSocketInstanceCount)
        counts.sockets = static_cast<std::size_t>(WSocketInstanceCount());
    return counts;
}

std::string DescribeLeaks(const LoopCounts& before, const LoopCounts& after) {
    std::string out;
    DescribeGrowth(out, "window(s)", before.windows, after.windows);
    DescribeGrowth(out, "watch(es)", before.watches, after.watches);
    DescribeGrowth(out, "timer(s)", before.timers, after.timers);
    DescribeGrowth(out, "pending message(s)", before.messages, after.messages);
    if (before.sockets && after.sockets)
        DescribeGrowth(out, "socket(s)", *before.sockets, *after.sockets);
    return out;
}

void CleanLoopListener::OnTestEnd(const ::testing::TestInfo& info) {
    CheckClean(std::string(info.test_suite_name()) + "." + info.name());
}

void CleanLoopListener::CheckClean(const std::string& testName) const {
    const std::string leaks = DescribeLeaks(before_, ReadLoopCounts());
    if (!leaks.empty())
        ADD_FAILURE() << testName << " left the message loop unclean: " << leaks;
}

void InstallCleanLoopListener() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new CleanLoopListener);
}

}  // namespace testsupport
