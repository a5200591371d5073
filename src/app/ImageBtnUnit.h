// Picture controls: TImage paints a picture; TImageBtn is a picture that acts as a button,
// showing a second picture while a mouse button is held on it with the pointer over it.
#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>

// A windowless-style picture control. It decides what a click is the way the desktop's
// buttons do: a left release inside after a left press inside; the click handling runs
// before the mouse-up handling.
class TImage : public QWidget {
  public:
    using TMouseEvent = std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)>;
    using TMouseMoveEvent = std::function<void(Qt::KeyboardModifiers, int x, int y)>;

    explicit TImage(QWidget* parent = nullptr);

    const QPixmap& Picture() const { return picture_; }
    void SetPicture(const QPixmap& picture);
    // The control takes the size of a (non-empty) picture.
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on);
    // The picture is scaled to the control's size instead of drawn at its own.
    void SetStretch(bool on);

    std::function<void()> OnClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    QSize sizeHint() const override;

  protected:
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    virtual void Click();

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void ApplyAutoSize();

    QPixmap picture_;
    bool autoSize_ = false;
    bool stretch_ = false;
    bool leftPressedInside_ = false;
};

// It takes the keyboard focus as a push button does: Space or Return clicks it, and a focus
// frame shows where the focus is.
class TImageBtn : public TImage {
  public:
    explicit TImageBtn(QWidget* parent = nullptr);

    // The picture shown while pressed; the control keeps its own copy.
    const QPixmap& Picture2() const { return picture2_; }
    void SetPicture2(const QPixmap& picture) { picture2_ = picture; }

    const QPixmap& SavedPicture() const { return savedPicture_; }
    bool PressedShown() const { return pressedShown_; }
    bool MouseHeld() const { return mouseHeld_; }

    void ShowPressed();
    void ShowNormal();

  protected:
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y) override;
    void Click() override;

    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    QPixmap picture2_;
    QPixmap savedPicture_;
    bool pressedShown_ = false;
    bool mouseHeld_ = false;
};
