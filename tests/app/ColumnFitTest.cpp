// The list's columns use the width of a wide window and give it back when it narrows; what the
// user set stays.
#include <QHeaderView>
#include <QTest>
#include <QTreeView>
#include <numeric>

#include "MainFormFixture.h"
#include "app/ColumnFit.h"
#include "app/FavoriteModel.h"

namespace {

int Sum(const std::vector<int>& values) {
    return std::accumulate(values.begin(), values.end(), 0);
}

}  // namespace

TEST(ColumnFit, RoomGoesToTheWeightedColumnsAndComesBackFromThem) {
    const std::vector<int> weights{2, 0, 3};
    struct Case {
        const char* name;
        TColumnFit before;
        int available;
        std::vector<int> widths, given;
    } cases[] = {
        {"room shared 2:3", {{100, 50, 100}, {0, 0, 0}}, 350, {140, 50, 160}, {40, 0, 60}},
        {"the remainder goes to the last",
         {{100, 50, 100}, {0, 0, 0}},
         253,
         {101, 50, 102},
         {1, 0, 2}},
        {"narrower: given back, last first",
         {{140, 50, 160}, {40, 0, 60}},
         300,
         {140, 50, 110},
         {40, 0, 10}},
        {"never below the widths it was given",
         {{140, 50, 160}, {40, 0, 60}},
         100,
         {100, 50, 100},
         {0, 0, 0}},
        {"a user's wide column is kept",
         {{400, 50, 100}, {0, 0, 0}},
         300,
         {400, 50, 100},
         {0, 0, 0}},
        {"no given list yet", {{100, 50, 100}, {}}, 250, {100, 50, 100}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TColumnFit fit = FitColumns(c.before, weights, c.available);
        EXPECT_EQ(fit.widths, c.widths);
        EXPECT_EQ(fit.given, c.given);
    }
}

TEST_F(MainFormTest, ColumnsFillAWideWindowAndTheUsersWidthsAreRemembered) {
    TMainForm& form = CreateShown(3);
    QHeaderView* header = form.ListView1->header();
    auto widths = [&] {
        std::vector<int> all;
        for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
            all.push_back(header->sectionSize(column));
        return all;
    };
    const std::vector<int> narrow = widths();
    form.resize(1600, form.height());
    ASSERT_TRUE(testsupport::RunLoopUntil(
        [&] { return Sum(widths()) == form.ListView1->viewport()->width(); }));
    const std::vector<int> wide = widths();
    EXPECT_GT(wide[TFavoriteModel::colName], narrow[TFavoriteModel::colName]);
    EXPECT_GT(wide[TFavoriteModel::colURL], narrow[TFavoriteModel::colURL]);
    EXPECT_GT(wide[TFavoriteModel::colDatum], narrow[TFavoriteModel::colDatum]);
    EXPECT_EQ(wide[TFavoriteModel::colPfad], narrow[TFavoriteModel::colPfad]);
    // What is remembered is the width without the room of this window.
    EXPECT_EQ(form.ColumnWidthToKeep(TFavoriteModel::colURL), narrow[TFavoriteModel::colURL]);
    header->resizeSection(TFavoriteModel::colURL, 260);  // as the user's drag does
    EXPECT_EQ(form.ColumnWidthToKeep(TFavoriteModel::colURL), 260);
}
