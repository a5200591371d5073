// The table model that shows a TFavoriteList in the favourites list: five text columns, the
// row's small icon before its name. It follows the list's changes as they happen, or, during
// a bulk fill such as the start-up scan, as one reset at the end, or, while a check run defers
// them, as one changed range per flush.
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

    // From here on, changed rows are only noted: a fast check run would otherwise repaint the
    // list for every row. onNoted runs at the first change noted since the last flush, so that
    // its owner can plan the next one; FlushChanges names the noted rows to the views as one
    // range. Inserts, removals and resets flush first, since they move the rows.
    void DeferChanges(std::function<void()> onNoted);
    void FlushChanges();
    // Flushes, and names every later change to the views at once again.
    void StopDeferring();

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

    void EmitChanged(std::size_t first, std::size_t last);

    TFavoriteList& list_;
    TIconSource iconSource_;
    bool bulk_ = false;
    bool deferring_ = false;
    std::function<void()> onNoted_;
    bool noted_ = false;  // changed rows wait for FlushChanges: firstNoted_ to lastNoted_
    std::size_t firstNoted_ = 0;
    std::size_t lastNoted_ = 0;
};
