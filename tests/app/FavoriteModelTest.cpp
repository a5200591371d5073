// The table model over the favourites list: it shows the rows' cells and icons and keeps the
// view consistent through every kind of change, including a bulk fill.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include "app/FavoriteModel.h"

namespace {

TFavoriteRow Row(const std::string& name, int image = 7) {
    return {name,
            "Reisen/Bahn/",
            "???",
            "https://" + name + ".example/",
            "/home/u/Favorites/Reisen/Bahn/" + name + ".url",
            image};
}

class FavoriteModelTest : public ::testing::Test {
  protected:
    TFavoriteList list;
    TFavoriteModel model{list};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};

    QString Cell(int row, int column, int role = Qt::DisplayRole) {
        return model.index(row, column).data(role).toString();
    }
};

}  // namespace

TEST_F(FavoriteModelTest, ShowsTheFiveCellsOfEveryRowInColumnOrder) {
    list.Append(Row("Fahrplan"));
    list.Append(Row("Wörterbuch"));
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 5);
    const char* captions[] = {"Name", "Pfad", "Datum", "URL", "Datei"};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), captions[c])
            << "column " << c;
    EXPECT_EQ(Cell(1, 0), "Wörterbuch");
    EXPECT_EQ(Cell(1, 1), "Reisen/Bahn/");
    EXPECT_EQ(Cell(1, 2), "???");
    EXPECT_EQ(Cell(1, 3), "https://Wörterbuch.example/");
    EXPECT_EQ(Cell(1, 4), "/home/u/Favorites/Reisen/Bahn/Wörterbuch.url");
    EXPECT_EQ(Cell(1, 4, Qt::ToolTipRole), Cell(1, 4));
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model.flags(model.index(0, 0)) & Qt::ItemIsSelectable);
}

TEST_F(FavoriteModelTest, IconComesFromTheSourceForTheNameColumnOnly) {
    list.Append(Row("a", 3));
    list.Append(Row("b", -1));
    EXPECT_FALSE(model.index(0, 0).data(Qt::DecorationRole).isValid());  // no source yet
    std::vector<int> asked;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetIconSource([&](int index) {
        asked.push_back(index);
        QPixmap icon(16, 16);
        icon.fill(Qt::red);
        return QIcon(icon);
    });
    EXPECT_EQ(changed.count(), 1);  // the view redraws the icons
    EXPECT_TRUE(model.index(0, 0).data(Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.index(0, 1).data(Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.index(1, 0).data(Qt::DecorationRole).isValid());  // no icon index
    EXPECT_EQ(asked, std::vector<int>{3});
}

TEST_F(FavoriteModelTest, FollowsInsertsRemovalsEditsAndResets) {
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    for (const char* name : {"a", "b", "c"})
        list.Append(Row(name));
    list.Remove(1);
    list.SetDatum(1, "FAILED");
    list.Rewrite([](std::vector<TFavoriteRow>& rows) { std::swap(rows[0], rows[1]); });
    EXPECT_EQ(inserted.count(), 3);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(Cell(0, 0), "c");
    EXPECT_EQ(Cell(0, 2), "FAILED");
    list.Assign({Row("x")});
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 1);
    list.Clear();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(FavoriteModelTest, BulkFillIsOneResetWithTheRowsAtItsEnd) {
    list.Append(Row("old"));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.BeginBulk();
    for (int i = 0; i < 1000; ++i)
        list.Append(Row("r" + std::to_string(i)));
    list.SetDatum(0, "OK");
    EXPECT_EQ(model.rowCount(), 0);  // the view sees nothing half-done
    model.EndBulk();
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rowCount(), 1001);
    EXPECT_EQ(Cell(0, 2), "OK");
    EXPECT_EQ(Cell(1000, 0), "r999");
    model.EndBulk();  // a second end changes nothing
    EXPECT_EQ(reset.count(), 1);
}

TEST(FavoriteModel, DetachesFromTheListWhenDestroyed) {
    TFavoriteList list;
    {
        TFavoriteModel model(list);
        list.Append(Row("a"));
        EXPECT_EQ(model.rowCount(), 1);
    }
    list.Append(Row("b"));  // must not reach the model that is gone (ASan would tell)
    EXPECT_EQ(list.Count(), 2u);
}
