// quorvane-check: the check run without a window. Scans the Favorites folder, restores the
// result file, checks every row with the window's own run, prints the log and a summary,
// and writes the result file. Ctrl+C acts as "Abbrechen".
#include <cstdio>
#include <exception>
#include <string>

#include "ConsoleView.h"
#include "app/core/CheckRun.h"
#include "app/core/FavoriteScan.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/Interrupt.h"
#include "app/core/ProgramDir.h"
#include "app/core/ResultFile.h"
#include "app/core/ResultLocation.h"
#include "app/core/RunSummary.h"
#include "shell/ShellNamespace.h"
#include "sys/Application.h"

namespace {

// What the window's error box would show, on standard error.
void ReportError(const std::exception& error) {
    std::string text = error.what();
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    std::fprintf(stderr, "quorvane-check: %s\n", text.c_str());
}

int CheckFavorites() {
    TFavoriteList list;
    THttpCli http;
    ConfigureCheckClient(http);
    THttpCheckClient client(http);
    TConsoleView view;
    const std::string resultFile = ResultFilePath(ExecutableDir());
    TCheckRun run(list, client, view, [&] { SaveURLs(list, resultFile); });
    TInterrupt interrupt({SIGINT, SIGTERM}, [&run](int) { run.Break(); });

    TFavoriteScanner(list).FavoritenEinlesen();
    try {
        OpenURLs(list, resultFile);
    } catch (const std::exception& error) {
        ReportError(error);
    }
    int exitCode = 0;
    try {
        // A Ctrl+C during the scan stops the run before its first row; the file is written.
        if (interrupt.Happened())
            SaveURLs(list, resultFile);
        else
            run.CheckNow(false);
    } catch (const std::exception& error) {
        ReportError(error);
        exitCode = 1;
    }
    std::printf("%s\n", SummaryLine(Summarize(list)).c_str());
    return exitCode;
}

}  // namespace

int main() {
    auto& app = sys::Application::Instance();
    app.Title = "Quorvane 1.0";
    if (!shell::ShellStartup()) {
        std::fprintf(stderr, "quorvane-check: %s\n", shell::kCannotFindShell);
        return 1;
    }
    int exitCode = CheckFavorites();
    shell::ShellShutdown();
    return exitCode;
}
