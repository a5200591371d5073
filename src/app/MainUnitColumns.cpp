// The list's columns follow the window's width (ColumnFit.h).
#include <QHeaderView>
#include <QTreeView>

#include "ColumnFit.h"
#include "FavoriteModel.h"
#include "MainUnit.h"

namespace {

// Name, status (whose dates want about twice its width) and address take the room a wide
// window leaves; path and file keep theirs.
const std::vector<int> kColumnWeights{2, 0, 1, 2, 0};

}  // namespace

void TMainForm::ConnectColumnFit() {
    columnsGiven_.assign(TFavoriteModel::ColumnCount, 0);
    connect(ListView1->header(), &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (!fittingColumns_ && column >= 0 && column < TFavoriteModel::ColumnCount)
            columnsGiven_[static_cast<std::size_t>(column)] = 0;  // the user's width now
    });
}

void TMainForm::FitListColumns() {
    QHeaderView* header = ListView1->header();
    TColumnFit columns;
    for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
        columns.widths.push_back(header->sectionSize(column));
    columns.given = columnsGiven_;
    columns = FitColumns(std::move(columns), kColumnWeights, ListView1->viewport()->width());
    fittingColumns_ = true;
    for (int column = 0; column < TFavoriteModel::ColumnCount; ++column)
        header->resizeSection(column, columns.widths[static_cast<std::size_t>(column)]);
    fittingColumns_ = false;
    columnsGiven_ = columns.given;
}

int TMainForm::ColumnWidthToKeep(int column) const {
    return ListView1->header()->sectionSize(column) -
           columnsGiven_.at(static_cast<std::size_t>(column));
}
