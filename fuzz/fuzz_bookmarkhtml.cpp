// Feeds arbitrary bytes as a bookmarks HTML export: the reader gives rows numbered from 1 in
// the file's order, or says why it cannot, and ends.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/HtmlBookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const THtmlBookmarks read = ParseHtmlBookmarks(text, "export.html", "/e");
        for (std::size_t i = 0; i < read.Rows.size(); ++i) {
            const TFavoriteRow& row = read.Rows[i];
            if (row.URL.empty() || row.Datei != "/e#" + std::to_string(i + 1) ||
                !row.Pfad.starts_with("export.html/"))
                __builtin_trap();
        }
    } catch (const EBookmarkSource&) {
    }
    return 0;
}
