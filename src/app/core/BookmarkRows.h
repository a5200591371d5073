// What the bookmark readers share: the error of a source that cannot be read, and the row one
// bookmark becomes in the favourites list.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "FavoriteList.h"

// A bookmark source that cannot be read; the text says why, in one line.
class EBookmarkSource : public std::runtime_error {
  public:
    explicit EBookmarkSource(const std::string& reason) : std::runtime_error(reason) {}
};

// The folders from a source's label down to a bookmark's folder ("Firefox (default)",
// "Lesezeichen-Symbolleiste", "Reisen"), joined to the row's Pfad ("Firefox
// (default)/Lesezeichen-Symbolleiste/Reisen/").
std::string BookmarkPath(const std::vector<std::string>& folders);

// One bookmark's row: Name is the title (the address when the title is empty), Datei is
// "SOURCE#ID", the key under which the result file keeps its verdict.
TFavoriteRow BookmarkRow(const std::string& pfad, const std::string& title, std::string url,
                         const std::string& source, const std::string& id);
