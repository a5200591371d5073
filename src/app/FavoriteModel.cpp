#include "FavoriteModel.h"

#include <algorithm>

TFavoriteModel::TFavoriteModel(TFavoriteList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list) {
    list_.SetObserver(this);
}

TFavoriteModel::~TFavoriteModel() {
    list_.SetObserver(nullptr);
}

QString TFavoriteModel::ColumnCaption(int column) {
    static const char* const captions[ColumnCount] = {"Name", "Pfad", "Datum", "URL", "Datei"};
    return QString::fromLatin1(captions[column]);
}

void TFavoriteModel::SetIconSource(TIconSource source) {
    iconSource_ = std::move(source);
    if (rowCount() > 0)
        emit dataChanged(index(0, colName), index(rowCount() - 1, colName), {Qt::DecorationRole});
}

void TFavoriteModel::BeginBulk() {
    if (bulk_)
        return;
    FlushChanges();
    beginResetModel();
    bulk_ = true;
}

void TFavoriteModel::EndBulk() {
    if (!bulk_)
        return;
    bulk_ = false;
    endResetModel();
}

void TFavoriteModel::DeferChanges(std::function<void()> onNoted) {
    deferring_ = true;
    onNoted_ = std::move(onNoted);
}

void TFavoriteModel::FlushChanges() {
    if (!noted_)
        return;
    noted_ = false;  // a view's handler may change rows again, which notes them anew
    EmitChanged(firstNoted_, lastNoted_);
}

void TFavoriteModel::StopDeferring() {
    FlushChanges();
    deferring_ = false;
    onNoted_ = nullptr;
}

int TFavoriteModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || bulk_)
        return 0;
    return static_cast<int>(list_.Count());
}

int TFavoriteModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const std::string& TFavoriteModel::Cell(const TFavoriteRow& row, int column) {
    switch (column) {
        case colPfad:
            return row.Pfad;
        case colDatum:
            return row.Datum;
        case colURL:
            return row.URL;
        case colDatei:
            return row.Datei;
        default:
            return row.Name;
    }
}

QVariant TFavoriteModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TFavoriteRow& row = list_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromStdString(Cell(row, index.column()));
        case Qt::DecorationRole:
            if (index.column() == colName && iconSource_ && row.ImageIndex >= 0)
                return iconSource_(row.ImageIndex);
            return {};
        default:
            return {};
    }
}

QVariant TFavoriteModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return ColumnCaption(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TFavoriteModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TFavoriteModel::BeforeInsert(std::size_t first, std::size_t last) {
    FlushChanges();
    if (!bulk_)
        beginInsertRows({}, static_cast<int>(first), static_cast<int>(last));
}

void TFavoriteModel::AfterInsert() {
    if (!bulk_)
        endInsertRows();
}

void TFavoriteModel::BeforeRemove(std::size_t first, std::size_t last) {
    FlushChanges();
    if (!bulk_)
        beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
}

void TFavoriteModel::AfterRemove() {
    if (!bulk_)
        endRemoveRows();
}

void TFavoriteModel::BeforeReset() {
    FlushChanges();
    if (!bulk_)
        beginResetModel();
}

void TFavoriteModel::AfterReset() {
    if (!bulk_)
        endResetModel();
}

void TFavoriteModel::RowsChanged(std::size_t first, std::size_t last) {
    if (bulk_)
        return;
    if (!deferring_)
        return EmitChanged(first, last);
    if (noted_) {
        firstNoted_ = std::min(firstNoted_, first);
        lastNoted_ = std::max(lastNoted_, last);
        return;
    }
    noted_ = true;
    firstNoted_ = first;
    lastNoted_ = last;
    if (onNoted_)
        onNoted_();
}

void TFavoriteModel::EmitChanged(std::size_t first, std::size_t last) {
    emit dataChanged(index(static_cast<int>(first), 0),
                     index(static_cast<int>(last), ColumnCount - 1));
}
