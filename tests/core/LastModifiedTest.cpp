#include "app/core/LastModified.h"

#include <gtest/gtest.h>

TEST(LastModified, MonthIndexIgnoresAsciiCaseAndFallsBackToJanuary) {
    const struct {
        const char* month;
        int index;
    } cases[] = {{"Jan", 1}, {"Oct", 10}, {"dec", 12}, {"MAY", 5}, {"Okt", 1},
                 {"Mär", 1}, {"Octo", 1}, {"Oc", 1},   {"", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(MonthIndex(c.month), c.index) << c.month;
}

TEST(LastModified, PadTwoFillsToTwoCharacters) {
    EXPECT_EQ(PadTwo(""), "00");
    EXPECT_EQ(PadTwo("1"), "01");
    EXPECT_EQ(PadTwo("10"), "10");
    EXPECT_EQ(PadTwo("123"), "123");
}

TEST(LastModified, DateTextIsCutFromFixedPositions) {
    const struct {
        const char* line;
        const char* text;
    } cases[] = {
        {"Last-Modified: Wed, 09 Oct 2002 10:10:10 GMT", "2002/10/09; 10:10:10 GMT"},
        {"Last-Modified: Sun, 01 dec 1996 00:00:00 GMT", "1996/12/01; 00:00:00 GMT"},
        // Another language's month name gives January; nothing is validated.
        {"Last-Modified: Mi., 09 Okt 2002 10:10:10 GMT", "2002/01/09; 10:10:10 GMT"},
        {"Last-Modified: Wed, 09 Mai 2002 10:10:10 GMT", "2002/01/09; 10:10:10 GMT"},
        // Another layout is cut at the same positions.
        {"Last-Modified:Wed, 09 Oct 2002 10:10:10 GMT", "002 /01/9 ;10:10:10 GMT"},
        // Short lines convert from the characters they have.
        {"Last-Modified: Wed, 09 Oct 2002 10:10", "2002/10/09; 10:10"},
        {"Last-Modified: Wed, 09 Oct 2002", "2002/10/09;"},
        {"Last-Modified: Wed, 09 Oct 20", "20/10/09;"},
        {"Last-Modified: Wed, 09 Oc", "/01/09;"},
        {"Last-Modified: Wed, 9", "/01/9;"},
        {"Last-Modified: Wed, ", "/01/;"},
        {"Last-Modified:", "/01/;"},
        {"", "/01/;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LastModifiedDateText(c.line), c.text) << c.line;
}
