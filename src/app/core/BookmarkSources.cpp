#include "BookmarkSources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "ChromiumBookmarks.h"
#include "FirefoxBookmarks.h"
#include "HtmlBookmarks.h"
#include "ShortcutProfile.h"
#include "sys/AsciiText.h"
#include "sys/UserFolders.h"

namespace {

namespace fs = std::filesystem;

// Bookmark files larger than this are not read into memory.
constexpr std::uintmax_t kMaxTextSize = 256u << 20;
// Enough of a file to tell its kind.
constexpr std::uintmax_t kHeadSize = 4096;

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// A file's text, or its first bytes when it holds more than limit; a file whose text is
// wanted whole (limit kMaxTextSize) and is larger is refused.
std::string ReadText(const std::string& path, std::uintmax_t limit) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        throw EBookmarkSource("nicht lesbar: " + ec.message());
    if (size > limit && limit == kMaxTextSize)
        throw EBookmarkSource("die Datei ist zu groß");
    std::ifstream in(path, std::ios::binary);
    std::string text(static_cast<std::size_t>(std::min(size, limit)), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(text.size())))
        throw EBookmarkSource("nicht lesbar: " +
                              std::error_code(errno, std::generic_category()).message());
    return text;
}

// The profiles that a profiles.ini names: their Name= and their folder.
std::vector<TBookmarkSource> FirefoxProfiles(const fs::path& base) {
    struct TProfile {
        std::string section, name, path;
        bool relative = true;
    };
    std::ifstream in(base / "profiles.ini", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::vector<TProfile> profiles;
    profile::ForEachEntry(
        text, [&](std::string_view section, std::string_view key, std::string_view value) {
            if (!sys::LowerAscii(section).starts_with("profile"))
                return true;
            if (profiles.empty() || profiles.back().section != section)
                profiles.push_back({std::string(section), {}, {}});
            TProfile& p = profiles.back();
            if (profile::SameName(key, "Path"))
                p.path = value;
            else if (profile::SameName(key, "Name"))
                p.name = value;
            else if (profile::SameName(key, "IsRelative"))
                p.relative = value != "0";
            return true;
        });
    std::vector<TBookmarkSource> found;
    for (const TProfile& p : profiles) {
        if (p.path.empty())
            continue;
        const fs::path folder = p.relative ? base / p.path : fs::path(p.path);
        if (IsFile(folder / "places.sqlite"))
            found.push_back({"Firefox (" + (p.name.empty() ? p.path : p.name) + ")",
                             (folder / "places.sqlite").string()});
    }
    return found;
}

// "Default" and "Profile N" in N's order.
std::vector<std::string> ChromiumProfileNames(const fs::path& base) {
    std::vector<std::pair<long, std::string>> numbered;
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const std::string digits = name.starts_with("Profile ") ? name.substr(8) : "";
        if (!digits.empty() && digits.size() < 10 &&
            std::all_of(digits.begin(), digits.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            numbered.emplace_back(std::stol(digits), name);
    }
    std::sort(numbered.begin(), numbered.end());
    std::vector<std::string> names{"Default"};
    for (auto& [number, name] : numbered)
        names.push_back(std::move(name));
    return names;
}

std::string CountText(std::size_t rows) {
    return rows == 1 ? "1 Lesezeichen" : std::to_string(rows) + " Lesezeichen";
}

}  // namespace

TBookmarkKind KindOfContent(std::string_view head) {
    using namespace std::string_view_literals;
    if (head.starts_with("SQLite format 3\0"sv))
        return TBookmarkKind::Firefox;
    std::string_view text = head;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && text[first] == '{')
        return TBookmarkKind::Chromium;
    const std::string lower = sys::LowerAscii(text);
    if (lower.find("netscape-bookmark-file") != std::string::npos ||
        lower.find("<dl") != std::string::npos)
        return TBookmarkKind::Html;
    return TBookmarkKind::Unknown;
}

std::vector<TBookmarkSource> FindBrowserBookmarks(const std::string& home) {
    const fs::path h(home);
    std::vector<TBookmarkSource> sources;
    for (const char* base : {".mozilla/firefox", "snap/firefox/common/.mozilla/firefox",
                             ".var/app/org.mozilla.firefox/.mozilla/firefox"})
        for (TBookmarkSource& source : FirefoxProfiles(h / base))
            sources.push_back(std::move(source));
    static const std::pair<const char*, const char*> kChromium[] = {
        {".config/chromium", "Chromium"},
        {".config/google-chrome", "Google Chrome"},
        {".config/google-chrome-beta", "Google Chrome Beta"},
        {".config/BraveSoftware/Brave-Browser", "Brave"},
        {".config/microsoft-edge", "Microsoft Edge"},
        {".config/vivaldi", "Vivaldi"},
        {"snap/chromium/common/chromium", "Chromium"},
        {".var/app/com.google.Chrome/config/google-chrome", "Google Chrome"},
        {".var/app/org.chromium.Chromium/config/chromium", "Chromium"},
    };
    for (const auto& [base, browser] : kChromium)
        for (const std::string& profile : ChromiumProfileNames(h / base))
            if (const fs::path file = h / base / profile / "Bookmarks"; IsFile(file))
                sources.push_back({std::string(browser) + " (" + profile + ")", file.string()});
    return sources;
}

TBookmarkRead ReadBookmarkSource(const TBookmarkSource& source) {
    switch (KindOfContent(ReadText(source.Path, kHeadSize))) {
        case TBookmarkKind::Firefox:
            return {ReadFirefoxBookmarks(source.Path, source.Label), {}};
        case TBookmarkKind::Chromium:
            return {ParseChromiumBookmarks(ReadText(source.Path, kMaxTextSize), source.Label,
                                           source.Path),
                    {}};
        case TBookmarkKind::Html: {
            THtmlBookmarks html =
                ParseHtmlBookmarks(ReadText(source.Path, kMaxTextSize), source.Label, source.Path);
            return {std::move(html.Rows),
                    html.Truncated ? "die Datei ist abgeschnitten, gelesen bis dahin" : ""};
        }
        case TBookmarkKind::Unknown:
            break;
    }
    throw EBookmarkSource(
        "weder eine Firefox-Datenbank noch eine Chromium- oder HTML-Lesezeichendatei");
}

std::vector<TBookmarkSource> BookmarkSourcesFor(const TProgramOptions& options,
                                                const std::string& home) {
    if (!options.BookmarkFiles.empty()) {
        std::vector<TBookmarkSource> given;
        for (const std::string& file : options.BookmarkFiles) {
            std::error_code ec;
            const fs::path path = fs::absolute(file, ec).lexically_normal();
            given.push_back({path.filename().string(), ec ? file : path.string()});
        }
        return given;
    }
    if (!options.FavoritesFolder.empty())
        return {};
    return FindBrowserBookmarks(home);
}

std::size_t AppendBookmarks(TFavoriteList& list, const TProgramOptions& options,
                            const TReportLine& report) {
    std::size_t appended = 0;
    for (const TBookmarkSource& source : BookmarkSourcesFor(options, sys::HomeDirectory())) {
        const std::string named = source.Label + " (" + source.Path + ")";
        try {
            TBookmarkRead read = ReadBookmarkSource(source);
            const std::size_t rows = read.Rows.size();
            report("Lesezeichen gelesen: " + named + ": " + CountText(rows) +
                   (read.Note.empty() ? "" : "; " + read.Note));
            list.AppendRows(std::move(read.Rows));
            appended += rows;
        } catch (const EBookmarkSource& error) {
            report("Lesezeichen nicht lesbar: " + named + ": " + error.what());
        }
    }
    return appended;
}

bool BookmarksInstead(const TFavoritesScan& /*scan*/, const TProgramOptions& options,
                      std::size_t bookmarks) {
    return bookmarks > 0 && options.FavoritesFolder.empty();
}
