// The pieces of quorvane-check's output for scripts and terminals: texts made safe for JSON and
// CSV, dates in ISO 8601, the colour decision and the addresses read from standard input.
#include "app/core/RowRecord.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "app/core/AddressRows.h"
#include "app/core/ConsoleColor.h"

namespace {

// Every text comes back from a JSON parser as it went in, with bytes that are no UTF-8
// replaced by U+FFFD, one for each byte that starts no valid sequence.
TEST(RowRecordTest, JsonStringsParseBackForAnyBytes) {
    struct Case {
        const char* name;
        std::string text, parsed;
    } cases[] = {
        {"plain", "Bahn", "Bahn"},
        {"quote and backslash", "a\"b\\c", "a\"b\\c"},
        {"control bytes", std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0'),
         std::string("a\nb\tc\x01\x1f", 7) + std::string(1, '\0')},
        {"non-ASCII kept", "Café 日本 😀", "Café 日本 😀"},
        {"a stray byte",
         "a\xff"
         "b",
         "a\uFFFDb"},
        {"a sequence cut short", "a\xe6\x97", "a\uFFFD\uFFFD"},
        {"an overlong form", "\xc0\xaf", "\uFFFD\uFFFD"},
        {"a surrogate", "\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"DEL and U+2028", "\x7f\u2028", "\x7f\u2028"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = JsonString(c.text);
        EXPECT_EQ(json.find_first_of(std::string("\n\r\t\0", 4)), std::string::npos) << json;
        EXPECT_EQ(nlohmann::json::parse(json).get<std::string>(), c.parsed);
        EXPECT_EQ(ValidUtf8(c.text), c.parsed);
    }
}

TEST(RowRecordTest, OnlyAStoredDateBecomesAnIsoDate) {
    EXPECT_EQ(IsoDate("2002/10/09; 10:10:10 GMT"), "2002-10-09T10:10:10Z");
    EXPECT_EQ(IsoDate("2016/12/31; 23:59:60 GMT"), "2016-12-31T23:59:60Z");  // a leap second
    for (const char* text :
         {"OK", "FAILED", "???", "", "2002/10/09; 10:10:10", "2002/1/09; 10:10:10 GMT",
          "2002/10/09; 10:10:1x GMT", "2002/10/09; 10:10:10 GMTX",
          // Digits a server may send that name no moment
          "2002/00/09; 10:10:10 GMT", "2002/13/09; 10:10:10 GMT", "2002/10/00; 10:10:10 GMT",
          "2002/10/32; 10:10:10 GMT", "2002/10/09; 24:10:10 GMT", "2002/10/09; 10:60:10 GMT",
          "2002/10/09; 10:10:61 GMT"})
        EXPECT_EQ(IsoDate(text), std::nullopt) << text;
}

TEST(RowRecordTest, CsvQuotesOnlyTheFieldsThatNeedIt) {
    TFavoriteRow row{"Zeile\r\n2", "Sub/", "2002/10/09; 10:10:10 GMT", "http://a.example/?a,b",
                     "/f/x.url",   0};
    TRowReport report{200, "O\"K", "", std::chrono::milliseconds(12)};
    EXPECT_EQ(CsvRecord(RecordOf(row, report)),
              "/f/x.url,Sub,\"Zeile\r\n2\",\"http://a.example/?a,b\",2002/10/09; 10:10:10 "
              "GMT,200,\"O\"\"K\",\"http://a.example/?a,b\",2002-10-09T10:10:10Z,12\r\n");
    row.Datum = "CHECKING...";
    EXPECT_EQ(JsonRecord(RecordOf(row, {})),
              "{\"file\":\"/f/x.url\",\"folder\":\"Sub\",\"name\":\"Zeile\\u000d\\u000a2\",\"url\":"
              "\"http://a.example/?a,b\",\"verdict\":\"???\",\"status\":null,\"reason\":\"\","
              "\"final_url\":\"http://a.example/?a,b\",\"last_modified\":null,\"ms\":0}");
}

TEST(RowRecordTest, ColoursFollowTheChoiceTheTerminalAndNoColor) {
    struct Case {
        TColorChoice choice;
        bool terminal;
        const char* noColor;
        const char* term;
        bool wanted;
    } cases[] = {
        {TColorChoice::Auto, true, nullptr, "xterm", true},
        {TColorChoice::Auto, true, "", "xterm", true},
        {TColorChoice::Auto, true, "1", "xterm", false},
        {TColorChoice::Auto, true, nullptr, "dumb", false},
        {TColorChoice::Auto, true, nullptr, nullptr, true},
        {TColorChoice::Auto, false, nullptr, "xterm", false},
        {TColorChoice::Always, false, "1", "dumb", true},
        {TColorChoice::Never, true, nullptr, "xterm", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.choice)) + (c.terminal ? " tty" : " pipe") +
                     " NO_COLOR=" + (c.noColor ? c.noColor : "(unset)") +
                     " TERM=" + (c.term ? c.term : "(unset)"));
        EXPECT_EQ(ColorsWanted(c.choice, c.terminal, c.noColor, c.term), c.wanted);
    }
    EXPECT_EQ(VerdictColor("OK"), VerdictColor("2002/10/09; 10:10:10 GMT"));
    EXPECT_EQ(VerdictColor("???"), "");
    EXPECT_NE(VerdictColor("FAILED"), VerdictColor("BLOCKED"));
}

TEST(RowRecordTest, AddressesComeFromArgumentsAndTheLinesOfStandardInput) {
    std::istringstream input(
        "# Liste\r\n\r\n  https://b.example/ \r\n\t#https://c.example/\nd.example");
    const auto rows = AddressRows({"https://a.example/", "-", "mailto:e"}, input);
    std::vector<std::string> names;
    for (const TFavoriteRow& row : rows) {
        names.push_back(row.Name);
        EXPECT_EQ(row.URL, row.Name);
        EXPECT_EQ(row.Datei, row.Name);
        EXPECT_EQ(row.Pfad, "");
    }
    EXPECT_THAT(names, testing::ElementsAre("https://a.example/", "https://b.example/", "d.example",
                                            "mailto:e"));
}

}  // namespace
