// A run never asks for more sockets than the process may open.
#include <gtest/gtest.h>

#include "app/core/JobLimit.h"

TEST(JobLimit, JobsFitTheDescriptorsLeftForRows) {
    struct Case {
        int jobs;
        long openFiles;
        int expected;
    };
    const Case cases[] = {
        {128, 1024, 128},                     // the usual soft limit holds the default
        {256, 1048576, 256}, {256, 256, 96},  // (256 - 64 kept) / 2
        {64, 64, 1},                          // nothing left: one row still runs
        {8, 0, 1},                            // the limit could not be read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.jobs) + " in " + std::to_string(c.openFiles));
        EXPECT_EQ(JobsWithinFileLimit(c.jobs, c.openFiles), c.expected);
    }
    EXPECT_EQ(
        FewerJobsLine(256, 96, 256),
        "--jobs 256: nur 96 zugleich, da höchstens 256 Dateien offen sein dürfen (ulimit -n)");
}
