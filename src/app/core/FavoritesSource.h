// Which folder the favourites come from: the user's Favorites folder, or the one given with
// --favorites; and the one line that says where the scan looked when it found nothing there.
#pragma once

#include <cstddef>
#include <string>

#include "FavoriteList.h"

class TShellBrowser;

struct TFavoritesScan {
    std::string Folder;  // where the scan looked
    bool FolderFound = false;
    std::size_t Rows = 0;  // shortcuts found
};

// Scans the given folder (relative ones from the current folder), or the user's Favorites
// folder when given is empty; the rows go to the end of the list. browser may be null.
TFavoritesScan ScanFavorites(TFavoriteList& list, TShellBrowser* browser, const std::string& given);

// The German line for a scan that found no folder or no shortcut in it, naming the folder and
// how to choose another; empty when shortcuts were found.
std::string NoFavoritesLine(const TFavoritesScan& scan);
