// Earlier check results in a result file, as a previous run would have left them. Only for
// tests that link the application's core.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/core/FavoriteList.h"
#include "app/core/ResultFile.h"

namespace testsupport {

// Writes one record with status for each shortcut path.
inline void StoreResults(const std::vector<std::string>& paths, const std::string& status,
                         const std::string& resultFile) {
    TFavoriteList list;
    for (const auto& path : paths) {
        TFavoriteRow row;
        row.Datei = path;
        row.Datum = status;
        list.Append(row);
    }
    SaveURLs(list, resultFile);
}

// The status the result file gives back to each shortcut path, by path.
inline std::map<std::string, std::string> StoredStatuses(const std::vector<std::string>& paths,
                                                         const std::string& resultFile) {
    TFavoriteList list;
    for (const auto& path : paths) {
        TFavoriteRow row;
        row.Datei = path;
        list.Append(row);
    }
    OpenURLs(list, resultFile);
    std::map<std::string, std::string> stored;
    for (const auto& row : list.Rows())
        stored[row.Datei] = row.Datum;
    return stored;
}

}  // namespace testsupport
