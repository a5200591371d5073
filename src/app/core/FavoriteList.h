// The favourites list: the ordered rows of the scan, the only store of favourites while the
// program runs. Free of widgets: the window shows it through a table model that observes it,
// and the headless program uses it as it is.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "RowText.h"

// One listed Internet shortcut or browser bookmark. Texts are bytes as found on disk (UTF-8
// where they are valid); Datei is the row's identity for the result file, deleting and
// visiting: a shortcut's file, or "SOURCE#ID" for a bookmark.
struct TFavoriteRow {
    std::string Name;
    std::string Pfad;
    std::string Datum{rowtext::kUnchecked};
    std::string URL;
    std::string Datei;
    int ImageIndex = -1;
    bool Bookmark = false;  // a browser's bookmark: read only, visited by its URL
};

// Hears about every change, with the before/after pairs that a Qt item model needs.
class TFavoriteListObserver {
  public:
    virtual ~TFavoriteListObserver() = default;
    virtual void BeforeInsert(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void AfterInsert() {}
    virtual void BeforeRemove(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void AfterRemove() {}
    virtual void BeforeReset() {}
    virtual void AfterReset() {}
    // Contents of rows first..last changed in place; positions (and so selection) stay.
    virtual void RowsChanged(std::size_t /*first*/, std::size_t /*last*/) {}
};

class TFavoriteList {
  public:
    std::size_t Count() const { return rows_.size(); }
    bool Empty() const { return rows_.empty(); }
    const TFavoriteRow& operator[](std::size_t i) const { return rows_[i]; }
    const std::vector<TFavoriteRow>& Rows() const { return rows_; }

    void Append(TFavoriteRow row);
    // Appends many rows with one insert notification (the scan's whole result, say).
    void AppendRows(std::vector<TFavoriteRow> rows);
    void Remove(std::size_t index);
    void Clear();
    // Replaces all rows at once (one reset instead of one insert per row).
    void Assign(std::vector<TFavoriteRow> rows);
    void SetDatum(std::size_t index, std::string datum);
    // Lets fn rewrite the rows in place without changing their number (sorting); observers
    // hear one RowsChanged for the whole list afterwards.
    void Rewrite(const std::function<void(std::vector<TFavoriteRow>&)>& fn);

    void SetObserver(TFavoriteListObserver* observer) { observer_ = observer; }

  private:
    std::vector<TFavoriteRow> rows_;
    TFavoriteListObserver* observer_ = nullptr;
    TFavoriteListObserver silent_;
    TFavoriteListObserver& Obs() { return observer_ ? *observer_ : silent_; }
};
