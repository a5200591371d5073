// The status bar of the main window: the selection count in panel 1 and the progress bar
// that the window draws into panel 2.
#include <QItemSelectionModel>
#include <QPainter>
#include <QTreeView>
#include <algorithm>
#include <vector>

#include "MainUnit.h"
#include "StatusBar.h"

namespace {
const QColor kNavy(0, 0, 128);
}

bool TMainForm::RowSelected(std::size_t row) const {
    return ListView1->selectionModel()->isRowSelected(static_cast<int>(row), {});
}

// Counts from the selection's ranges rather than row by row, so that a change on a list of
// 100,000 rows costs no more than the number of ranges.
std::size_t TMainForm::SelectedCount() const {
    std::vector<std::pair<int, int>> spans;
    for (const QItemSelectionRange& range : ListView1->selectionModel()->selection())
        spans.emplace_back(range.top(), range.bottom());
    std::sort(spans.begin(), spans.end());
    std::size_t count = 0;
    int coveredTo = -1;  // rows up to here are counted
    for (auto [top, bottom] : spans) {
        top = std::max(top, coveredTo + 1);
        if (bottom >= top) {
            count += static_cast<std::size_t>(bottom - top + 1);
            coveredTo = bottom;
        }
    }
    return count;
}

void TMainForm::ListView1Change() {
    const std::size_t count = SelectedCount();
    StatusBar1->SetPanelText(
        0, QString::number(count) + (count == 1 ? QStringLiteral(" Eintrag ausgewählt")
                                                : QStringLiteral(" Einträge ausgewählt")));
}

// The label reads white on the bar and in the window's text colour beside it.
void TMainForm::StatusBar1DrawPanel(QPainter& painter, int panel, const QRect& rect) {
    if (panel != 1)
        return;
    ProgressRect = rect;
    // 64 bits: Progress is not clamped, and any WParam may arrive.
    long long width = static_cast<long long>(rect.width()) * Progress / 100;
    width = std::clamp<long long>(width, 0, rect.width());  // the bar stays inside its panel
    const QRect bar(rect.left(), rect.top(), static_cast<int>(width), rect.height());
    if (width > 0)
        painter.fillRect(bar, kNavy);
    if (ProgressLabel.isEmpty())
        return;
    painter.setFont(StatusBar1->font());
    painter.setPen(StatusBar1->palette().color(QPalette::WindowText));
    painter.drawText(rect, Qt::AlignCenter, ProgressLabel);
    if (width > 0) {
        painter.setClipRect(bar, Qt::IntersectClip);
        painter.setPen(Qt::white);
        painter.drawText(rect, Qt::AlignCenter, ProgressLabel);
    }
}

void TMainForm::SetProStatus(int percent) {
    const int shown = Progress;
    Progress = percent;
    RepaintProgress(shown);
}

void TMainForm::RepaintProgress(int shown) {
    if (Progress < shown) {
        StatusBar1->repaint();  // the shorter bar replaces the longer one
        return;
    }
    SBarPaintMore();
}

void TMainForm::SBarPaintMore() {
    if (!ProgressRect.isEmpty())
        StatusBar1->repaint(ProgressRect);
}

void TMainForm::WMUser(sys::TMessage& message) {
    SetProStatus(static_cast<int>(static_cast<std::intptr_t>(message.WParam)));
}
