// What the window keeps between starts: its place and size, fitted to the screen it lands on;
// the list's column widths and sort order; and the sizes of any splitter it has.
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTreeView>

#include "AppSettings.h"
#include "FavoriteModel.h"
#include "MainUnit.h"
#include "WindowPlacement.h"

namespace {

constexpr const char* kGeometry = "Window/Geometry";
constexpr const char* kMaximized = "Window/Maximized";
constexpr const char* kColumns = "List/ColumnWidths";
constexpr const char* kSorted = "List/Sorted";
constexpr const char* kSortColumn = "List/SortColumn";
constexpr const char* kSortDescending = "List/SortDescending";

QString SplitterKey(const QSplitter& splitter) {
    return QStringLiteral("Splitters/") + splitter.objectName();
}

TFrameMargins FrameOf(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QRect inside = window.geometry();
    return {inside.left() - frame.left(), inside.top() - frame.top(),
            frame.right() - inside.right(), frame.bottom() - inside.bottom()};
}

}  // namespace

void TMainForm::SaveWindowSettings() {
    auto settings = OpenSettings();
    settings->setValue(kGeometry, normalGeometry());
    settings->setValue(kMaximized, isMaximized());
    QVariantList widths;
    for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
        widths.append(ColumnWidthToKeep(column));
    settings->setValue(kColumns, widths);
    settings->setValue(kSorted, ListView1->header()->isSortIndicatorShown());
    settings->setValue(kSortColumn, SortColumn);
    settings->setValue(kSortDescending, SortDescending);
    for (QSplitter* splitter : findChildren<QSplitter*>())
        if (!splitter->objectName().isEmpty())
            SaveSplitterState(*settings, SplitterKey(*splitter), *splitter);
}

// The remembered place on the screen it was on, or the layout's size centred on this one;
// either way no larger than that screen's free area.
void TMainForm::RestoreWindowSettings() {
    auto settings = OpenSettings();
    const QRect remembered = settings->value(kGeometry).toRect();
    TPlacement placement;
    placement.Centred = !remembered.isValid();
    placement.Wanted = placement.Centred ? QRect(QPoint(), size()) : remembered;
    placement.Minimum = minimumSizeHint();
    QScreen* screen =
        placement.Centred ? this->screen() : QGuiApplication::screenAt(remembered.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen)
        setGeometry(FitToScreen(placement, screen->availableGeometry(), FrameOf(*this)));
    if (settings->value(kMaximized).toBool())
        setWindowState(windowState() | Qt::WindowMaximized);

    const QVariantList widths = settings->value(kColumns).toList();
    if (widths.size() == TFavoriteModel::ColumnCount)
        for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
            if (int width = widths[column].toInt(); width > 0)
                ListView1->header()->resizeSection(column, width);
    for (QSplitter* splitter : findChildren<QSplitter*>())
        if (!splitter->objectName().isEmpty())
            RestoreSplitterState(*settings, SplitterKey(*splitter), *splitter);
}

void TMainForm::RestoreSortState() {
    auto settings = OpenSettings();
    if (!settings->value(kSorted).toBool())
        return;
    const int column = settings->value(kSortColumn).toInt();
    if (column < 0 || column >= TFavoriteModel::ColumnCount)
        return;
    SortColumn = column;
    SortDescending = settings->value(kSortDescending).toBool();
    QHeaderView* header = ListView1->header();
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
    ApplySort();
}
