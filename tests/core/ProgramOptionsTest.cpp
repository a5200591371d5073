#include "app/core/ProgramOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct NumberCase {
    std::vector<std::string> args;
    int jobs;     // JobsOf for quorvane-check; 0: the line is refused
    int timeout;  // TimeoutSeconds
};

TEST(ProgramOptionsTest, JobsAndTimeoutTakeWholeNumbersInTheirRange) {
    const NumberCase cases[] = {
        {{}, 8, 30},
        {{"--jobs", "1"}, 1, 30},
        {{"--jobs=64", "--timeout", "5"}, 64, 5},
        {{"--timeout=3600"}, 8, 3600},
        {{"--jobs", "0"}, 0, 0},
        {{"--jobs", "256"}, 256, 30},
        {{"--jobs", "257"}, 0, 0},
        {{"--jobs", "8x"}, 0, 0},
        {{"--jobs", "-2"}, 0, 0},
        {{"--jobs"}, 0, 0},
        {{"--timeout", "0"}, 0, 0},
        {{"--timeout", "99999999999"}, 0, 0},
    };
    for (const NumberCase& c : cases) {
        std::string line;
        for (const auto& arg : c.args)
            line += arg + " ";
        SCOPED_TRACE(line);
        if (c.jobs == 0) {
            EXPECT_THROW(ParseOptions(kCheckProgram, c.args), EBadOption);
            continue;
        }
        const TProgramOptions options = ParseOptions(kCheckProgram, c.args);
        EXPECT_EQ(JobsOf(options, kCheckProgram), c.jobs);
        EXPECT_EQ(options.TimeoutSeconds, c.timeout);
    }
}

TEST(ProgramOptionsTest, TheWindowChecksEightRowsAtOnceUnlessToldOtherwise) {
    EXPECT_EQ(JobsOf(ParseOptions(kWindowProgram, {}), kWindowProgram), 8);
    EXPECT_EQ(JobsOf(ParseOptions(kWindowProgram, {"--jobs", "16"}), kWindowProgram), 16);
    for (TProgramKind program : {kWindowProgram, kCheckProgram}) {
        SCOPED_TRACE(program == kWindowProgram ? "quorvane" : "quorvane-check");
        const std::string usage = Usage(program);
        EXPECT_NE(usage.find("--jobs N"), std::string::npos);
        EXPECT_NE(usage.find("--timeout SEKUNDEN"), std::string::npos);
    }
}

}  // namespace
