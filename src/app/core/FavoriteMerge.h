// Brings the shortcut rows of the list in line with a fresh scan of the Favorites folder, one
// row at a time, so that a view keeps its selection and its current row and the rows keep
// their verdicts: rows whose file is gone leave, files new to the list come as new rows at
// the end (with the scan's "???"), and rows whose shortcut now says something else take the
// new texts (and, for a new address, the scan's verdict). Browser bookmarks stay as they are.
#pragma once

#include <vector>

#include "FavoriteList.h"

// True when a row came, went or changed.
bool MergeShortcutRows(TFavoriteList& list, std::vector<TFavoriteRow> scanned);
