// Feeds arbitrary bytes as a Chromium "Bookmarks" file: the reader gives rows whose addresses
// come from the text, or says why it cannot, and ends.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/ChromiumBookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        for (const TFavoriteRow& row : ParseChromiumBookmarks(text, "Chromium (Default)", "/B")) {
            if (row.URL.empty() || !row.Bookmark || !row.Pfad.starts_with("Chromium (Default)/"))
                __builtin_trap();
        }
    } catch (const EBookmarkSource&) {
    }
    return 0;
}
