// Bookmark files as the browsers leave them, made by the tests: a Firefox places.sqlite held
// open as a running Firefox holds it, a Chromium "Bookmarks" file and an HTML export. The
// addresses point at a server the test names (base is "http://127.0.0.1:PORT").
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace bookmarkfixtures {

struct TCloseDb {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using TOpenDb = std::unique_ptr<sqlite3, TCloseDb>;

inline void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string text = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(text);
    }
}

// Firefox's tables with their usual columns; the six roots; in the toolbar a bookmark with
// an entity-like title and the folder "Reisen" with a dead page; in the menu a separator and a
// place: query; in "unfiled" a bookmark without a title; the tag "reise" on the dead page; and
// a place that only the history knows. Written in WAL mode with an exclusive lock and nothing
// checkpointed; the returned connection keeps it so, like a running Firefox, until it goes.
inline TOpenDb MakeRunningPlaces(const std::filesystem::path& file, const std::string& base) {
    sqlite3* raw = nullptr;
    sqlite3_open(file.c_str(), &raw);
    TOpenDb db(raw);
    Exec(raw,
         "PRAGMA journal_mode=WAL; PRAGMA locking_mode=EXCLUSIVE; PRAGMA wal_autocheckpoint=0;"
         "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,"
         " rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL,"
         " typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL,"
         " last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL,"
         " url_hash INTEGER DEFAULT 0 NOT NULL, description TEXT, preview_image_url TEXT,"
         " site_name TEXT, origin_id INTEGER, recalc_frecency INTEGER NOT NULL DEFAULT 0);"
         "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT"
         " NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER,"
         " folder_type TEXT, dateAdded INTEGER, lastModified INTEGER, guid TEXT,"
         " syncStatus INTEGER NOT NULL DEFAULT 0, syncChangeCounter INTEGER NOT NULL DEFAULT 1);"
         "CREATE UNIQUE INDEX moz_places_guid_uniqueindex ON moz_places (guid);"
         "CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);");
    Exec(raw,
         "INSERT INTO moz_places (id, url, title, guid, foreign_count) VALUES"
         " (1, '" +
             base +
             "/ok', 'Bahn', 'place_ok____', 1),"
             " (2, '" +
             base +
             "/gone', 'Hotel', 'place_gone__', 2),"
             " (3, '" +
             base +
             "/history', 'Nur im Verlauf', 'place_hist__', 0),"
             " (4, 'place:sort=8&maxResults=10', NULL, 'place_query_', 1),"
             " (5, '" +
             base +
             "/untitled', NULL, 'place_untit_', 1);"
             "INSERT INTO moz_bookmarks (id, type, fk, parent, position, title, guid) VALUES"
             " (1, 2, NULL, 0, 0, '', 'root________'),"
             " (2, 2, NULL, 1, 0, 'menu', 'menu________'),"
             " (3, 2, NULL, 1, 1, 'toolbar', 'toolbar_____'),"
             " (4, 2, NULL, 1, 2, 'tags', 'tags________'),"
             " (5, 2, NULL, 1, 3, 'unfiled', 'unfiled_____'),"
             " (6, 2, NULL, 1, 4, 'mobile', 'mobile______'),"
             " (7, 2, NULL, 3, 1, 'Reisen', 'folder_reise'),"
             " (8, 1, 1, 3, 0, 'Bahn &amp; Bus', 'bm_ok_______'),"
             " (9, 1, 2, 7, 0, 'Hotel', 'bm_gone_____'),"
             " (10, 3, NULL, 2, 0, NULL, 'separator___'),"
             " (11, 1, 4, 2, 1, 'Zuletzt verwendet', 'bm_query____'),"
             " (12, 2, NULL, 4, 0, 'reise', 'tag_reise___'),"
             " (13, 1, 2, 12, 0, NULL, 'tag_entry___'),"
             " (14, 1, 5, 5, 0, NULL, 'bm_untitled_');");
    return db;
}

// Nested folders in the bookmark bar, one bookmark in "other", an empty "synced".
inline std::string ChromiumBookmarks(const std::string& base) {
    return R"({"checksum": "0", "roots": {
  "bookmark_bar": {"name": "Bookmarks bar", "type": "folder", "children": [
    {"type": "url", "name": "Start", "url": ")" +
           base + R"(/ok", "guid": "c-start", "id": "5"},
    {"type": "folder", "name": "Arbeit", "children": [
      {"type": "folder", "name": "Alt \u00e4", "children": [
        {"type": "url", "name": "Weg", "url": ")" +
           base + R"(/gone", "guid": "c-gone", "id": "8"}
      ]}
    ]}
  ]},
  "other": {"name": "Other bookmarks", "type": "folder", "children": [
    {"type": "url", "name": "", "url": ")" +
           base + R"(/other", "guid": "c-other", "id": "9"}
  ]},
  "synced": {"name": "Mobile bookmarks", "type": "folder", "children": []}
}, "version": 1})";
}

// An export with entities in titles and addresses and folders two deep.
inline std::string HtmlExport(const std::string& base) {
    return "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
           "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
           "    <DT><A HREF=\"" +
           base +
           "/ok?a=1&amp;b=2\" ADD_DATE=\"1\">Caf&eacute; &amp; Bar</A>\n"
           "    <DT><H3 ADD_DATE=\"1\">Reisen &amp; Urlaub</H3>\n    <DL><p>\n"
           "        <DT><H3>Tief</H3>\n        <DL><p>\n"
           "            <DT><A HREF=\"" +
           base +
           "/gone\">Weg</A>\n"
           "        </DL><p>\n"
           "        <DT><A HREF=\"" +
           base +
           "/second\">&quot;Zweiter&quot;</A>\n"
           "    </DL><p>\n"
           "    <DT><A HREF=\"" +
           base +
           "/last\"></A>\n"
           "</DL><p>\n";
}

}  // namespace bookmarkfixtures
