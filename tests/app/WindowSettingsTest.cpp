// What the window keeps between starts, and where it lands on a screen of any size.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTreeView>

#include "MainFormFixture.h"
#include "app/AppSettings.h"
#include "app/WindowPlacement.h"

namespace {

TEST(WindowPlacement, TheWindowIsFittedIntoTheAvailableArea) {
    const QRect fullHd(0, 0, 1920, 1040);
    const QRect scaled(0, 0, 640, 376);  // 1280x800 at scale 2, less a panel
    const QRect right(1920, 0, 1280, 1024);
    const QSize small(610, 330);
    const TFrameMargins frame{2, 28, 2, 2};
    struct {
        const char* name;
        TPlacement placement;
        QRect available;
        TFrameMargins frame;
        QRect expected;
    } cases[] = {
        {"kept where it was", {{100, 80, 700, 500}, false, small}, fullHd, {}, {100, 80, 700, 500}},
        {"centred", {{0, 0, 622, 489}, true, small}, fullHd, {}, {649, 275, 622, 489}},
        {"taller than the screen at scale 2",
         {{0, 0, 622, 489}, true, small},
         scaled,
         {},
         {9, 0, 622, 376}},
        {"the frame counts", {{0, 0, 622, 489}, true, small}, scaled, frame, {9, 28, 622, 346}},
        {"off to the right and below",
         {{1800, 1000, 700, 500}, false, small},
         fullHd,
         {},
         {1220, 540, 700, 500}},
        {"above and left of the screen",
         {{-300, -50, 700, 500}, false, small},
         fullHd,
         frame,
         {2, 28, 700, 500}},
        {"larger than the screen",
         {{0, 0, 5000, 4000}, false, small},
         fullHd,
         {},
         {0, 0, 1920, 1040}},
        {"smaller than the layout allows",
         {{10, 10, 100, 100}, false, small},
         fullHd,
         {},
         {10, 10, 610, 330}},
        {"on a second screen",
         {{2000, 100, 800, 600}, false, small},
         right,
         {},
         {2000, 100, 800, 600}},
        {"a second screen gone: on the first",
         {{2000, 100, 800, 600}, false, small},
         fullHd,
         {},
         {1120, 100, 800, 600}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect fitted = FitToScreen(c.placement, c.available, c.frame);
        EXPECT_EQ(fitted, c.expected);
        const QRect outer =
            fitted.adjusted(-c.frame.Left, -c.frame.Top, c.frame.Right, c.frame.Bottom);
        EXPECT_TRUE(c.available.contains(outer));
    }
}

TEST(AppSettings, ASplitterKeepsItsSizesUnderItsKey) {
    QSplitter splitter(Qt::Vertical);
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.resize(100, 300);
    splitter.setSizes({220, 80});
    SaveSplitterState(*OpenSettings(), QStringLiteral("Splitters/Test"), splitter);

    QSplitter again(Qt::Vertical);
    again.addWidget(new QWidget);
    again.addWidget(new QWidget);
    again.resize(100, 300);
    const auto settings = OpenSettings();
    RestoreSplitterState(*settings, QStringLiteral("Splitters/Missing"), again);  // nothing there
    RestoreSplitterState(*settings, QStringLiteral("Splitters/Test"), again);
    EXPECT_EQ(again.sizes(), splitter.sizes());
}

class WindowSettingsTest : public MainFormTest {};

// What the first window had when it closed, the second one shows.
TEST_F(WindowSettingsTest, PlaceColumnsAndSortOrderAreRememberedAcrossTwoWindows) {
    TMainForm& first = CreateShown(5);
    first.setGeometry(40, 50, 700, 480);
    first.ListView1->header()->resizeSection(0, 222);
    first.ListView1->header()->resizeSection(3, 61);
    first.ListView1ColumnClick(0);  // the sorted column again: the other way round
    const int column = first.SortColumn;
    const bool descending = first.SortDescending;
    const std::string top = first.Favorites[0].Name;
    ASSERT_EQ(top, "Seite 4");  // the list really is sorted, descending by name
    const QRect geometry = first.geometry();
    first.close();
    Form.reset();

    TMainForm& second = Create(5);
    EXPECT_EQ(second.geometry(), geometry);
    EXPECT_EQ(second.ListView1->header()->sectionSize(0), 222);
    EXPECT_EQ(second.ListView1->header()->sectionSize(3), 61);
    EXPECT_EQ(second.SortColumn, column);
    EXPECT_EQ(second.SortDescending, descending);
    EXPECT_TRUE(second.ListView1->header()->isSortIndicatorShown());
    EXPECT_EQ(second.Favorites[0].Name, top);
}

TEST_F(WindowSettingsTest, AWindowNeverShownLeavesTheSettingsAlone) {
    TMainForm& form = Create(2);
    form.close();
    Form.reset();
    EXPECT_FALSE(OpenSettings()->contains(QStringLiteral("Window/Geometry")));
}

TEST_F(WindowSettingsTest, ARememberedPlaceOffTheScreenIsFittedBackOntoIt) {
    {
        auto settings = OpenSettings();
        settings->setValue(QStringLiteral("Window/Geometry"), QRect(-4000, 9000, 9000, 9000));
        settings->setValue(QStringLiteral("List/ColumnWidths"), QVariantList{1, 2});  // damaged
        settings->setValue(QStringLiteral("List/Sorted"), true);
        settings->setValue(QStringLiteral("List/SortColumn"), 17);  // no such column
    }
    TMainForm& form = Create(3);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(available.contains(form.geometry()))
        << form.geometry().x() << "," << form.geometry().y();
    EXPECT_EQ(form.ListView1->header()->sectionSize(0), 150);  // the layout's widths
    EXPECT_EQ(form.SortColumn, 0);
    EXPECT_FALSE(form.ListView1->header()->isSortIndicatorShown());
}

}  // namespace
