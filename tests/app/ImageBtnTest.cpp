// TImageBtn: the pictures it shows and the events it fires under the mouse sequences a user
// makes, fed as synthetic mouse events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <string>
#include <vector>

#include "app/ImageBtnUnit.h"

namespace {

QPixmap Filled(const QColor& colour) {
    QPixmap picture(101, 30);
    picture.fill(colour);
    return picture;
}

class ImageBtnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        button.SetPicture(normal);
        button.SetPicture2(pressed);
        button.OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            events.push_back(b == Qt::LeftButton ? "down" : "down-other");
        };
        button.OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            events.push_back(b == Qt::LeftButton ? "up" : "up-other");
        };
        button.OnClick = [this] {
            events.push_back("click");
            shownAtClick = Shown();
            heldAtClick = button.MouseHeld();
        };
    }

    // Which picture is on display: "normal", "pressed", "none" or "other".
    std::string Shown() const {
        if (button.Picture().isNull())
            return "none";
        QImage image = button.Picture().toImage();
        if (image == normal.toImage())
            return "normal";
        if (image == pressed.toImage())
            return "pressed";
        return "other";
    }

    void Send(QEvent::Type type, Qt::MouseButton which, Qt::MouseButtons held, QPoint at) {
        QMouseEvent event(type, QPointF(at), QPointF(button.mapToGlobal(at)), which, held, {});
        QApplication::sendEvent(&button, &event);
    }
    void Press(QPoint at, Qt::MouseButton which = Qt::LeftButton, Qt::MouseButtons held = {}) {
        Send(QEvent::MouseButtonPress, which, held | which, at);
    }
    void Release(QPoint at, Qt::MouseButton which = Qt::LeftButton, Qt::MouseButtons held = {}) {
        Send(QEvent::MouseButtonRelease, which, held, at);
    }
    void Move(QPoint at, Qt::MouseButtons held = Qt::LeftButton) {
        Send(QEvent::MouseMove, Qt::NoButton, held, at);
    }

    QPixmap normal = Filled(Qt::darkBlue);
    QPixmap pressed = Filled(Qt::darkRed);
    TImageBtn button;
    std::vector<std::string> events;
    std::string shownAtClick;
    bool heldAtClick = false;
    const QPoint inside{50, 15};
};

using Events = std::vector<std::string>;

}  // namespace

TEST_F(ImageBtnTest, StartsNormalAtThePicturesSize) {
    EXPECT_EQ(button.size(), QSize(101, 30));
    EXPECT_EQ(Shown(), "normal");
    EXPECT_FALSE(button.PressedShown());
    EXPECT_FALSE(button.MouseHeld());
    EXPECT_TRUE(button.SavedPicture().isNull());
}

TEST_F(ImageBtnTest, PressShowsPressedMoveOutAndInFollowsReleaseInsideClicks) {
    Press(inside);
    EXPECT_EQ(Shown(), "pressed");
    EXPECT_TRUE(button.MouseHeld());
    EXPECT_EQ(button.SavedPicture().toImage(), normal.toImage());
    Move({150, 15});
    EXPECT_EQ(Shown(), "normal");
    Move(inside);
    EXPECT_EQ(Shown(), "pressed");
    Release(inside);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_FALSE(button.MouseHeld());
    // The click runs before the mouse-up, with the normal picture already back.
    EXPECT_EQ(events, (Events{"down", "click", "up"}));
    EXPECT_EQ(shownAtClick, "normal");
    EXPECT_TRUE(heldAtClick);
}

TEST_F(ImageBtnTest, ReleaseOutsideRestoresWithoutClick) {
    Press(inside);
    Move({-20, 40});
    Release({-20, 40});
    EXPECT_EQ(Shown(), "normal");
    EXPECT_FALSE(button.PressedShown());
    EXPECT_FALSE(button.MouseHeld());
    EXPECT_EQ(events, (Events{"down", "up"}));
}

TEST_F(ImageBtnTest, TheEdgesOfTheControlDecideInsideAndOutside) {
    struct Case {
        QPoint at;
        const char* shown;
    };
    const Case cases[] = {{{0, 0}, "pressed"},  {{100, 29}, "pressed"}, {{101, 15}, "normal"},
                          {{50, 30}, "normal"}, {{-1, 15}, "normal"},   {{50, -1}, "normal"},
                          {{100, 0}, "pressed"}};
    Press(inside);
    for (const Case& c : cases) {
        Move(c.at);
        EXPECT_EQ(Shown(), c.shown) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(ImageBtnTest, RightButtonShowsPressedAndRestoresWithoutClick) {
    Press(inside, Qt::RightButton);
    EXPECT_EQ(Shown(), "pressed");
    Release(inside, Qt::RightButton);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_EQ(events, (Events{"down-other", "up-other"}));
}

TEST_F(ImageBtnTest, SecondButtonKeepsTheSavedNormalPicture) {
    Press(inside);
    Press(inside, Qt::RightButton, Qt::LeftButton);
    EXPECT_EQ(Shown(), "pressed");
    EXPECT_EQ(button.SavedPicture().toImage(), normal.toImage());
    Release(inside, Qt::RightButton, Qt::LeftButton);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_FALSE(button.MouseHeld());
    // The left button, still held, now moves without a held flag: nothing changes.
    Move(inside);
    EXPECT_EQ(Shown(), "normal");
    Release(inside);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_EQ(events, (Events{"down", "down-other", "up-other", "click", "up"}));
}

TEST_F(ImageBtnTest, MovingWithoutAHeldButtonChangesNothing) {
    for (QPoint at : {inside, QPoint(-5, -5), QPoint(200, 10), inside})
        Move(at, Qt::NoButton);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_FALSE(button.PressedShown());
    EXPECT_TRUE(button.SavedPicture().isNull());
}

TEST_F(ImageBtnTest, EmptyPressedPictureShowsNothingWhilePressedAndStillClicks) {
    button.SetPicture2(QPixmap());
    Press(inside);
    EXPECT_EQ(Shown(), "none");
    EXPECT_EQ(button.size(), QSize(101, 30));  // keeps its size, so the pointer stays inside
    Release(inside);
    EXPECT_EQ(Shown(), "normal");
    EXPECT_EQ(events, (Events{"down", "click", "up"}));
}

TEST_F(ImageBtnTest, TakesTheFocusAndClicksOnSpaceAndReturnOnly) {
    EXPECT_EQ(button.focusPolicy(), Qt::StrongFocus);
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool autoRepeat;
        bool clicks;
    } cases[] = {
        {"Space", Qt::Key_Space, Qt::NoModifier, false, true},
        {"Return", Qt::Key_Return, Qt::NoModifier, false, true},
        {"Enter on the keypad", Qt::Key_Enter, Qt::KeypadModifier, false, true},
        {"a held Space repeats nothing", Qt::Key_Space, Qt::NoModifier, true, false},
        {"Ctrl+Return", Qt::Key_Return, Qt::ControlModifier, false, false},
        {"a letter", Qt::Key_X, Qt::NoModifier, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, QString(), c.autoRepeat);
        QApplication::sendEvent(&button, &press);
        EXPECT_EQ(events,
                  c.clicks ? std::vector<std::string>{"click"} : std::vector<std::string>{});
    }
}
