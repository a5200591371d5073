#include "ListSort.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include "sys/AsciiText.h"

namespace {

const std::string& ColumnText(const TFavoriteRow& row, int column) {
    switch (column) {
        case 0:
            return row.Name;
        case 1:
            return row.Pfad;
        case 2:
            return row.Datum;
        case 3:
            return row.URL;
        case 4:
            return row.Datei;
    }
    throw std::out_of_range("favourites list column " + std::to_string(column));
}

class TRowQuickSort {
  public:
    // The keys are folded once up front and travel with their rows, so that comparing is a
    // plain byte comparison.
    TRowQuickSort(std::vector<TFavoriteRow>& rows, int column, bool descending)
        : rows_(rows), descending_(descending) {
        keys_.reserve(rows.size());
        for (const TFavoriteRow& row : rows)
            keys_.push_back(SortKey(row, column));
    }

    // Sorts positions left..right. The smaller part is sorted by recursion and the larger one
    // by the loop, which orders the rows exactly as recursing into both parts would (they are
    // disjoint) but keeps the stack depth logarithmic on unlucky inputs.
    void Sort(std::ptrdiff_t left, std::ptrdiff_t right) {
        while (left < right) {
            auto [i, j] = Partition(left, right);
            if (j - left < right - i) {
                if (left < j)
                    Sort(left, j);
                left = i;
            } else {
                if (i < right)
                    Sort(i, right);
                right = j;
            }
        }
    }

  private:
    std::vector<TFavoriteRow>& rows_;
    std::vector<std::string> keys_;  // keys_[i] is SortKey of rows_[i] at every moment
    bool descending_;
    TFavoriteRow scratch_;  // holds a row's contents during an exchange

    // Negative when row i comes before the pivot in the requested direction.
    int Order(std::ptrdiff_t i, const std::string& pivot) const {
        int c = keys_[static_cast<std::size_t>(i)].compare(pivot);
        return descending_ ? -c : c;
    }

    std::pair<std::ptrdiff_t, std::ptrdiff_t> Partition(std::ptrdiff_t left, std::ptrdiff_t right) {
        // The pivot is a copy of the key: its row may be exchanged away during the scan.
        const std::string pivot = keys_[static_cast<std::size_t>((left + right) / 2)];
        std::ptrdiff_t i = left;
        std::ptrdiff_t j = right;
        do {
            while (Order(i, pivot) < 0)
                ++i;
            while (Order(j, pivot) > 0)
                --j;
            if (i <= j) {
                Exchange(i, j);
                ++i;
                --j;
            }
        } while (i <= j);
        return {i, j};
    }

    void Exchange(std::ptrdiff_t i, std::ptrdiff_t j) {
        if (i == j)
            return;
        TFavoriteRow& a = rows_[static_cast<std::size_t>(i)];
        TFavoriteRow& b = rows_[static_cast<std::size_t>(j)];
        scratch_ = std::move(a);
        a = std::move(b);
        b = std::move(scratch_);
        std::swap(keys_[static_cast<std::size_t>(i)], keys_[static_cast<std::size_t>(j)]);
    }
};

}  // namespace

std::string SortKey(const TFavoriteRow& row, int column) {
    return sys::UpperAscii(ColumnText(row, column));
}

void SortFavoriteRows(std::vector<TFavoriteRow>& rows, int column, bool descending) {
    ColumnText(TFavoriteRow{}, column);  // rejects a bad column before anything moves
    if (rows.empty())
        return;
    TRowQuickSort(rows, column, descending).Sort(0, static_cast<std::ptrdiff_t>(rows.size()) - 1);
}

bool TListSorter::ColumnClick(TFavoriteList& list, int column, bool checking) {
    if (checking || column < 0 || column >= kFavoriteColumnCount)
        return false;
    SortDescending = column == SortColumn ? !SortDescending : false;
    SortColumn = column;
    if (!list.Empty()) {
        bool descending = SortDescending;
        list.Rewrite(
            [&](std::vector<TFavoriteRow>& rows) { SortFavoriteRows(rows, column, descending); });
    }
    return true;
}
