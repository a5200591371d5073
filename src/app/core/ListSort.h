// Sorting the favourites list by one of its columns, as a click on a column header asks for.
#pragma once

#include <string>
#include <vector>

#include "FavoriteList.h"

// Columns in display order: Name, Pfad, Datum, URL, Datei.
constexpr int kFavoriteColumnCount = 5;

// The column's text of the row with the ASCII letters a-z upper-cased; other bytes stay, so
// umlauts sort after all ASCII letters. Keys compare byte by byte as unsigned values.
std::string SortKey(const TFavoriteRow& row, int column);

// Recursive quicksort with Hoare partitioning around the key of the middle row, exchanging
// whole rows; not stable. Positions do not move, only the rows' contents.
void SortFavoriteRows(std::vector<TFavoriteRow>& rows, int column, bool descending);

// The sort state that the window keeps between header clicks.
class TListSorter {
  public:
    int SortColumn = 0;
    bool SortDescending = false;

    // A click on the header of column: the same column again reverses the direction, another
    // column starts ascending. Refused (false, nothing changes) while a check run is in
    // progress, since the run addresses rows by position. Rows are rewritten in place, so
    // the view keeps selection and focus at their positions.
    bool ColumnClick(TFavoriteList& list, int column, bool checking);
};
