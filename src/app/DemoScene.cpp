#include "DemoScene.h"

#include <QMenu>
#include <QPushButton>
#include <QTreeView>

#include "FavoriteModel.h"
#include "MainUnit.h"

namespace {

void OpenRowMenu(TMainForm& form) {
    const int rows = form.ListModel->rowCount();
    if (rows == 0)
        return;
    const QModelIndex index = form.ListModel->index(std::min(2, rows - 1), 0);
    form.ListView1->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QRect row = form.ListView1->visualRect(index);
    const QPoint at = row.topLeft() + QPoint(40, row.height() / 2);
    emit form.ListView1->customContextMenuRequested(at);
}

}  // namespace

void PlayDemoScene(TMainForm& form, const QString& scene) {
    const QStringList steps = scene.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (steps.contains(QStringLiteral("check")))
        form.CheckAllBtn->click();
    if (steps.contains(QStringLiteral("menu")))
        OpenRowMenu(form);
}
