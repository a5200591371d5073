#include "app/core/ProgramOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Line(const std::vector<std::string>& args) {
    std::string line;
    for (const auto& arg : args)
        line += arg + " ";
    return line;
}

struct NumberCase {
    std::vector<std::string> args;
    int jobs;     // JobsOf for quorvane-check; 0: the line is refused
    int timeout;  // TimeoutSeconds
};

TEST(ProgramOptionsTest, JobsAndTimeoutTakeWholeNumbersInTheirRange) {
    const NumberCase cases[] = {
        {{}, 128, 30},
        {{"--jobs", "1"}, 1, 30},
        {{"--jobs=256", "--timeout", "5"}, 256, 5},
        {{"--timeout=3600"}, 128, 3600},
        {{"--jobs", "0"}, 0, 0},
        {{"--jobs", "257"}, 0, 0},
        {{"--jobs", "8x"}, 0, 0},
        {{"--jobs", "-2"}, 0, 0},
        {{"--jobs"}, 0, 0},
        {{"--timeout", "0"}, 0, 0},
        {{"--timeout", "99999999999"}, 0, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(Line(c.args));
        if (c.jobs == 0) {
            EXPECT_THROW(ParseOptions(kCheckProgram, c.args), EBadOption);
            continue;
        }
        const TProgramOptions options = ParseOptions(kCheckProgram, c.args);
        EXPECT_EQ(JobsOf(options, kCheckProgram), c.jobs);
        EXPECT_EQ(options.TimeoutSeconds, c.timeout);
    }
}

// Short options as in other tools: a value in the same word or the next, switches bundled.
TEST(ProgramOptionsTest, ShortOptionsTakeTheirValueJoinedOrApart) {
    struct Case {
        std::vector<std::string> args;
        int jobs, timeout;
        bool quiet;
        std::string favorites;
        std::vector<std::string> addresses;
    } cases[] = {
        {{"-j", "8"}, 8, 30, false, "", {}},
        {{"-j8", "-t5"}, 8, 5, false, "", {}},
        {{"-qj8"}, 8, 30, true, "", {}},
        {{"-qt", "7", "-f", "/mnt/Favorites"}, 128, 7, true, "/mnt/Favorites", {}},
        {{"-fDir"}, 128, 30, false, "Dir", {}},
        {{"http://a.example/", "-q", "-", "--", "-j"},
         128,
         30,
         true,
         "",
         {"http://a.example/", "-", "-j"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Line(c.args));
        const TProgramOptions options = ParseOptions(kCheckProgram, c.args);
        EXPECT_EQ(JobsOf(options, kCheckProgram), c.jobs);
        EXPECT_EQ(options.TimeoutSeconds, c.timeout);
        EXPECT_EQ(options.Quiet, c.quiet);
        EXPECT_EQ(options.FavoritesFolder, c.favorites);
        EXPECT_EQ(options.Addresses, c.addresses);
    }
    EXPECT_TRUE(ParseOptions(kCheckProgram, {"-h"}).Help);
    EXPECT_TRUE(ParseOptions(kCheckProgram, {"-V"}).Version);
    const TProgramOptions chosen =
        ParseOptions(kCheckProgram, {"--format", "csv", "--color=never", "--no-save"});
    EXPECT_EQ(chosen.Format, TOutputFormat::Csv);
    EXPECT_EQ(chosen.Color, TColorChoice::Never);
    EXPECT_TRUE(chosen.NoSave);
}

// One line that names what is wrong and where to read more.
TEST(ProgramOptionsTest, ABadCommandLineIsOneLineNamingIt) {
    struct Case {
        TProgramKind program;
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {kCheckProgram, {"--foo"}, "quorvane-check: unbekannte Option „--foo“; mehr mit --help"},
        {kCheckProgram, {"--foo=1"}, "quorvane-check: unbekannte Option „--foo“; mehr mit --help"},
        {kCheckProgram, {"-qx"}, "quorvane-check: unbekannte Option „-x“; mehr mit --help"},
        {kCheckProgram,
         {"-j"},
         "quorvane-check: die Option -j braucht einen Wert (N); mehr mit --help"},
        {kCheckProgram,
         {"-j0"},
         "quorvane-check: die Option --jobs braucht eine Zahl von 1 bis 256, nicht „0“; mehr mit "
         "--help"},
        {kCheckProgram,
         {"--format", "xml"},
         "quorvane-check: die Option --format kennt „xml“ nicht (text, json oder csv); mehr mit "
         "--help"},
        {kCheckProgram,
         {"--color=sometimes"},
         "quorvane-check: die Option --color kennt „sometimes“ nicht (auto, always oder never); "
         "mehr mit --help"},
        {kCheckProgram,
         {"--quiet=yes"},
         "quorvane-check: die Option --quiet nimmt keinen Wert; mehr mit --help"},
        {kCheckProgram,
         {"-f", "Favorites", "http://a.example/"},
         "quorvane-check: Adressen als Argumente gehen nicht zusammen mit --favorites oder "
         "--bookmarks; mehr mit --help"},
        // The window takes the options that make sense for it, and no addresses.
        {kWindowProgram,
         {"--format", "json"},
         "quorvane: unbekannte Option „--format“; mehr mit --help"},
        {kWindowProgram, {"-q"}, "quorvane: unbekannte Option „-q“; mehr mit --help"},
        {kWindowProgram, {"--no-save"}, "quorvane: unbekannte Option „--no-save“; mehr mit --help"},
        {kWindowProgram, {"x.url"}, "quorvane: unerwartetes Argument „x.url“; mehr mit --help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Line(c.args));
        try {
            ParseOptions(c.program, c.args);
            ADD_FAILURE() << "taken";
        } catch (const EBadOption& error) {
            EXPECT_EQ(BadOptionLine(c.program, error), c.line);
        }
    }
    const TProgramOptions window =
        ParseOptions(kWindowProgram, {"-f", "F", "-j16", "-t", "9", "--bookmarks", "b.html"});
    EXPECT_EQ(window.FavoritesFolder, "F");
    EXPECT_EQ(window.TimeoutSeconds, 9);
    EXPECT_EQ(window.BookmarkFiles, std::vector<std::string>{"b.html"});
}

TEST(ProgramOptionsTest, TheWindowChecksEightRowsAtOnceUnlessToldOtherwise) {
    EXPECT_EQ(JobsOf(ParseOptions(kWindowProgram, {}), kWindowProgram), 8);
    EXPECT_EQ(JobsOf(ParseOptions(kWindowProgram, {"-j16"}), kWindowProgram), 16);
    for (TProgramKind program : {kWindowProgram, kCheckProgram}) {
        SCOPED_TRACE(program == kWindowProgram ? "quorvane" : "quorvane-check");
        const std::string usage = Usage(program);
        EXPECT_NE(usage.find("-j, --jobs N"), std::string::npos);
        EXPECT_NE(usage.find("-t, --timeout SEKUNDEN"), std::string::npos);
        EXPECT_NE(usage.find("(Vorgabe: " + std::to_string(JobsOf({}, program)) + ")"),
                  std::string::npos);
    }
}

}  // namespace
