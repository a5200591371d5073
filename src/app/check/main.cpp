// quorvane-check: the check run without a window, for a terminal or a script. Scans the
// Favorites folder, reads the browsers' bookmarks, restores the result file, checks every row with
// the window's own run, prints each row's log, the FAILED rows and a summary, and writes the result
// file. Ctrl+C acts as "Abbrechen". The exit code tells a script how it went (see Usage).
#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ConsoleView.h"
#include "app/core/BookmarkSources.h"
#include "app/core/CheckRun.h"
#include "app/core/FavoritesSource.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/Interrupt.h"
#include "app/core/ProgramDir.h"
#include "app/core/ProgramOptions.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"
#include "app/core/RunSummary.h"
#include "shell/ShellNamespace.h"
#include "sys/Application.h"

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

int CheckFavorites(const TProgramOptions& options) {
    TFavoriteList list;
    THttpCheckClients clients(options.TimeoutSeconds);
    TConsoleView view(list, options.Quiet);
    const std::string resultFile =
        options.ResultFile.empty() ? ResultFilePath(ExecutableDir()) : options.ResultFile;
    // A result file that cannot take the results is refused before the run, not after it.
    if (!Saved([&] { RequirePlainResultFile(resultFile); }))
        return kNotDone;
    TCheckRun run(list, clients.Client, view, [&] { SaveURLs(list, resultFile); });
    run.SetJobs(JobsOf(options, kCheckProgram), clients.Requests);
    TInterrupt interrupt({SIGINT, SIGTERM}, [&run](int) { run.Break(); });

    const TFavoritesScan scan = ScanFavorites(list, nullptr, options.FavoritesFolder);
    for (const std::string& path : scan.NoAddress)
        ReportLine(NoAddressLine(path));
    for (const std::string& line : ScanNoteLines(scan))
        ReportLine(line);
    const std::size_t bookmarks = AppendBookmarks(list, options, ReportLine);
    if (std::string line = NoFavoritesLine(scan);
        !line.empty() && !BookmarksInstead(scan, options, bookmarks))
        ReportLine(line);
    if (!scan.FolderFound && bookmarks == 0)
        return kNotDone;  // nothing to check; the stored results stay as they are
    try {
        OpenURLs(list, resultFile);
    } catch (const std::exception& error) {
        ReportError(error);
    }
    // A Ctrl+C during the scan stops the run before its first row; the file is written.
    const bool saved = Saved([&] {
        if (interrupt.Happened())
            SaveURLs(list, resultFile);
        else
            run.CheckNow(false);
    });
    view.PrintFailed();
    const TRunSummary summary = Summarize(list);
    view.PrintLine(SummaryLine(summary));
    return ExitCode(saved, interrupt.Signal(), summary.Failed);
}

}  // namespace

int main(int argc, char** argv) {
    // Names sort in the user's collation, with the user's letter case rules.
    std::setlocale(LC_COLLATE, "");
    std::setlocale(LC_CTYPE, "");
    TProgramOptions options;
    try {
        options = ParseOptions(kCheckProgram, std::vector<std::string>(argv + 1, argv + argc));
    } catch (const EBadOption& error) {
        ReportLine(error.what());
        std::fprintf(stderr, "\n%s", Usage(kCheckProgram).c_str());
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
