// Start-up with 100,000 favourites: the scan alone, the main window from its creation (scan
// included) until it is shown and painted, and Ctrl+A over all rows with the selection count.
// Runs on the offscreen platform with the Qt host, on a Favorites folder made for the run
// (100 folders of 1,000 shortcut files) under a temporary HOME.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QTimer>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "WindowPaint.h"
#include "app/MainUnit.h"
#include "app/QtHost.h"
#include "app/StatusBar.h"
#include "app/core/FavoriteScan.h"
#include "sys/Application.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kPerFolder = 1000;
constexpr int kRows = kFolders * kPerFolder;

void MakeFavorites(const fs::path& favorites) {
    for (int f = 0; f < kFolders; ++f) {
        fs::path folder = favorites / ("Ordner " + std::to_string(f));
        fs::create_directories(folder);
        for (int i = 0; i < kPerFolder; ++i) {
            std::ofstream(folder / ("Seite " + std::to_string(i) + ".url"))
                << "[DEFAULT]\r\nBASEURL=https://s" << f << "-" << i
                << ".example/\r\n[InternetShortcut]\r\nURL=https://s" << f << "-" << i
                << ".example/\r\n";
        }
    }
}

void BM_Scan(benchmark::State& state) {
    std::size_t rows = 0;
    for (auto _ : state) {
        TFavoriteList list;
        TFavoriteScanner(list).FavoritenEinlesen();
        rows = list.Count();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_StartupToWindowShown(benchmark::State& state) {
    std::size_t rows = 0;
    for (auto _ : state) {
        auto form = std::make_unique<TMainForm>();
        form->show();
        if (!benchsupport::WaitUntilPainted(*form))
            state.SkipWithError("the window was not painted");
        rows = form->Favorites.Count();
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_SelectAll(benchmark::State& state) {
    TMainForm form;
    form.show();
    if (!benchsupport::WaitUntilPainted(form))
        state.SkipWithError("the window was not painted");
    QTreeView* list = form.ListView1;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
        QApplication::sendEvent(list, &press);
        QCoreApplication::processEvents();  // the list and the status bar repaint
        state.PauseTiming();
        if (form.SelectedCount() != static_cast<std::size_t>(form.Favorites.Count()))
            state.SkipWithError("Ctrl+A did not select every row");
        list->selectionModel()->clearSelection();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(form.Favorites.Count());
}

BENCHMARK(BM_Scan)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StartupToWindowShown)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SelectAll)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    fs::path home = fs::temp_directory_path() / ("qv-bench-" + std::to_string(::getpid()));
    MakeFavorites(home / "Favorites");
    ::setenv("HOME", home.c_str(), 1);
    // No remembered size, source or sort order of the user's window may change what is timed.
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    int result = 0;
    {
        QApplication qtApp(argc, argv);
        auto& app = sys::Application::Instance();
        app.SetHost(std::make_shared<QtHost>());
        app.Title = "Quorvane 1.0";
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv))
            result = 1;
        else
            benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        app.SetHost(nullptr);
    }
    fs::remove_all(home);
    return result;
}
