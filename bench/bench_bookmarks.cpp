// Reading browser bookmarks against the favourites scan: 10,000 Firefox bookmarks (a
// places.sqlite with its WAL, copied and read as a running Firefox's) and 10,000 Chromium
// bookmarks (a Bookmarks file), each against the scan of 10,000 shortcut files in nested
// folders, warm cache. The target: each read takes at most half the scan's time.
//
//   bench_bookmarks [count]     (default: 10000)
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/core/BookmarkSources.h"
#include "app/core/FavoriteScan.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 0.5;
constexpr int kRounds = 5;

std::string Address(long i) {
    return "http://www" + std::to_string(i % 97) + ".example.com/page/" + std::to_string(i) +
           ".html";
}

void MakeShortcuts(const fs::path& favorites, long count) {
    for (long i = 0; i < count; ++i) {
        const long leaf = i % 1000;
        const fs::path folder = favorites / ("Gruppe" + std::to_string(leaf / 100)) /
                                ("Thema" + std::to_string(leaf / 10 % 10));
        fs::create_directories(folder);
        std::ofstream(folder / ("Favorit " + std::to_string(i) + ".url"))
            << "[DEFAULT]\r\nBASEURL=" << Address(i)
            << "\r\n[InternetShortcut]\r\nURL=" << Address(i) << "\r\n";
    }
}

// The roots, 100 folders in the toolbar and the bookmarks spread over them, left in the WAL.
void MakePlaces(const fs::path& file, long count) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::string sql =
        "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; BEGIN;"
        "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,"
        " guid TEXT);"
        "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER, parent"
        " INTEGER, position INTEGER, title LONGVARCHAR, guid TEXT);"
        "INSERT INTO moz_bookmarks VALUES (1,2,NULL,0,0,'','root________'),"
        " (2,2,NULL,1,0,'toolbar','toolbar_____');";
    for (long f = 0; f < 100; ++f)
        sql += "INSERT INTO moz_bookmarks VALUES (" + std::to_string(10 + f) + ",2,NULL,2," +
               std::to_string(f) + ",'Ordner " + std::to_string(f) + "','folder" +
               std::to_string(f) + "');";
    for (long i = 0; i < count; ++i)
        sql += "INSERT INTO moz_places VALUES (" + std::to_string(i + 1) + ",'" + Address(i) +
               "','Seite " + std::to_string(i) + "','p" + std::to_string(i) +
               "'); INSERT INTO moz_bookmarks VALUES (" + std::to_string(1000 + i) + ",1," +
               std::to_string(i + 1) + "," + std::to_string(10 + i % 100) + "," +
               std::to_string(i / 100) + ",'Seite " + std::to_string(i) + "','b" +
               std::to_string(i) + "');";
    sqlite3_exec(db, (sql + "COMMIT;").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void MakeChromium(const fs::path& file, long count) {
    std::ofstream out(file);
    out << R"({"roots": {"bookmark_bar": {"type": "folder", "children": [)";
    for (long f = 0; f < 100; ++f) {
        out << (f ? "," : "") << R"({"type": "folder", "name": "Ordner )" << f
            << R"(", "children": [)";
        for (long i = f; i < count; i += 100)
            out << (i != f ? "," : "") << R"({"type": "url", "name": "Seite )" << i
                << R"(", "url": ")" << Address(i) << R"(", "guid": "g)" << i << R"("})";
        out << "]}";
    }
    out << "]}}}";
}

double BestSeconds(const std::function<std::size_t()>& run, std::size_t expected) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const std::size_t rows = run();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (rows != expected) {
            std::fprintf(stderr, "%zu rows, expected %zu\n", rows, expected);
            std::exit(2);
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 10000;
    std::string base = (fs::temp_directory_path() / "qv-bench-XXXXXX").string();
    if (!mkdtemp(base.data()))
        return 1;
    const fs::path dir(base);
    MakeShortcuts(dir / "Favorites", count);
    MakePlaces(dir / "places.sqlite", count);
    MakeChromium(dir / "Bookmarks", count);
    const auto expected = static_cast<std::size_t>(count);

    const double scan = BestSeconds(
        [&] {
            TFavoriteList list;
            TFavoriteScanner(list).ReadFolder((dir / "Favorites").string());
            return list.Count();
        },
        expected);
    auto read = [&](const char* file) {
        return [&dir, file] {
            return ReadBookmarkSource({"bench", (dir / file).string()}).Rows.size();
        };
    };
    const double firefox = BestSeconds(read("places.sqlite"), expected);
    const double chromium = BestSeconds(read("Bookmarks"), expected);

    std::printf("%-28s %8s %10s %7s  (target: ratio <= %.1f)\n", "source", "rows", "ms", "ratio",
                kTarget);
    std::printf("%-28s %8ld %10.1f\n", "scan of shortcut files", count, scan * 1000);
    bool ok = true;
    for (const auto& [name, seconds] : {std::pair{"Firefox places.sqlite + WAL", firefox},
                                        std::pair{"Chromium Bookmarks", chromium}}) {
        const double ratio = seconds / scan;
        std::printf("%-28s %8ld %10.1f %7.2f  %s\n", name, count, seconds * 1000, ratio,
                    ratio <= kTarget ? "ok" : "OVER TARGET");
        ok = ok && ratio <= kTarget;
    }
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
