#include "ChromiumBookmarks.h"

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

constexpr int kMaxDepth = 1000;

std::string StringField(const json& node, const char* name) {
    const auto found = node.find(name);
    return found != node.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string IdOf(const json& node) {
    std::string guid = StringField(node, "guid");
    return guid.empty() ? StringField(node, "id") : guid;
}

class TRowMaker {
  public:
    TRowMaker(const std::string& label, const std::string& source)
        : source_(source), folders_{label} {}

    void Folder(const json& folder, const std::string& name, int depth) {
        const auto children = folder.find("children");
        if (depth > kMaxDepth || children == folder.end() || !children->is_array())
            return;
        folders_.push_back(name);
        const std::string pfad = BookmarkPath(folders_);
        for (const json& child : *children) {
            if (!child.is_object())
                continue;
            const std::string type = StringField(child, "type");
            if (type == "url") {
                std::string url = StringField(child, "url");
                if (!url.empty())
                    rows_.push_back(
                        BookmarkRow(pfad, StringField(child, "name"), url, source_, IdOf(child)));
            } else if (type == "folder") {
                Folder(child, StringField(child, "name"), depth + 1);
            }
        }
        folders_.pop_back();
    }

    std::vector<TFavoriteRow> Take() { return std::move(rows_); }

  private:
    const std::string& source_;
    std::vector<std::string> folders_;
    std::vector<TFavoriteRow> rows_;
};

}  // namespace

std::vector<TFavoriteRow> ParseChromiumBookmarks(std::string_view text, const std::string& label,
                                                 const std::string& source) {
    json document = json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded())
        throw EBookmarkSource("die Datei ist beschädigt oder abgeschnitten (kein gültiges JSON)");
    const auto roots = document.is_object() ? document.find("roots") : document.end();
    if (roots == document.end() || !roots->is_object())
        throw EBookmarkSource("keine Chromium-Lesezeichendatei (der Eintrag „roots“ fehlt)");
    // The roots' names as the German browsers show them.
    static const std::pair<const char*, const char*> kRoots[] = {
        {"bookmark_bar", "Lesezeichenleiste"},
        {"other", "Weitere Lesezeichen"},
        {"synced", "Mobile Lesezeichen"},
    };
    TRowMaker maker(label, source);
    for (const auto& [key, name] : kRoots) {
        const auto root = roots->find(key);
        if (root != roots->end() && root->is_object())
            maker.Folder(*root, name, 1);
    }
    return maker.Take();
}
