// Sorting the favourites list: 100,000 rows by each column with the list's quicksort (whole
// rows exchanged, keys folded on the fly), beside std::sort of the same keys precomputed.
// Prints the median of several runs and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/core/ListSort.h"

namespace {

constexpr std::size_t kRows = 100000;
constexpr int kRuns = 7;

// Rows shaped like a large real collection: few folders, mostly repeated statuses, names in
// mixed case with some umlauts.
std::vector<TFavoriteRow> MakeRows() {
    std::mt19937 rng(20021009);
    const char* syllables[] = {"ba", "Ko", "rei", "SEN", "tü", "zei", "tung", "mo", "Bahn", "ä"};
    auto word = [&](int parts) {
        std::string w;
        for (int i = 0; i < parts; ++i)
            w += syllables[rng() % std::size(syllables)];
        return w;
    };
    std::vector<std::string> folders = {""};
    for (int i = 0; i < 60; ++i)
        folders.push_back(word(2) + "/" + (i % 3 ? word(1) + "/" : ""));
    const char* statuses[] = {"???", "OK", "FAILED", "CHECKING..."};
    std::vector<TFavoriteRow> rows(kRows);
    for (auto& r : rows) {
        r.Name = word(2 + static_cast<int>(rng() % 4));
        r.Pfad = folders[rng() % folders.size()];
        char date[40];
        std::snprintf(date, sizeof date, "%04u/%02u/%02u; %02u:%02u:%02u GMT",
                      1995 + static_cast<unsigned>(rng() % 10),
                      1 + static_cast<unsigned>(rng() % 12), 1 + static_cast<unsigned>(rng() % 28),
                      static_cast<unsigned>(rng() % 24), static_cast<unsigned>(rng() % 60),
                      static_cast<unsigned>(rng() % 60));
        r.Datum = rng() % 3 ? statuses[rng() % std::size(statuses)] : date;
        r.URL = "http://www." + word(2) + ".example/" + word(3) + ".html";
        r.Datei = "/home/user/Favorites/" + r.Pfad + r.Name + ".url";
        r.ImageIndex = 3;
    }
    return rows;
}

template <typename Fn>
double MedianMs(Fn&& runOnce) {
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i)
        ms.push_back(runOnce());
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

template <typename Fn>
double TimeMs(Fn&& fn) {
    auto start = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main() {
    const std::vector<TFavoriteRow> rows = MakeRows();
    const char* names[kFavoriteColumnCount] = {"Name", "Pfad", "Datum", "URL", "Datei"};
    std::printf("%zu rows, median of %d runs\n", kRows, kRuns);
    std::printf("%-6s %-5s %14s %14s %7s\n", "column", "dir", "quicksort ms", "std::sort ms",
                "ratio");
    for (int column = 0; column < kFavoriteColumnCount; ++column) {
        for (bool descending : {false, true}) {
            double quick = MedianMs([&] {
                auto copy = rows;
                return TimeMs([&] { SortFavoriteRows(copy, column, descending); });
            });
            double standard = MedianMs([&] {
                std::vector<std::string> keys;
                keys.reserve(rows.size());
                for (const auto& r : rows)
                    keys.push_back(SortKey(r, column));
                return TimeMs([&] {
                    if (descending)
                        std::sort(keys.begin(), keys.end(), std::greater<>());
                    else
                        std::sort(keys.begin(), keys.end());
                });
            });
            std::printf("%-6s %-5s %14.1f %14.1f %7.2f\n", names[column],
                        descending ? "desc" : "asc", quick, standard, quick / standard);
        }
    }
    return 0;
}
