// The headless program's view of a check run. Standard output gets, per row, a line naming it
// and then its log block, as the window's log memo would receive it; at the end the FAILED rows
// and the summary. When standard error is a terminal, a progress line there is drawn in place
// and taken away before anything goes to standard output, so the two never mix on a screen.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "app/core/CheckRun.h"

class TConsoleView : public ICheckRunView {
  public:
    // quiet: no row lines and no log, only what PrintFailed and PrintLine write.
    TConsoleView(const TFavoriteList& list, bool quiet, std::FILE* out = stdout,
                 std::FILE* err = stderr);

    void Log(const std::string& line) override;
    void RowBlock(std::size_t row, std::size_t position, std::size_t total) override;
    void RunStateChanged(bool checking) override;

    // One line per FAILED row in list order: "FAILED", the shortcut file's path and its
    // address, separated by tabs, so that a script can act on the files.
    void PrintFailed();
    // A line on standard output, out of the progress line's way.
    void PrintLine(const std::string& line);

  private:
    void EraseProgress();
    void DrawProgress();

    const TFavoriteList& list_;
    const bool quiet_;
    std::FILE* out_;
    std::FILE* err_;
    const bool progressLine_;  // standard error is a terminal
    bool running_ = false;
    bool progressShown_ = false;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    std::size_t failed_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "3/12 geprüft, 1 FAILED, noch etwa 0:42"; the time left is left out until a row is done.
std::string ProgressText(std::size_t done, std::size_t total, std::size_t failed,
                         std::chrono::seconds elapsed);
