// Firefox's bookmarks from a profile's places.sqlite. A running Firefox holds the database
// with an exclusive lock and keeps its recent changes in places.sqlite-wal, so both files are
// copied to a private temporary folder and the copy is read; the original is only ever read
// as bytes, never opened as a database.
#pragma once

#include <string>
#include <vector>

#include "BookmarkRows.h"

// The rows of every bookmark (moz_bookmarks of type 1) below the roots menu, toolbar,
// unfiled and mobile, in the order Firefox shows them; label starts each Pfad, the file's path
// starts each Datei. Tags and separators give no rows. Raises EBookmarkSource.
std::vector<TFavoriteRow> ReadFirefoxBookmarks(const std::string& placesFile,
                                               const std::string& label);
