#include "FavoriteList.h"

#include <iterator>
#include <stdexcept>

void TFavoriteList::Append(TFavoriteRow row) {
    std::size_t at = rows_.size();
    Obs().BeforeInsert(at, at);
    rows_.push_back(std::move(row));
    Obs().AfterInsert();
}

void TFavoriteList::AppendRows(std::vector<TFavoriteRow> rows) {
    if (rows.empty())
        return;
    std::size_t first = rows_.size();
    Obs().BeforeInsert(first, first + rows.size() - 1);
    if (rows_.empty())
        rows_ = std::move(rows);
    else
        rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.end()));
    Obs().AfterInsert();
}

void TFavoriteList::Remove(std::size_t index) {
    if (index >= rows_.size())
        throw std::out_of_range("TFavoriteList::Remove");
    Obs().BeforeRemove(index, index);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    Obs().AfterRemove();
}

void TFavoriteList::Clear() {
    Assign({});
}

void TFavoriteList::Assign(std::vector<TFavoriteRow> rows) {
    Obs().BeforeReset();
    rows_ = std::move(rows);
    Obs().AfterReset();
}

void TFavoriteList::SetDatum(std::size_t index, std::string datum) {
    rows_.at(index).Datum = std::move(datum);
    Obs().RowsChanged(index, index);
}

void TFavoriteList::Rewrite(const std::function<void(std::vector<TFavoriteRow>&)>& fn) {
    std::size_t count = rows_.size();
    fn(rows_);
    if (rows_.size() != count)
        throw std::logic_error("TFavoriteList::Rewrite changed the count");
    if (count > 0)
        Obs().RowsChanged(0, count - 1);
}
