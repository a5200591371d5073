#include "app/core/FavoriteList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ListEventLog.h"

namespace {

using Log = TListEventLog;

TFavoriteRow Row(const std::string& name) {
    TFavoriteRow r;
    r.Name = name;
    return r;
}

}  // namespace

TEST(FavoriteList, ObserverHearsEachChangeWithItsRows) {
    TFavoriteList list;
    Log log;
    list.SetObserver(&log);
    list.Append(Row("a"));
    list.Append(Row("b"));
    list.SetDatum(1, "OK");
    list.Rewrite([](std::vector<TFavoriteRow>& rows) { std::swap(rows[0], rows[1]); });
    list.Remove(0);
    list.Clear();
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"+0:0", "+1:1", "~1:1", "~0:1", "-0:0", "reset"}));
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(Row("x").Datum, "???");
}

TEST(FavoriteList, RewriteMustKeepTheCountAndBadIndexesThrow) {
    TFavoriteList list;
    list.Append(Row("a"));
    EXPECT_THROW(list.Rewrite([](std::vector<TFavoriteRow>& rows) { rows.clear(); }),
                 std::logic_error);
    TFavoriteList other;
    EXPECT_THROW(other.Remove(0), std::out_of_range);
    EXPECT_THROW(other.SetDatum(3, "OK"), std::out_of_range);
}
