// The bookmarks of a Chromium-family browser (Chromium, Chrome, Brave, Edge, Vivaldi): the
// JSON file "Bookmarks" of a profile.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "BookmarkRows.h"

// The rows of every "url" node below the roots bookmark_bar, other and synced, in the file's
// order; label starts each Pfad, source each Datei ("SOURCE#guid"). Raises EBookmarkSource
// for text that is no such file (damaged or cut short, say).
std::vector<TFavoriteRow> ParseChromiumBookmarks(std::string_view json, const std::string& label,
                                                 const std::string& source);
