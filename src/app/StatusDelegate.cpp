#include "StatusDelegate.h"

#include <QPainter>
#include <QPainterPath>

#include "app/core/RowText.h"

namespace {

struct TShades {
    QColor onLight;
    QColor onDark;
};

// Each shade keeps a contrast of at least 4.5:1 to a light (white to light grey) or a dark
// (near-black) base.
TShades Shades(TStatusKind kind) {
    switch (kind) {
        case TStatusKind::Alive:
            return {QColor(0x1b, 0x6e, 0x2f), QColor(0x6f, 0xd3, 0x7f)};
        case TStatusKind::Dead:
            return {QColor(0xb7, 0x1c, 0x1c), QColor(0xff, 0x6b, 0x6b)};
        case TStatusKind::Refused:
            return {QColor(0x8f, 0x53, 0x00), QColor(0xff, 0xb7, 0x4d)};
        case TStatusKind::Skipped:
            return {QColor(0x5f, 0x5f, 0x5f), QColor(0xa0, 0xa0, 0xa0)};
        case TStatusKind::Plain:
            break;
    }
    return {};
}

bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightnessF() < 0.5;
}

// The white mark on the disc, drawn in a 16-unit square.
void DrawMark(QPainter& painter, TStatusKind kind) {
    QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    switch (kind) {
        case TStatusKind::Alive: {
            QPainterPath tick;
            tick.moveTo(4.5, 8.5);
            tick.lineTo(7.0, 11.0);
            tick.lineTo(11.5, 5.5);
            painter.drawPath(tick);
            break;
        }
        case TStatusKind::Dead:
            painter.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
            painter.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
            break;
        case TStatusKind::Refused:
            painter.drawLine(QPointF(8, 4.5), QPointF(8, 8.5));
            painter.drawPoint(QPointF(8, 11.5));
            break;
        case TStatusKind::Skipped:
            painter.drawLine(QPointF(5, 8), QPointF(11, 8));
            break;
        case TStatusKind::Plain:
            break;
    }
}

QPixmap Disc(TStatusKind kind, qreal ratio) {
    QPixmap pixmap(QSize(16, 16) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Shades(kind).onLight);
    painter.drawEllipse(QRectF(1, 1, 14, 14));
    DrawMark(painter, kind);
    return pixmap;
}

}  // namespace

QColor StatusColor(TStatusKind kind, const QPalette& palette) {
    const TShades shades = Shades(kind);
    return IsDark(palette) ? shades.onDark : shades.onLight;
}

QIcon StatusIcon(TStatusKind kind) {
    if (kind == TStatusKind::Plain)
        return {};
    QIcon icon;
    icon.addPixmap(Disc(kind, 1.0));
    icon.addPixmap(Disc(kind, 2.0));
    return icon;
}

void TStatusDelegate::initStyleOption(QStyleOptionViewItem* option,
                                      const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const QByteArray text = option->text.toUtf8();
    const TStatusKind kind = StatusKind(std::string_view(text.constData(), text.size()));
    if (kind == TStatusKind::Plain)
        return;
    option->palette.setColor(QPalette::Text, StatusColor(kind, option->palette));
    QIcon& icon = icons_[static_cast<std::size_t>(kind)];
    if (icon.isNull())
        icon = StatusIcon(kind);
    option->icon = icon;
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
}
