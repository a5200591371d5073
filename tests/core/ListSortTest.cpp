#include "app/core/ListSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

TFavoriteRow MakeRow(const std::string& name, const std::string& pfad, const std::string& datum,
                     int id) {
    TFavoriteRow r;
    r.Name = name;
    r.Pfad = pfad;
    r.Datum = datum;
    r.URL = "http://example.invalid/" + std::to_string(id);
    r.Datei = "/home/u/Favorites/" + pfad + name + "#" + std::to_string(id) + ".url";
    r.ImageIndex = id;
    return r;
}

auto Fields(const TFavoriteRow& r) {
    return std::tie(r.Name, r.Pfad, r.Datum, r.URL, r.Datei, r.ImageIndex);
}

struct Click {
    int column;
    bool checking = false;
};

struct SortCase {
    const char* what;
    std::vector<TFavoriteRow> rows;
    std::vector<Click> clicks;
    std::vector<int> order;  // ImageIndex of the rows after the clicks, top to bottom
    int column;              // SortColumn afterwards
    bool descending;         // SortDescending afterwards
};

std::vector<TFavoriteRow> Names(const std::vector<std::string>& names) {
    std::vector<TFavoriteRow> rows;
    for (const auto& n : names)
        rows.push_back(MakeRow(n, "", "???", static_cast<int>(rows.size())));
    return rows;
}

std::vector<TFavoriteRow> Mixed() {
    return {MakeRow("beta", "Reisen/", "OK", 0), MakeRow("Alpha", "Zeitung/", "???", 1),
            MakeRow("gamma", "", "FAILED", 2)};
}

std::vector<TFavoriteRow> Statuses() {
    std::vector<std::string> datum = {"OK",
                                      "FAILED",
                                      "2002/10/09; 10:10:10 GMT",
                                      "???",
                                      "CHECKING...",
                                      "1999/12/31; 23:59:59 GMT",
                                      "2002/01/15; 08:00:00 GMT"};
    std::vector<TFavoriteRow> rows;
    for (const auto& d : datum)
        rows.push_back(MakeRow("n", "", d, static_cast<int>(rows.size())));
    return rows;
}

// "\xc3\x84" is the UTF-8 A umlaut: its bytes lie above every ASCII letter.
const std::vector<SortCase> kSortCases = {
    {"first click on Name sorts descending", Mixed(), {{0}}, {2, 0, 1}, 0, true},
    {"second click on Name sorts ascending", Mixed(), {{0}, {0}}, {1, 0, 2}, 0, false},
    {"another column starts ascending", Mixed(), {{1}}, {2, 0, 1}, 1, false},
    {"same other column again reverses", Mixed(), {{1}, {1}}, {1, 0, 2}, 1, true},
    {"changing columns starts ascending", Mixed(), {{1}, {0}}, {1, 0, 2}, 0, false},
    {"a click during a run changes nothing", Mixed(), {{0, true}}, {0, 1, 2}, 0, false},
    {"a refused click keeps column and direction", Mixed(), {{1}, {2, true}}, {2, 0, 1}, 1, false},
    {"Datum ascending: dates, ???, CHECKING..., FAILED, OK",
     Statuses(),
     {{2}},
     {5, 6, 2, 3, 4, 1, 0},
     2,
     false},
    {"ASCII letters fold, umlauts after all letters",
     Names({"zebra", "\xc3\x84pfel", "abc", "ABD", "Abb", "["}),
     {{0}, {0}},
     {4, 2, 3, 0, 5, 1},
     0,
     false},
    {"a key that begins a longer key is smaller",
     Names({"abc", "ab", "a"}),
     {{0}, {0}},
     {2, 1, 0},
     0,
     false},
    {"an empty list only updates the state", {}, {{3}}, {}, 3, false},
    {"a column outside the list is ignored", Mixed(), {{5}, {-1}}, {0, 1, 2}, 0, false},
};

}  // namespace

TEST(ListSort, HeaderClicksTable) {
    for (const SortCase& c : kSortCases) {
        SCOPED_TRACE(c.what);
        TFavoriteList list;
        list.Assign(c.rows);
        TListSorter sorter;
        for (const Click& click : c.clicks)
            sorter.ColumnClick(list, click.column, click.checking);
        EXPECT_EQ(list.Count(), c.order.size());
        for (std::size_t i = 0; i < std::min(list.Count(), c.order.size()); ++i) {
            // The whole row moves: caption, icon and every cell.
            EXPECT_EQ(Fields(list[i]), Fields(c.rows[static_cast<std::size_t>(c.order[i])]))
                << "position " << i;
        }
        EXPECT_EQ(sorter.SortColumn, c.column);
        EXPECT_EQ(sorter.SortDescending, c.descending);
    }
}

TEST(ListSort, RowsChangeInPlaceSoTheViewKeepsSelectionByPosition) {
    struct Events : TFavoriteListObserver {
        std::vector<std::string> seen;
        void BeforeInsert(std::size_t, std::size_t) override { seen.push_back("insert"); }
        void BeforeRemove(std::size_t, std::size_t) override { seen.push_back("remove"); }
        void BeforeReset() override { seen.push_back("reset"); }
        void RowsChanged(std::size_t f, std::size_t l) override {
            seen.push_back("changed " + std::to_string(f) + ".." + std::to_string(l));
        }
    } events;
    TFavoriteList list;
    list.Assign(Mixed());
    list.SetObserver(&events);
    TListSorter sorter;
    sorter.ColumnClick(list, 0, false);
    sorter.ColumnClick(list, 0, true);
    EXPECT_EQ(events.seen, std::vector<std::string>{"changed 0..2"});
}

TEST(ListSort, SortKeyUpperCasesOnlyAsciiLettersOfTheColumn) {
    TFavoriteRow r = MakeRow("a\xc3\xa4z{`", "p/", "ok", 7);
    EXPECT_EQ(SortKey(r, 0), "A\xc3\xa4Z{`");
    EXPECT_EQ(SortKey(r, 1), "P/");
    EXPECT_EQ(SortKey(r, 2), "OK");
    EXPECT_EQ(SortKey(r, 3), "HTTP://EXAMPLE.INVALID/7");
    EXPECT_EQ(SortKey(r, 4), "/HOME/U/FAVORITES/P/A\xc3\xa4Z{`#7.URL");
    EXPECT_THROW(SortKey(r, 5), std::out_of_range);
}

// Against std::sort of the keys, on inputs that stress the partitioning: many equal keys,
// sorted and reversed runs, letter case mixed, bytes above 0x7f.
namespace {

// Sorts a copy of rows (each row's ImageIndex is its position in rows) and checks the
// order against std::sort of the same keys, and that every row is there once, whole. Stops
// at the first fault of this sort, so that one bad sort reports once.
void ExpectSortedWhole(const std::vector<TFavoriteRow>& rows, int column, bool descending) {
    auto sorted = rows;
    SortFavoriteRows(sorted, column, descending);
    std::vector<std::string> keys, expected;
    for (const auto& r : sorted)
        keys.push_back(SortKey(r, column));
    for (const auto& r : rows)
        expected.push_back(SortKey(r, column));
    std::sort(expected.begin(), expected.end());
    if (descending)
        std::reverse(expected.begin(), expected.end());
    ASSERT_EQ(keys, expected);
    std::vector<bool> seen(rows.size(), false);
    for (const auto& r : sorted) {
        auto id = static_cast<std::size_t>(r.ImageIndex);
        ASSERT_FALSE(seen[id]);
        seen[id] = true;
        ASSERT_EQ(Fields(r), Fields(rows[id]));
    }
}

}  // namespace

TEST(ListSort, AgreesWithStdSortOfTheKeys) {
    std::mt19937 rng(4711);
    const std::string alphabet = "aAbB\xc3\xa4z9 /";
    auto randomText = [&](std::size_t maxLen) {
        std::string s(rng() % (maxLen + 1), ' ');
        for (char& c : s)
            c = alphabet[rng() % alphabet.size()];
        return s;
    };
    for (std::size_t n : {1u, 2u, 3u, 7u, 64u, 2000u}) {
        for (int shape = 0; shape < 4; ++shape) {
            std::vector<TFavoriteRow> rows;
            for (std::size_t i = 0; i < n; ++i) {
                std::string name = shape == 0   ? randomText(3)
                                   : shape == 1 ? std::string("same")
                                   : shape == 2 ? std::to_string(100000 + i)
                                                : std::to_string(900000 - i);
                rows.push_back(MakeRow(name, randomText(2), randomText(1), static_cast<int>(i)));
            }
            for (int column = 0; column < kFavoriteColumnCount; ++column) {
                for (bool descending : {false, true}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "n=" << n << " shape=" << shape << " column=" << column
                                 << " descending=" << descending);
                    ExpectSortedWhole(rows, column, descending);
                }
            }
        }
    }
}
