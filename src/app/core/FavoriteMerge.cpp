#include "FavoriteMerge.h"

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>

namespace {

using TByFile = std::unordered_map<std::string, std::size_t>;

bool SameTexts(const TFavoriteRow& a, const TFavoriteRow& b) {
    return a.Name == b.Name && a.Pfad == b.Pfad && a.URL == b.URL && a.ImageIndex == b.ImageIndex;
}

// From the last row to the first, so that the positions still to visit stay.
bool RemoveGone(TFavoriteList& list, const TByFile& scanned) {
    bool removed = false;
    for (std::size_t i = list.Count(); i-- > 0;) {
        if (!list[i].Bookmark && !scanned.count(list[i].Datei)) {
            list.Remove(i);
            removed = true;
        }
    }
    return removed;
}

// A row whose shortcut names another address has a verdict of nothing it names now.
void TakeTexts(TFavoriteRow& row, const TFavoriteRow& scanned) {
    if (row.URL != scanned.URL)
        row.Datum = scanned.Datum;
    row.Name = scanned.Name;
    row.Pfad = scanned.Pfad;
    row.URL = scanned.URL;
    row.ImageIndex = scanned.ImageIndex;
}

bool UpdateChanged(TFavoriteList& list, const std::vector<TFavoriteRow>& scanned,
                   const TByFile& byFile) {
    bool any = false;
    for (const TFavoriteRow& row : list.Rows()) {
        auto it = row.Bookmark ? byFile.end() : byFile.find(row.Datei);
        if (it != byFile.end() && !SameTexts(row, scanned[it->second]))
            any = true;
    }
    if (!any)
        return false;
    list.Rewrite([&](std::vector<TFavoriteRow>& rows) {
        for (TFavoriteRow& row : rows) {
            auto it = row.Bookmark ? byFile.end() : byFile.find(row.Datei);
            if (it != byFile.end())
                TakeTexts(row, scanned[it->second]);
        }
    });
    return true;
}

}  // namespace

bool MergeShortcutRows(TFavoriteList& list, std::vector<TFavoriteRow> scanned) {
    TByFile byFile;
    for (std::size_t i = 0; i < scanned.size(); ++i)
        byFile.emplace(scanned[i].Datei, i);
    bool changed = RemoveGone(list, byFile);
    changed = UpdateChanged(list, scanned, byFile) || changed;
    TByFile listed;
    for (std::size_t i = 0; i < list.Count(); ++i)
        if (!list[i].Bookmark)
            listed.emplace(list[i].Datei, i);
    std::vector<TFavoriteRow> added;
    for (TFavoriteRow& row : scanned)
        if (listed.emplace(row.Datei, 0).second)  // also one row for a file scanned twice
            added.push_back(std::move(row));
    if (added.empty())
        return changed;
    list.AppendRows(std::move(added));
    return true;
}
