#include "BookmarkRows.h"

#include "shell/SystemIcons.h"

namespace {

// The icon theme's bookmark icon, the same index for every bookmark row.
int BookmarkIconIndex() {
    static const int index = shell::SystemIconTable().IndexOf(
        {shell::TIconKind::File, "user-bookmarks", "bookmark-new", "bookmark"});
    return index;
}

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

std::string BookmarkPath(const std::vector<std::string>& folders) {
    std::string path;
    for (const std::string& folder : folders)
        path.append(folder).push_back('/');
    return path;
}

TFavoriteRow BookmarkRow(const std::string& pfad, const std::string& title, std::string url,
                         const std::string& source, const std::string& id) {
    TFavoriteRow row;
    row.Name = Blank(title) ? url : title;
    row.Pfad = pfad;
    row.URL = std::move(url);
    row.Datei = source + "#" + id;
    row.ImageIndex = BookmarkIconIndex();
    row.Bookmark = true;
    return row;
}
