#include "FirefoxBookmarks.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr int kBookmarkType = 1;
constexpr int kFolderType = 2;
constexpr int kMaxDepth = 1000;

// A folder of the user's own, made with mode 0700 and removed with what it holds.
class TPrivateFolder {
  public:
    TPrivateFolder() {
        std::string pattern = (fs::temp_directory_path() / "quorvane-places-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw EBookmarkSource("kein temporärer Ordner für die Kopie: " +
                                  std::error_code(errno, std::generic_category()).message());
        path_ = pattern;
    }
    ~TPrivateFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TPrivateFolder(const TPrivateFolder&) = delete;
    TPrivateFolder& operator=(const TPrivateFolder&) = delete;
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

void CopyInto(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::copy_file(from, to, ec);
    if (ec)
        throw EBookmarkSource("nicht lesbar: " + ec.message());
}

struct TCloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using TDatabase = std::unique_ptr<sqlite3, TCloseDatabase>;

struct TFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TFinalize>;

[[noreturn]] void Fail(sqlite3* db, int code) {
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
        throw EBookmarkSource("die Datenbank ist beschädigt oder abgeschnitten (" +
                              std::string(sqlite3_errstr(code)) + ")");
    throw EBookmarkSource("keine Firefox-Lesezeichendatenbank (" +
                          std::string(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)) + ")");
}

TDatabase OpenReadOnly(const fs::path& file) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    TDatabase db(raw);
    if (code != SQLITE_OK)
        Fail(db.get(), code);
    return db;
}

struct TNode {
    int type = 0;
    std::string title;
    std::string guid;
    std::string url;
};

std::string Text(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

// Every bookmark, folder and separator, and the children of each folder in their order.
struct TTree {
    std::map<sqlite3_int64, TNode> nodes;
    std::map<sqlite3_int64, std::vector<sqlite3_int64>> children;
    std::vector<sqlite3_int64> tops;  // rows without a parent: Firefox's single root
};

TTree ReadTree(sqlite3* db) {
    const char* sql =
        "SELECT b.id, b.type, b.parent, b.title, b.guid, p.url FROM moz_bookmarks b "
        "LEFT JOIN moz_places p ON p.id = b.fk ORDER BY b.parent, b.position, b.id";
    sqlite3_stmt* raw = nullptr;
    if (int code = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr); code != SQLITE_OK)
        Fail(db, code);
    TStatement statement(raw);
    TTree tree;
    int code;
    while ((code = sqlite3_step(raw)) == SQLITE_ROW) {
        const sqlite3_int64 id = sqlite3_column_int64(raw, 0);
        const sqlite3_int64 parent = sqlite3_column_int64(raw, 2);
        tree.nodes[id] = {sqlite3_column_int(raw, 1), Text(raw, 3), Text(raw, 4), Text(raw, 5)};
        if (parent == 0)
            tree.tops.push_back(id);
        else
            tree.children[parent].push_back(id);
    }
    if (code != SQLITE_DONE)
        Fail(db, code);
    return tree;
}

// The roots' own names, as the German Firefox shows them; empty for the tags root, whose
// children only repeat bookmarks listed elsewhere.
std::string RootName(const TNode& root) {
    static const std::map<std::string, std::string> names = {
        {"menu________", "Lesezeichen-Menü"},
        {"toolbar_____", "Lesezeichen-Symbolleiste"},
        {"unfiled_____", "Weitere Lesezeichen"},
        {"mobile______", "Mobile Lesezeichen"},
        {"tags________", ""},
    };
    const auto found = names.find(root.guid);
    return found != names.end() ? found->second : root.title;
}

class TRowMaker {
  public:
    TRowMaker(const TTree& tree, const std::string& label, const std::string& source)
        : tree_(tree), source_(source), folders_{label} {}

    std::vector<TFavoriteRow> Rows() {
        for (sqlite3_int64 top : tree_.tops)
            for (sqlite3_int64 root : ChildrenOf(top)) {
                const TNode& node = tree_.nodes.at(root);
                const std::string name = RootName(node);
                if (node.type == kFolderType && !name.empty())
                    Folder(root, name, 1);
            }
        return std::move(rows_);
    }

  private:
    const std::vector<sqlite3_int64>& ChildrenOf(sqlite3_int64 id) const {
        static const std::vector<sqlite3_int64> none;
        const auto found = tree_.children.find(id);
        return found != tree_.children.end() ? found->second : none;
    }

    void Folder(sqlite3_int64 id, const std::string& name, int depth) {
        if (depth > kMaxDepth)
            return;
        folders_.push_back(name);
        const std::string pfad = BookmarkPath(folders_);
        for (sqlite3_int64 child : ChildrenOf(id)) {
            const TNode& node = tree_.nodes.at(child);
            if (node.type == kBookmarkType && !node.url.empty())
                rows_.push_back(BookmarkRow(pfad, node.title, node.url, source_, node.guid));
            else if (node.type == kFolderType)
                Folder(child, node.title, depth + 1);
        }
        folders_.pop_back();
    }

    const TTree& tree_;
    const std::string& source_;
    std::vector<std::string> folders_;
    std::vector<TFavoriteRow> rows_;
};

}  // namespace

std::vector<TFavoriteRow> ReadFirefoxBookmarks(const std::string& placesFile,
                                               const std::string& label) {
    TPrivateFolder copy;
    const fs::path database = copy.Path() / "places.sqlite";
    CopyInto(placesFile, database);
    std::error_code ec;
    if (const fs::path wal = placesFile + "-wal"; fs::exists(wal, ec))
        CopyInto(wal, copy.Path() / "places.sqlite-wal");
    TTree tree;
    {
        TDatabase db = OpenReadOnly(database);
        tree = ReadTree(db.get());
    }  // closed before the folder goes
    return TRowMaker(tree, label, placesFile).Rows();
}
