// The status bar of the main window: the selection count in panel 1, and the progress bar in
// panel 2 that a WM_USER message to the window's own handle sets.
#include <QImage>
#include <QItemSelectionModel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include "MainFormFixture.h"
#include "app/StatusBar.h"
#include "sys/Messages.h"

namespace {

const QRgb kNavy = qRgb(0, 0, 128);

QString Panel1(TMainForm& form) {
    return form.StatusBar1->PanelText(0);
}

// Posts WM_USER with `percent` to the window and runs the loop until it took effect.
void PostProgress(TMainForm& form, int percent) {
    ASSERT_TRUE(
        sys::PostMessage(form.Handle(), sys::WM_USER, static_cast<sys::WPARAM>(percent), 0));
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.Progress == percent; }));
}

// The number of navy pixels from the panel's left edge along its middle row, and whether
// every pixel right of them, up to the panel's edge, is not navy.
struct BarReading {
    int navy = 0;
    bool restClear = true;
};

// Reads what the window shows on the screen (the offscreen screen grabs the window's backing
// store), so that a bar drawn only in part, or not erased, is seen as it is.
QImage ScreenShot(TMainForm& form) {
    return form.screen()->grabWindow(form.winId()).toImage();
}

BarReading ReadBar(TMainForm& form) {
    QImage shot = ScreenShot(form);
    QRect panel = form.ProgressRect.translated(form.StatusBar1->mapTo(&form, QPoint(0, 0)));
    BarReading reading;
    int y = panel.center().y();
    int x = panel.left();
    while (x <= panel.right() && shot.pixel(x, y) == kNavy) {
        ++reading.navy;
        ++x;
    }
    for (; x <= panel.right(); ++x)
        reading.restClear = reading.restClear && shot.pixel(x, y) != kNavy;
    // The whole height of the bar is filled.
    if (reading.navy > 0) {
        for (int row = panel.top(); row <= panel.bottom(); ++row)
            reading.restClear = reading.restClear && shot.pixel(panel.left(), row) == kNavy;
    }
    return reading;
}

}  // namespace

TEST_F(MainFormTest, SelectionCountForOneAllAndNoRows) {
    TMainForm& form = CreateShown(40);
    QTreeView* list = form.ListView1;
    // Rows arriving are a change: nothing selected yet.
    EXPECT_EQ(Panel1(form), "0 Einträge ausgewählt");

    list->scrollTo(list->model()->index(3, 1));
    QRect row3 = list->visualRect(list->model()->index(3, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row3.center());
    EXPECT_EQ(Panel1(form), "1 Eintrag ausgewählt");
    EXPECT_TRUE(form.RowSelected(3));

    // Ctrl+A is one change of the list, counted once.
    QSignalSpy changes(list->selectionModel(), &QItemSelectionModel::selectionChanged);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(Panel1(form), "40 Einträge ausgewählt");
    EXPECT_EQ(form.SelectedCount(), 40u);

    list->selectionModel()->clearSelection();
    EXPECT_EQ(Panel1(form), "0 Einträge ausgewählt");
}

TEST_F(MainFormTest, SelectionCountFollowsShiftAndCtrlClicksAndRemovedRows) {
    TMainForm& form = CreateShown(20);
    QTreeView* list = form.ListView1;
    auto click = [&](int row, Qt::KeyboardModifiers mods) {
        QModelIndex index = list->model()->index(row, 0);
        list->scrollTo(index);
        QRect rect = list->visualRect(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, rect.center());
    };
    click(2, {});
    click(6, Qt::ShiftModifier);  // rows 2 to 6
    EXPECT_EQ(Panel1(form), "5 Einträge ausgewählt");
    click(4, Qt::ControlModifier);  // one of them off again
    click(9, Qt::ControlModifier);  // and one more on
    EXPECT_EQ(Panel1(form), "5 Einträge ausgewählt");
    for (int row : {2, 3, 5, 6, 9})
        EXPECT_TRUE(form.RowSelected(static_cast<std::size_t>(row))) << row;
    EXPECT_FALSE(form.RowSelected(4));

    form.Favorites.Remove(9);  // a selected row goes: the count follows
    EXPECT_EQ(Panel1(form), "4 Einträge ausgewählt");
}

TEST_F(MainFormTest, ProgressBarFromWmUserFiftyThenTwenty) {
    TMainForm& form = CreateShown();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !form.ProgressRect.isEmpty(); }));
    int width = form.ProgressRect.width();
    EXPECT_EQ(ReadBar(form).navy, 0);

    PostProgress(form, 50);
    BarReading half = ReadBar(form);
    EXPECT_EQ(half.navy, width * 50 / 100);
    EXPECT_TRUE(half.restClear);

    PostProgress(form, 20);  // the shorter bar replaces the longer one
    BarReading fifth = ReadBar(form);
    EXPECT_EQ(fifth.navy, width * 20 / 100);
    EXPECT_TRUE(fifth.restClear);
}

TEST_F(MainFormTest, ProgressValuesOutsideZeroToHundredStayInsideThePanel) {
    TMainForm& form = CreateShown();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !form.ProgressRect.isEmpty(); }));
    int width = form.ProgressRect.width();
    const std::pair<int, int> cases[] = {{100, width}, {250, width}, {0, 0}, {-30, 0}};
    for (auto [percent, navy] : cases) {
        SCOPED_TRACE(percent);
        form.SetProStatus(percent);
        EXPECT_EQ(form.Progress, percent);  // kept as given
        BarReading bar = ReadBar(form);
        EXPECT_EQ(bar.navy, navy);
        EXPECT_TRUE(bar.restClear);
        // Nothing navy right of the panel.
        QPoint beyond = form.StatusBar1->mapTo(
            &form, QPoint(form.ProgressRect.right() + 2, form.ProgressRect.center().y()));
        EXPECT_NE(ScreenShot(form).pixel(beyond), kNavy);
    }
}

TEST_F(MainFormTest, WmUserToAWindowThatIsGoneIsDropped) {
    sys::HWND handle;
    {
        TMainForm& form = Create();
        handle = form.Handle();
        Form.reset();
    }
    EXPECT_FALSE(sys::PostMessage(handle, sys::WM_USER, 50, 0));
}
