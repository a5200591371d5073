#include "ImageBtnUnit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    ApplyAutoSize();
    update();
}

void TImage::SetAutoSize(bool on) {
    autoSize_ = on;
    ApplyAutoSize();
}

void TImage::SetStretch(bool on) {
    stretch_ = on;
    update();
}

// An empty picture keeps the size: shrinking to nothing would move a held pointer "outside"
// and so swallow the click of a button whose pressed picture is empty.
void TImage::ApplyAutoSize() {
    if (autoSize_ && !picture_.isNull()) {
        setFixedSize(picture_.deviceIndependentSize().toSize());
        updateGeometry();
    }
}

QSize TImage::sizeHint() const {
    return picture_.isNull() ? QWidget::sizeHint() : picture_.deviceIndependentSize().toSize();
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    if (stretch_) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(rect(), picture_);
    } else {
        painter.drawPixmap(0, 0, picture_);
    }
}

void TImage::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseDown)
        OnMouseDown(button, shift, x, y);
}

void TImage::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseUp)
        OnMouseUp(button, shift, x, y);
}

void TImage::MouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    if (OnMouseMove)
        OnMouseMove(shift, x, y);
}

void TImage::Click() {
    if (OnClick)
        OnClick();
}

void TImage::mousePressEvent(QMouseEvent* event) {
    QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        leftPressedInside_ = rect().contains(at);
    MouseDown(event->button(), event->modifiers(), at.x(), at.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        bool clicked = leftPressedInside_ && rect().contains(at);
        leftPressedInside_ = false;
        if (clicked)
            Click();
    }
    MouseUp(event->button(), event->modifiers(), at.x(), at.y());
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    QPoint at = event->position().toPoint();
    MouseMove(event->modifiers(), at.x(), at.y());
}

TImageBtn::TImageBtn(QWidget* parent) : TImage(parent) {
    SetAutoSize(true);
    setFocusPolicy(Qt::StrongFocus);
}

void TImageBtn::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int key = event->key();
    if (plain && !event->isAutoRepeat() &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        Click();
        return;
    }
    TImage::keyPressEvent(event);
}

void TImageBtn::paintEvent(QPaintEvent* event) {
    TImage::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(1, 1, -1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void TImageBtn::focusInEvent(QFocusEvent* event) {
    TImage::focusInEvent(event);
    update();
}

void TImageBtn::focusOutEvent(QFocusEvent* event) {
    TImage::focusOutEvent(event);
    update();
}

void TImageBtn::ShowPressed() {
    if (pressedShown_)
        return;
    pressedShown_ = true;
    savedPicture_ = Picture();
    SetPicture(picture2_);
}

void TImageBtn::ShowNormal() {
    if (!pressedShown_)
        return;
    SetPicture(savedPicture_);
    pressedShown_ = false;
}

void TImageBtn::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    ShowPressed();
    mouseHeld_ = true;
    TImage::MouseDown(button, shift, x, y);
}

void TImageBtn::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    ShowNormal();
    mouseHeld_ = false;
    TImage::MouseUp(button, shift, x, y);
}

void TImageBtn::MouseMove(Qt::KeyboardModifiers shift, int x, int y) {
    if (mouseHeld_) {
        bool outside = x < 0 || x >= width() || y < 0 || y >= height();
        if (outside)
            ShowNormal();
        else
            ShowPressed();
    }
    TImage::MouseMove(shift, x, y);
}

void TImageBtn::Click() {
    ShowNormal();
    TImage::Click();
}
