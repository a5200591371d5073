// The favourites scan against a plain recursive walk that makes the same system calls
// (opendir/readdir, then open/read/close of every shortcut file), over generated trees of
// 10,000 and 100,000 shortcut files in nested folders, warm cache. Prints both times and their
// ratio for the headless host and for the Qt host; the target is a ratio of at most 1.5.
// Then the scan of a Favorites folder with links to /sys and /proc and a mesh of links twelve
// folders deep, two links from each to the next (4096 paths to the last); the target is under
// a second.
//
//   bench_scan [files...]     (default: 10000 100000)
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/QtHost.h"
#include "app/core/FavoriteScan.h"
#include "sys/Application.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 1.5;
constexpr int kRounds = 5;

// 10 x 10 x 10 leaf folders below the Favorites folder share the files; one file lies at the
// top so that the scan finds its icon there.
void MakeTree(const fs::path& favorites, long files) {
    fs::create_directories(favorites);
    std::ofstream(favorites / "Start.url") << "[DEFAULT]\r\nBASEURL=http://www.example.com/\r\n";
    for (long i = 1; i < files; ++i) {
        long leaf = i % 1000;
        fs::path folder = favorites / ("Gruppe" + std::to_string(leaf / 100)) /
                          ("Thema" + std::to_string(leaf / 10 % 10)) /
                          ("Seiten" + std::to_string(leaf % 10));
        if (i <= 1000)
            fs::create_directories(folder);
        std::string address = "http://www" + std::to_string(i % 97) + ".example.com/page/" +
                              std::to_string(i) + ".html";
        std::ofstream(folder / ("Favorit " + std::to_string(i) + ".url"))
            << "[DEFAULT]\r\nBASEURL=" << address << "\r\n[InternetShortcut]\r\nURL=" << address
            << "\r\nModified=C0E1C6D2A3F1C201C4\r\nIconIndex=0\r\n";
    }
}

bool IsUrl(const char* name) {
    std::size_t n = std::strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".url") == 0;
}

// The plain walk: every folder read, every shortcut file opened, read to its end and closed.
long PlainWalk(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::pair<std::string, unsigned char>> entries;
    while (dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries.emplace_back(entry->d_name, entry->d_type);
    closedir(dir);
    long files = 0;
    char buffer[16384];
    for (const auto& [name, type] : entries) {
        std::string path = folder + name;
        if (type == DT_DIR) {
            files += PlainWalk(path + "/");
        } else if (IsUrl(name.c_str())) {
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
            close(fd);
            ++files;
        }
    }
    return files;
}

// The times cover the walks alone; the rows are counted (and freed) afterwards.
struct TRun {
    std::function<void()> walk;
    std::function<long()> found;
};

TRun PlainRun(const std::string& favorites) {
    auto files = std::make_shared<long>(0);
    return {[=] { *files = PlainWalk(favorites); }, [=] { return *files; }};
}

TRun ScanRun() {
    auto list = std::make_shared<TFavoriteList>();
    return {[=] { TFavoriteScanner(*list).FavoritenEinlesen(); },
            [=] { return static_cast<long>(list->Count()); }};
}

double Seconds(TRun run, long expected) {
    auto start = std::chrono::steady_clock::now();
    run.walk();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long found = run.found();
    if (found != expected) {
        std::fprintf(stderr, "found %ld shortcut files, expected %ld\n", found, expected);
        std::exit(2);
    }
    return seconds;
}

// Best of kRounds, the two runs taking turns so that both see the same cache.
bool Measure(const char* host, const std::string& favorites, long files) {
    double plain = 1e9, scan = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        plain = std::min(plain, Seconds(PlainRun(favorites), files));
        scan = std::min(scan, Seconds(ScanRun(), files));
    }
    double ratio = scan / plain;
    std::printf("%-6s %8ld %10.1f %10.1f %7.2f  %s\n", host, files, plain * 1000, scan * 1000,
                ratio, ratio <= kTarget ? "ok" : "OVER TARGET");
    return ratio <= kTarget;
}

// Favorites/Mesh leads to folder 1 of a chain whose every folder holds a shortcut and two
// links to the next one.
void MakeMesh(const fs::path& favorites, const fs::path& chain) {
    constexpr int kLevels = 12;
    for (int k = 1; k <= kLevels; ++k) {
        fs::path level = chain / std::to_string(k);
        fs::create_directories(level);
        std::ofstream(level / "s.url") << "[InternetShortcut]\r\nURL=http://mesh.example/\r\n";
        if (k < kLevels)
            for (const char* link : {"x", "y"})
                fs::create_directory_symlink("../" + std::to_string(k + 1), level / link);
    }
    fs::create_directories(favorites);
    fs::create_directory_symlink(chain / "1", favorites / "Mesh");
    fs::create_directory_symlink("/sys", favorites / "sys");
    fs::create_directory_symlink("/proc", favorites / "proc");
}

bool MeasureBounds(const std::string& base) {
    const fs::path favorites = fs::path(base) / "Favorites";
    fs::remove_all(favorites);
    MakeMesh(favorites, fs::path(base) / "chain");
    TFavoriteList list;
    auto start = std::chrono::steady_clock::now();
    TFavoriteScanner(list).FavoritenEinlesen();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("links to /sys, /proc and a 12-level mesh: %.1f ms, %zu rows  %s\n", seconds * 1000,
                list.Count(), seconds < 1.0 ? "ok" : "OVER TARGET");
    fs::remove_all(favorites);
    return seconds < 1.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atol(argv[i]));
    if (sizes.empty())
        sizes = {10000, 100000};

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication qtApp(qtArgc, argv);
    auto& app = sys::Application::Instance();

    std::string base = (fs::temp_directory_path() / "qv-bench-XXXXXX").string();
    if (!mkdtemp(base.data()))
        return 1;
    setenv("HOME", base.c_str(), 1);
    std::string favorites = base + "/Favorites/";

    std::printf("%-6s %8s %10s %10s %7s  (target: ratio <= %.1f)\n", "host", "files", "plain ms",
                "scan ms", "ratio", kTarget);
    bool ok = true;
    for (long files : sizes) {
        fs::remove_all(favorites);
        MakeTree(favorites, files);
        PlainWalk(favorites);  // warm the cache
        app.SetHost(nullptr);
        ok = Measure("epoll", favorites, files) && ok;
        app.SetHost(std::make_shared<QtHost>());
        ok = Measure("qt", favorites, files) && ok;
        app.SetHost(nullptr);
    }
    ok = MeasureBounds(base) && ok;
    fs::remove_all(base);
    return ok ? 0 : 1;
}
