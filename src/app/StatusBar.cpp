#include "StatusBar.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kGap = 2;      // between panels
constexpr int kPadding = 4;  // text from the panel's left edge
}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
}

void TStatusBar::AddPanel(int width, bool ownerDraw) {
    panels_.push_back({width, ownerDraw, {}});
    update();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
    TPanel& panel = panels_.at(index);
    if (panel.Text == text)
        return;
    panel.Text = text;
    update(PanelFrame(index));
}

QRect TStatusBar::PanelFrame(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i)
        left += panels_[i].Width;
    int width = panels_.at(index).Width;
    if (width <= 0)  // the rest of the bar, up to the size grip
        width = std::max(kGap + 1, this->width() - left - height());
    return QRect(left, kGap, width - kGap, height() - 2 * kGap);
}

QRect TStatusBar::PanelRect(int index) const {
    return PanelFrame(index).adjusted(1, 1, -1, -1);
}

void TStatusBar::paintEvent(QPaintEvent* event) {
    QStatusBar::paintEvent(event);
    QPainter painter(this);
    for (int i = 0; i < PanelCount(); ++i) {
        if (event->rect().intersects(PanelFrame(i)))
            PaintPanel(painter, i);
    }
}

void TStatusBar::PaintPanel(QPainter& painter, int index) {
    const TPanel& panel = panels_[index];
    QRect frame = PanelFrame(index);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    QRect inside = PanelRect(index);
    if (panel.OwnerDraw) {
        if (OnDrawPanel) {
            painter.save();
            painter.setClipRect(inside);
            OnDrawPanel(painter, index, inside);
            painter.restore();
        }
        return;
    }
    painter.setPen(palette().color(QPalette::WindowText));
    QRect textRect = inside.adjusted(kPadding, 0, -kPadding, 0);
    QString text = fontMetrics().elidedText(panel.Text, Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text);
}
