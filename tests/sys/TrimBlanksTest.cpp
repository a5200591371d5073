// Trimming blanks: only the named set goes, only at the ends, and a text of blanks becomes empty.
#include <gtest/gtest.h>

#include <string>

#include "sys/AsciiText.h"

namespace {

using namespace std::string_literals;

struct TTrimRow {
    const char* name;
    std::string text;
    std::string_view blanks;
    std::string expected;
};

TEST(TrimBlanks, DropsTheNamedBlanksAtBothEndsOnly) {
    const TTrimRow rows[] = {
        {"nothing to drop", "a b", sys::kSpaceAndTab, "a b"},
        {"spaces and tabs at both ends", " \t a \t b\t ", sys::kSpaceAndTab, "a \t b"},
        {"empty", "", sys::kSpaceAndTab, ""},
        {"only blanks", " \t\t ", sys::kSpaceAndTab, ""},
        {"line ends are no space or tab", "\r\na\r\n", sys::kSpaceAndTab, "\r\na\r\n"},
        {"control bytes with the socket set", "\r\n\x01 host\x1f\0"s, sys::kSpaceAndControls,
         "host"},
        {"NUL inside stays", "\0a\0b\0"s, sys::kSpaceAndControls, "a\0b"s},
        {"DEL and high bytes are no blanks",
         "\x7f"
         "a\xff",
         sys::kSpaceAndControls,
         "\x7f"
         "a\xff"},
    };
    for (const TTrimRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(sys::TrimBlanks(row.text, row.blanks), row.expected);
    }
}

}  // namespace
