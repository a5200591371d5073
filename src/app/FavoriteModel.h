// The table model that shows a TFavoriteList in the favourites list: five text columns, the
// row's small icon before its name. It follows the list's changes as they happen, or, during
// a bulk fill such as the start-up scan, as one reset at the end.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <functional>

#include "app/core/FavoriteList.h"

class TFavoriteModel : public QAbstractTableModel, private TFavoriteListObserver {
  public:
    enum TColumn { colName, colPfad, colDatum, colURL, colDatei, ColumnCount };
    using TIconSource = std::function<QIcon(int imageIndex)>;

    TFavoriteModel(TFavoriteList& list, QObject* parent = nullptr);
    ~TFavoriteModel() override;

    static QString ColumnCaption(int column);
    // The icons behind the rows' ImageIndex (the system image list of small icons).
    void SetIconSource(TIconSource source);

    // Between these two the view sees no rows; EndBulk shows the list as it is then.
    void BeginBulk();
    void EndBulk();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    void BeforeInsert(std::size_t first, std::size_t last) override;
    void AfterInsert() override;
    void BeforeRemove(std::size_t first, std::size_t last) override;
    void AfterRemove() override;
    void BeforeReset() override;
    void AfterReset() override;
    void RowsChanged(std::size_t first, std::size_t last) override;

    static const std::string& Cell(const TFavoriteRow& row, int column);

    TFavoriteList& list_;
    TIconSource iconSource_;
    bool bulk_ = false;
};
