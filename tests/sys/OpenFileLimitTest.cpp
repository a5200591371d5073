// The soft limit on open descriptors is raised to the hard one, so that a run can hold a socket
// per row in flight.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "sys/OpenFileLimit.h"

TEST(OpenFileLimit, SoftLimitRisesToTheHardOne) {
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    if (before.rlim_max != RLIM_INFINITY && before.rlim_max < 128)
        GTEST_SKIP() << "hard limit " << before.rlim_max << " leaves nothing to raise";
    rlimit lowered = before;
    lowered.rlim_cur = 100;  // anyone may lower the soft limit, root or not
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

    const long raised = sys::RaiseOpenFileLimit();

    rlimit after{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &after), 0);
    EXPECT_GT(raised, 100);
    EXPECT_EQ(static_cast<rlim_t>(raised), after.rlim_cur);
    EXPECT_EQ(after.rlim_max, before.rlim_max);
    if (before.rlim_max != RLIM_INFINITY) {
        EXPECT_EQ(after.rlim_cur, before.rlim_max);
    }
    ::setrlimit(RLIMIT_NOFILE, &before);
}
