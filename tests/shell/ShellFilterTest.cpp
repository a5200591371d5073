#include "shell/ShellFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using shell::JoinFilter;
using shell::MatchPattern;
using shell::SplitFilter;

namespace {

TEST(ShellFilter, PatternMatching) {
    struct Case {
        std::string name;
        std::string pattern;
        bool match;
    };
    const Case cases[] = {
        {"News.URL", "*.url", true},  // letter case does not count
        {"news.txt", "*.url", false},
        {"", "*", true},  // "*" matches every name, the empty one too
        {"anything", "*", true},
        {"readme", "*.*", false},  // "*.*" needs a dot
        {"a.b", "*.*", true},
        {"", "", true},  // the empty pattern matches only the empty name
        {"a", "", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abcd", "a?c", false},  // a used-up pattern against a remaining name
        {"x.url", "*x*", true},
        {"a", "a*", true},
        {"a", "a**", false},  // only a lone "*" matches a used-up name
        {"ab", "**", true},
        {"", "**", false},
        {"\xC3\xA4.url", "?*.URL", true},  // bytes: the two-byte letter is two characters
        {"\xC3\xA4", "?", false},
        {"\xC3\xA4", "\xC3\x84", false},  // no upper-casing beyond ASCII
        // Many stars against a long name that fails at its end: no exponential re-tries.
        {std::string(200, 'a'), "*a*a*a*a*a*a*a*a*a*a*a*b", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchPattern(c.name, c.pattern), c.match)
            << '"' << c.name << "\" against \"" << c.pattern << '"';
}

TEST(ShellFilter, FilterTextsSplitAndJoin) {
    struct Case {
        const char* text;
        std::vector<std::string> patterns;
        const char* readBack;
    };
    const Case cases[] = {
        {"", {"*"}, "*"},
        {"*.url", {"*.url"}, "*.url"},
        {"*.url;", {"*.url"}, "*.url"},
        {"*.url; *.txt", {"*.url", " *.txt"}, "*.url; *.txt"},  // the blank stays
        {"a;;b", {"a", "", "b"}, "a;;b"},
        {";", {""}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitFilter(c.text), c.patterns) << c.text;
        EXPECT_EQ(JoinFilter(SplitFilter(c.text)), c.readBack) << c.text;
    }
    EXPECT_EQ(JoinFilter({}), "");
}

}  // namespace
