// The window against quorvane-check over the same favourites that all fail at once: 20,000
// shortcuts to a loopback port where nothing listens, so every request is refused. The window
// (offscreen platform, Qt host) times "Alle prüfen" from the click until the run has ended and
// the window has painted its end state; quorvane-check is timed as a whole program (start-up,
// scan and result file included) with its log going to /dev/null. Prints the wall and processor
// times of both and their ratios for each --jobs value; the window should take at most twice as
// long. On a busy machine the processor times are the steadier figure.
//
// Usage: bench_window [--rows N] [--jobs 1,8] [--repeat R] [path of quorvane-check]
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildRun.h"
#include "WindowPaint.h"
#include "app/MainUnit.h"
#include "app/QtHost.h"
#include "app/core/FavoritesSource.h"
#include "sys/Application.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using benchsupport::TTimes;

struct TArgs {
    int rows = 20000;
    std::vector<int> jobs{1, 8};
    int repeat = 1;
    fs::path checkProgram;
};

TArgs ParseArgs(int argc, char** argv) {
    TArgs args;
    args.checkProgram =
        fs::canonical("/proc/self/exe").parent_path().parent_path() / "src/app/quorvane-check";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rows" && hasValue) {
            args.rows = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--repeat" && hasValue) {
            args.repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--jobs" && hasValue) {
            args.jobs.clear();
            std::stringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');)
                args.jobs.push_back(std::clamp(std::atoi(item.c_str()), 1, 64));
        } else {
            args.checkProgram = arg;
        }
    }
    return args;
}

// A loopback port that nothing listens on: bound once to be handed out, then closed.
int RefusingPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind on 127.0.0.1");
    ::close(fd);
    return ntohs(addr.sin_port);
}

// A scratch folder with the Favorites folder (100 shortcuts per subfolder) and room for the
// result files of both programs.
struct TScratch {
    fs::path root;
    fs::path favorites;

    TScratch(int port, int rows) {
        std::string pattern = (fs::temp_directory_path() / "qv-bench-window-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        favorites = root / "Favorites";
        for (int i = 0; i < rows; ++i) {
            fs::path folder = favorites / ("Ordner " + std::to_string(i / 100));
            fs::create_directories(folder);
            std::string url = "http://127.0.0.1:" + std::to_string(port) + "/p" + std::to_string(i);
            std::ofstream(folder / ("Seite " + std::to_string(i) + ".url"))
                << "[DEFAULT]\r\nBASEURL=" << url << "\r\n[InternetShortcut]\r\nURL=" << url
                << "\r\n";
        }
        fs::create_directories(root / "window");
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double OwnCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return benchsupport::CpuSeconds(usage);
}

// The whole program, log to /dev/null; exit code 2 (FAILED rows) is the expected one.
TTimes TimeCheckProgram(const TArgs& args, const TScratch& scratch, int jobs) {
    const std::vector<std::string> argv{args.checkProgram.string(),
                                        "--favorites",
                                        scratch.favorites.string(),
                                        "--results",
                                        (scratch.root / "check.dat").string(),
                                        "--jobs",
                                        std::to_string(jobs),
                                        "--timeout",
                                        "5"};
    return benchsupport::TimeChild(argv, {}, 2, "quorvane-check did not end with FAILED rows");
}

bool AllFailed(const TMainForm& form, int rows) {
    if (form.Favorites.Count() != static_cast<std::size_t>(rows))
        return false;
    return std::all_of(form.Favorites.Rows().begin(), form.Favorites.Rows().end(),
                       [](const TFavoriteRow& row) { return row.Datum == "FAILED"; });
}

// From the click on "Alle prüfen" until the run has ended and its end state is painted.
TTimes TimeWindow(const TArgs& args, const TScratch& scratch, int jobs) {
    TProgramOptions options;
    options.FavoritesFolder = scratch.favorites.string();
    options.Jobs = jobs;
    options.TimeoutSeconds = 5;
    const fs::path programDir = scratch.root / "window";
    fs::remove(programDir / "urls.dat");  // every run starts from unchecked rows
    TMainForm::SetScanHook([&](TMainForm& form) {
        form.ProgramDir = programDir.string() + "/";
        ScanFavorites(form.Favorites, nullptr, form.Options.FavoritesFolder);
    });
    auto form = std::make_unique<TMainForm>(options);
    TMainForm::SetScanHook(nullptr);
    form->show();
    if (!benchsupport::WaitUntilPainted(*form))
        throw std::runtime_error("the window was not painted");
    const Clock::time_point start = Clock::now();
    const double cpuStart = OwnCpuSeconds();
    form->CheckAllBtn->click();
    QCoreApplication::processEvents();  // the end state reaches the screen
    const TTimes times{SecondsSince(start), OwnCpuSeconds() - cpuStart};
    if (!AllFailed(*form, args.rows) || form->Memo1->document()->blockCount() < args.rows)
        throw std::runtime_error("the window's run did not fail every row");
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const TArgs args = ParseArgs(argc, argv);
    if (!fs::exists(args.checkProgram)) {
        std::fprintf(stderr, "quorvane-check not found at %s\n", args.checkProgram.c_str());
        return 1;
    }
    QApplication qtApp(argc, argv);
    auto& app = sys::Application::Instance();
    app.SetHost(std::make_shared<QtHost>());
    app.Title = "Quorvane 1.0";
    int result = 0;
    try {
        const TScratch scratch(RefusingPort(), args.rows);
        // No remembered size, source or sort order of the user's window may change what is timed,
        // and the window's settings go to the scratch folder, not to the user's.
        ::setenv("XDG_CONFIG_HOME", (scratch.root / "config").c_str(), 1);
        std::printf("%d favourites, all refused\n", args.rows);
        std::printf("%-4s | %-26s | %-26s\n", "", "wall time", "processor time (user+sys)");
        std::printf("%-4s | %8s %8s %8s | %8s %8s %8s\n", "jobs", "window s", "check s", "w/c",
                    "window s", "check s", "w/c");
        for (int jobs : args.jobs) {
            for (int round = 0; round < args.repeat; ++round) {
                const TTimes check = TimeCheckProgram(args, scratch, jobs);
                const TTimes window = TimeWindow(args, scratch, jobs);
                std::printf("%-4d | %8.3f %8.3f %8.2f | %8.3f %8.3f %8.2f\n", jobs, window.wall,
                            check.wall, window.wall / check.wall, window.cpu, check.cpu,
                            window.cpu / check.cpu);
                std::fflush(stdout);
            }
        }
        std::printf("target: ratio at most 2\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_window: %s\n", e.what());
        result = 1;
    }
    app.SetHost(nullptr);
    return result;
}
