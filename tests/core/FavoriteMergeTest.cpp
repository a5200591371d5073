#include "app/core/FavoriteMerge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ListEventLog.h"

namespace {

using Log = TListEventLog;

TFavoriteRow Shortcut(const std::string& name, const std::string& datum = "???") {
    TFavoriteRow row;
    row.Name = name;
    row.Datum = datum;
    row.URL = "https://" + name + ".example/";
    row.Datei = "/fav/" + name + ".url";
    return row;
}

TFavoriteRow Bookmark(const std::string& name) {
    TFavoriteRow row = Shortcut(name, "OK");
    row.Datei = "firefox#" + name;
    row.Bookmark = true;
    return row;
}

std::vector<std::string> Shown(const TFavoriteList& list) {
    std::vector<std::string> rows;
    for (const TFavoriteRow& row : list.Rows())
        rows.push_back(row.Name + "=" + row.Datum);
    return rows;
}

}  // namespace

// Rows come and go one by one (never a reset, which would lose a view's selection); the rows
// that stay keep their verdicts, bookmarks are left alone, a new address loses its verdict.
TEST(FavoriteMerge, RowsComeAndGoOneByOneAndTheOthersKeepTheirVerdicts) {
    TFavoriteList list;
    list.AppendRows({Shortcut("a", "OK"), Shortcut("gone", "FAILED"), Bookmark("mark"),
                     Shortcut("c", "FAILED"), Shortcut("moved", "OK")});
    Log log;
    list.SetObserver(&log);
    TFavoriteRow c = Shortcut("c");
    c.URL = "https://elsewhere.example/";
    TFavoriteRow renamed = Shortcut("a", "???");
    renamed.Name = "A";  // the same file shows another name
    std::vector<TFavoriteRow> scan = {Shortcut("new"), renamed, c, Shortcut("moved2"),
                                      Shortcut("new")};
    EXPECT_TRUE(MergeShortcutRows(list, scan));
    EXPECT_EQ(Shown(list),
              (std::vector<std::string>{"A=OK", "mark=OK", "c=???", "new=???", "moved2=???"}));
    EXPECT_EQ(list[2].URL, "https://elsewhere.example/");
    EXPECT_EQ(log.events, (std::vector<std::string>{"-4:4", "-1:1", "~0:2", "+3:4"}));
    // The same scan again changes nothing, and says so.
    log.events.clear();
    EXPECT_FALSE(MergeShortcutRows(list, scan));
    EXPECT_TRUE(log.events.empty());
    // An empty folder leaves only the bookmarks.
    EXPECT_TRUE(MergeShortcutRows(list, {}));
    EXPECT_EQ(Shown(list), std::vector<std::string>{"mark=OK"});
}
