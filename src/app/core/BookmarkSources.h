// Where the browsers' bookmarks come from: the profiles of Firefox and of the Chromium family
// found in the home folder (native, snap and flatpak installs), or the files given with
// --bookmarks, whose kind is told by their content. Every source is only read.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BookmarkRows.h"
#include "FavoriteList.h"
#include "FavoritesSource.h"
#include "ProgramOptions.h"

struct TBookmarkSource {
    std::string Label;  // "Firefox (default-release)": the start of each row's Pfad
    std::string Path;   // the file read: the start of each row's Datei
};

enum class TBookmarkKind { Firefox, Chromium, Html, Unknown };

// The kind of a bookmark file from its first bytes.
TBookmarkKind KindOfContent(std::string_view head);

// Every browser profile with a bookmark file under home, Firefox's first.
std::vector<TBookmarkSource> FindBrowserBookmarks(const std::string& home);

// What a source gave: its rows, and a note for a file cut short whose rows up to there are
// listed anyway. Raises EBookmarkSource for a source that cannot be read.
struct TBookmarkRead {
    std::vector<TFavoriteRow> Rows;
    std::string Note;
};
TBookmarkRead ReadBookmarkSource(const TBookmarkSource& source);

// The sources a run reads: the files given with --bookmarks; without them the browser profiles
// under home, unless --favorites names a folder to read instead.
std::vector<TBookmarkSource> BookmarkSourcesFor(const TProgramOptions& options,
                                                const std::string& home);

using TReportLine = std::function<void(const std::string& line)>;

// Appends the rows of every source of the run to the list, and reports each source in one
// line: the rows read, or why it could not be read. Returns the number of rows appended.
std::size_t AppendBookmarks(TFavoriteList& list, const TProgramOptions& options,
                            const TReportLine& report);

// Whether the line about a missing or empty Favorites folder is better left out: the user's
// own ~/Favorites (none was given) is missing or empty, and bookmarks were read instead.
bool BookmarksInstead(const TFavoritesScan& scan, const TProgramOptions& options,
                      std::size_t bookmarks);
