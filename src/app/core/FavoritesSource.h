// Which folder the favourites come from: the user's Favorites folder, or the one given with
// --favorites; the one line that says where the scan looked when it found nothing there, and
// the lines that say what the scan left out.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "FavoriteList.h"
#include "ProgramOptions.h"

class TShellBrowser;

struct TFavoritesScan {
    std::string Folder;  // where the scan looked
    bool FolderFound = false;
    std::string Root;                    // the folder it read; empty when none was found
    std::size_t Rows = 0;                // shortcuts found
    std::vector<std::string> NoAddress;  // shortcut files that name no address
    bool FoldersLimited = false;  // a folder reached by many paths was walked only a few times
    bool SystemFoldersSkipped = false;  // a link led to /proc, /sys or the like
};

// Scans the given folder (relative ones from the current folder), or the user's Favorites
// folder when given is empty; the rows go to the end of the list. browser may be null.
TFavoritesScan ScanFavorites(TFavoriteList& list, TShellBrowser* browser, const std::string& given);

// The German line for a scan that found no folder or no shortcut in it, naming the folder and
// how to choose another in the given program (the option, or the window's buttons), or, when
// its shortcut files name no address, saying so; empty when shortcuts were found.
std::string NoFavoritesLine(const TFavoritesScan& scan, TProgramKind program = kCheckProgram);

// The German lines that end a scan's report: how many shortcut files were skipped for want of
// an address, and that folders reached by many links or system folders were left out; each
// at most once, none when nothing was left out.
std::vector<std::string> ScanNoteLines(const TFavoritesScan& scan);

// The German line that names one shortcut file skipped for want of an address.
std::string NoAddressLine(const std::string& path);
