// Esc and the cancel buttons, closing the window, and the about box.
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "MainFormFixture.h"
#include "app/AboutBoxUnit.h"
#include "app/ImageBtnUnit.h"

namespace {

// Records the Esc key presses a widget receives.
class EscSpy : public QObject {
  public:
    int presses = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ++presses;
        return false;
    }
};

// A check run as the window shows it: the flag set and the buttons in their running states.
void SimulateRun(TMainForm& form) {
    form.Checking = true;
    form.ShowRunState(true);
}

void ClickImageButton(TImageBtn* button) {
    QPointF at(button->width() / 2.0, button->height() / 2.0);
    QPointF global = button->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
}

}  // namespace

TEST_F(MainFormTest, EscWhenIdleDoesNothing) {
    TMainForm& form = CreateShown(3);
    form.ListView1->setFocus();
    QTest::keyClick(form.ListView1, Qt::Key_Escape);
    EXPECT_FALSE(form.BreakRequested);
    EXPECT_FALSE(form.AbortRequested);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(MainFormTest, EscDuringARunClicksTheFirstEnabledCancelButton) {
    struct Case {
        const char* name;
        bool breakEnabled;
        bool abortEnabled;
        bool breakRequested;
        bool abortRequested;
    };
    const Case cases[] = {
        {"both enabled: stops the run", true, true, true, true},
        {"only AbortBtn: aborts the request", false, true, false, true},
        {"only BreakBtn: stops the run", true, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMainForm& form = CreateShown(3);
        SimulateRun(form);
        form.BreakBtn->setEnabled(c.breakEnabled);
        form.AbortBtn->setEnabled(c.abortEnabled);
        form.ListView1->setFocus();
        QTest::keyClick(form.ListView1, Qt::Key_Escape);
        EXPECT_EQ(form.BreakRequested, c.breakRequested);
        EXPECT_EQ(form.AbortRequested, c.abortRequested);
        Form.reset();
    }
}

TEST_F(MainFormTest, EscFromAButtonWithFocusStopsTheRunToo) {
    TMainForm& form = CreateShown();
    SimulateRun(form);
    form.CheckAllBtn->setFocus();
    QTest::keyClick(form.CheckAllBtn, Qt::Key_Escape);
    EXPECT_TRUE(form.BreakRequested);
}

TEST_F(MainFormTest, EscInTheMemoStaysWithTheMemo) {
    TMainForm& form = CreateShown();
    SimulateRun(form);
    form.Memo1->setFocus();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return form.Memo1->hasFocus(); }));
    EscSpy spy;
    form.Memo1->installEventFilter(&spy);
    QTest::keyClick(form.Memo1, Qt::Key_Escape);
    EXPECT_EQ(spy.presses, 1);
    EXPECT_FALSE(form.BreakRequested);
    EXPECT_FALSE(form.AbortRequested);
}

TEST_F(MainFormTest, RunStateSwitchesTheCheckAndCancelButtons) {
    TMainForm& form = Create(1);
    form.ShowRunState(true);
    EXPECT_FALSE(form.CheckBtn->isEnabled());
    EXPECT_TRUE(form.CheckAllBtn->isEnabled());
    EXPECT_TRUE(form.BreakBtn->isEnabled());
    EXPECT_TRUE(form.AbortBtn->isEnabled());
    form.ShowRunState(false);
    EXPECT_TRUE(form.CheckBtn->isEnabled());
    EXPECT_FALSE(form.BreakBtn->isEnabled());
    EXPECT_FALSE(form.AbortBtn->isEnabled());
}

TEST_F(MainFormTest, CancelButtonsSetTheRunFlags) {
    TMainForm& form = Create();
    SimulateRun(form);
    form.AbortBtn->click();
    EXPECT_TRUE(form.AbortRequested);
    EXPECT_FALSE(form.BreakRequested);
    form.BreakBtn->click();
    EXPECT_TRUE(form.BreakRequested);
}

TEST_F(MainFormTest, ExitButtonClosesTheWindowAndStopsARun) {
    TMainForm& form = CreateShown();
    SimulateRun(form);
    ClickImageButton(form.endebtn);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.BreakRequested);
    EXPECT_TRUE(form.AbortRequested);
    EXPECT_FALSE(form.endebtn->PressedShown());
}

TEST_F(MainFormTest, AboutButtonShowsTheInfoBoxModallyAndFreesIt) {
    TMainForm& form = CreateShown();
    bool seen = false;
    // Should the box not be found, this closes it, so the test fails instead of hanging.
    QTimer::singleShot(5000, &form, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        auto* about = dynamic_cast<TAboutBox*>(box);
        ASSERT_NE(about, nullptr);
        seen = true;
        EXPECT_EQ(about->windowTitle(), "Info");
        EXPECT_EQ(about->size(), QSize(298, 213));
        EXPECT_EQ(about->parentWidget(), &form);
        EXPECT_TRUE(about->OKButton->isDefault());
        EXPECT_EQ(about->OKButton->text(), "OK");
        QRect screen = about->screen()->availableGeometry();
        EXPECT_LE((about->frameGeometry().center() - screen.center()).manhattanLength(), 2);
        // While the box is up, the image button shows its normal picture.
        EXPECT_FALSE(form.ueberbtn->PressedShown());
        QTest::keyClick(about, Qt::Key_Return);  // OK is the default button
    });
    ClickImageButton(form.ueberbtn);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(form.findChildren<TAboutBox*>().isEmpty());
    EXPECT_TRUE(form.isVisible());
}
