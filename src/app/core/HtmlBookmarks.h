// Bookmarks exported as HTML in the Netscape bookmark format, as every browser writes them:
// links (<A HREF>) inside nested lists (<DL>), each list named by the <H3> before it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "BookmarkRows.h"

struct THtmlBookmarks {
    std::vector<TFavoriteRow> Rows;
    // A file cut short: a list still open at the end. Its rows up to there are listed.
    bool Truncated = false;
};

// The rows of every link with an address, in the file's order; label starts each Pfad, and
// Datei is "SOURCE#N" for the N-th link (from 1). Entities are decoded. Raises
// EBookmarkSource for text that holds no bookmark list at all.
THtmlBookmarks ParseHtmlBookmarks(std::string_view html, const std::string& label,
                                  const std::string& source);
