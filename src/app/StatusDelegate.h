// How the list's status column shows a row's text: a colour and a small icon per kind of
// verdict, picked to stay readable on light and on dark palettes.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <QStyledItemDelegate>
#include <array>
#include <string_view>

#include "app/core/RowText.h"

using TStatusKind = rowtext::TVerdictKind;

inline TStatusKind StatusKind(std::string_view datum) {
    return rowtext::VerdictKindOf(datum);
}
// The text colour of a kind on palette's base; invalid for Plain (the palette's own text).
QColor StatusColor(TStatusKind kind, const QPalette& palette);
// A disc in the kind's colour with a white mark; null for Plain.
QIcon StatusIcon(TStatusKind kind);

// Colours and decorates the cells of the status column it is set for.
class TStatusDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    mutable std::array<QIcon, 5> icons_;  // made once per kind: the list asks at every paint
};
