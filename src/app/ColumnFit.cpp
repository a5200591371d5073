#include "ColumnFit.h"

#include <algorithm>
#include <numeric>

namespace {

void Give(TColumnFit& columns, const std::vector<int>& weights, int room) {
    const int total = std::accumulate(weights.begin(), weights.end(), 0);
    if (total <= 0)
        return;
    int left = room;
    int last = -1;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        if (weights[i] <= 0)
            continue;
        const int share = room * weights[i] / total;
        columns.widths[i] += share;
        columns.given[i] += share;
        left -= share;
        last = static_cast<int>(i);
    }
    columns.widths[last] += left;  // what the division left over
    columns.given[last] += left;
}

// Takes back up to excess pixels of what fitting gave, the last column first.
void TakeBack(TColumnFit& columns, int excess) {
    for (std::size_t i = columns.widths.size(); i-- > 0 && excess > 0;) {
        const int back = std::min(columns.given[i], excess);
        columns.widths[i] -= back;
        columns.given[i] -= back;
        excess -= back;
    }
}

}  // namespace

TColumnFit FitColumns(TColumnFit columns, const std::vector<int>& weights, int available) {
    columns.given.resize(columns.widths.size(), 0);
    const int used = std::accumulate(columns.widths.begin(), columns.widths.end(), 0);
    if (available > used)
        Give(columns, weights, available - used);
    else
        TakeBack(columns, used - available);
    return columns;
}
