// quorvane-check: the check run without a window, for a terminal or a script. Scans the
// Favorites folder, reads the browsers' bookmarks (or takes the addresses it was given),
// restores the result file, checks every row with the window's own run, prints each row's log
// or record, the FAILED rows and a summary, and writes the result file. Ctrl+C acts as
// "Abbrechen". The exit code tells a script how it went (see Usage).
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "ConsoleView.h"
#include "app/core/AddressRows.h"
#include "app/core/BookmarkSources.h"
#include "app/core/CheckRun.h"
#include "app/core/ConsoleColor.h"
#include "app/core/FavoritesSource.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/Interrupt.h"
#include "app/core/JobLimit.h"
#include "app/core/ProgramDir.h"
#include "app/core/ProgramOptions.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"
#include "app/core/RunSummary.h"
#include "shell/ShellNamespace.h"
#include "sys/Application.h"
#include "sys/OpenFileLimit.h"

namespace {

constexpr int kNothingFailed = 0;
constexpr int kNotDone = 1;
constexpr int kSomeFailed = 2;

void ReportLine(const std::string& line) {
    std::fprintf(stderr, "quorvane-check: %s\n", line.c_str());
}

// What the window's error box would show, on standard error.
void ReportError(const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    ReportLine(text);
}

// A failed save outweighs a stop, which outweighs failed favourites.
int ExitCode(bool saved, int signal, std::size_t failed) {
    if (!saved)
        return kNotDone;
    if (signal != 0)
        return 128 + signal;
    return failed > 0 ? kSomeFailed : kNothingFailed;
}

// Writes the list's results, or reports why not; false then.
template <typename Save>
bool Saved(Save&& save) {
    try {
        save();
        return true;
    } catch (const std::exception& error) {
        ReportError(error);
        return false;
    }
}

// Where the run's results are read from and written to; empty: nowhere. A run of addresses
// from the command line keeps results only where --results says.
std::string ResultTarget(const TProgramOptions& options) {
    if (options.NoSave)
        return {};
    if (!options.ResultFile.empty() || !options.Addresses.empty())
        return options.ResultFile;
    return ResultFilePath(ExecutableDir());
}

// The Favorites folder's shortcuts and the bookmarks, into list; false when there is neither.
bool CollectFavorites(TFavoriteList& list, const TProgramOptions& options) {
    const TFavoritesScan scan = ScanFavorites(list, nullptr, options.FavoritesFolder);
    for (const std::string& path : scan.NoAddress)
        ReportLine(NoAddressLine(path));
    for (const std::string& line : ScanNoteLines(scan))
        ReportLine(line);
    const std::size_t bookmarks = AppendBookmarks(list, options, ReportLine);
    if (std::string line = NoFavoritesLine(scan);
        !line.empty() && !BookmarksInstead(scan, options, bookmarks))
        ReportLine(line);
    return scan.FolderFound || bookmarks > 0;
}

// Rows in flight: as many as asked for, when the process may open the sockets they need.
int JobsAllowed(const TProgramOptions& options) {
    const int asked = JobsOf(options, kCheckProgram);
    const long openFiles = sys::RaiseOpenFileLimit();
    const int granted = JobsWithinFileLimit(asked, openFiles);
    if (granted < asked && options.Jobs > 0)  // the default adapts silently
        ReportLine(FewerJobsLine(asked, granted, openFiles));
    return granted;
}

// Gives a window handle back when the function that made it ends.
struct TDeallocate {
    sys::HWND window;
    ~TDeallocate() { sys::DeallocateHWnd(window); }
};

TConsoleStyle StyleOf(const TProgramOptions& options) {
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    return {
        options.Format, options.Quiet,
        options.Format == TOutputFormat::Text &&
            ColorsWanted(options.Color, terminal, std::getenv("NO_COLOR"), std::getenv("TERM"))};
}

int CheckFavorites(const TProgramOptions& options) {
    TFavoriteList list;
    // Addresses come first: standard input is read to its end before Ctrl+C means "Abbrechen".
    if (!options.Addresses.empty())
        list.AppendRows(AddressRows(options.Addresses, std::cin));
    THttpCheckClients clients(options.TimeoutSeconds);
    TConsoleView view(list, StyleOf(options));
    const std::string resultFile = ResultTarget(options);
    const bool saving = !resultFile.empty();
    // A result file that cannot take the results is refused before the run, not after it.
    if (saving && !Saved([&] { RequirePlainResultFile(resultFile); }))
        return kNotDone;
    const auto save = [&] {
        if (saving)
            SaveURLs(list, resultFile);
    };
    TCheckRun run(list, clients.Client, view, save);
    run.SetJobs(JobsAllowed(options), clients.Requests);
    TInterrupt interrupt({SIGINT, SIGTERM}, [&run](int) { run.Break(); });
    // A reader that went away (`| head`) stops the run as Ctrl+C does; the results are written.
    const sys::HWND stopper = sys::AllocateHWnd([&run](sys::TMessage&) { run.Break(); });
    const TDeallocate stopperGoes{stopper};
    view.OnOutputClosed = [stopper] { sys::PostMessage(stopper, sys::WM_USER, 0, 0); };

    if (options.Addresses.empty() && !CollectFavorites(list, options))
        return kNotDone;  // nothing to check; the stored results stay as they are
    try {
        if (saving)
            OpenURLs(list, resultFile);
    } catch (const std::exception& error) {
        ReportError(error);
    }
    // A Ctrl+C during the scan stops the run before its first row; the file is written.
    const bool saved = Saved([&] {
        if (interrupt.Happened())
            save();
        else
            run.CheckNow(false);
    });
    view.PrintFailed();
    const TRunSummary summary = Summarize(list);
    view.PrintSummary(SummaryLine(summary));
    return ExitCode(saved, view.OutputClosed() ? SIGPIPE : interrupt.Signal(), summary.Failed);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed standard output is noticed by the failed write, not by a signal that would end
    // the program before the results are written.
    std::signal(SIGPIPE, SIG_IGN);
    // Names sort in the user's collation, with the user's letter case rules.
    std::setlocale(LC_COLLATE, "");
    std::setlocale(LC_CTYPE, "");
    TProgramOptions options;
    try {
        options = ParseOptions(kCheckProgram, std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EBadOption& error) {
        std::fprintf(stderr, "%s\n", BadOptionLine(kCheckProgram, error).c_str());
        return kNotDone;
    }
    if (options.Help || options.Version) {
        std::fputs(options.Help ? Usage(kCheckProgram).c_str()
                                : (std::string("quorvane-check ") + kProgramVersion + "\n").c_str(),
                   stdout);
        return 0;
    }
    auto& app = sys::Application::Instance();
    app.Title = "Quorvane 1.0";
    if (!shell::ShellStartup()) {
        ReportLine(shell::kCannotFindShell);
        return kNotDone;
    }
    int exitCode = CheckFavorites(options);
    shell::ShellShutdown();
    return exitCode;
}
