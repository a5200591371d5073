// The headless program's view of a check run. In the text format standard output gets, per
// row, a line naming it and then its log block, as the window's log memo would receive it; at
// the end the FAILED rows and the summary. In the json and csv formats it gets one record per
// row instead, in row order, and the summary goes to standard error, so that standard output
// holds the records alone. When standard error is a terminal, a progress line there is drawn
// in place and taken away before anything else is written, so the two never mix on a screen.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "app/core/CheckRun.h"
#include "app/core/ProgramOptions.h"

struct TConsoleStyle {
    TOutputFormat Format = TOutputFormat::Text;
    bool Quiet = false;  // text: no row lines and no log, only the FAILED list and the summary
    bool Color = false;  // text: row lines and FAILED in their verdict's colour
};

class TConsoleView : public ICheckRunView {
  public:
    // A csv view writes its header at once.
    TConsoleView(const TFavoriteList& list, const TConsoleStyle& style, std::FILE* out = stdout,
                 std::FILE* err = stderr);

    void Log(const std::string& line) override;
    void RowDone(std::size_t row, const TRowReport& report) override;
    void RowBlock(std::size_t row, std::size_t position, std::size_t total) override;
    void RunStateChanged(bool checking) override;

    // Text: one line per FAILED row in list order: "FAILED", the shortcut file's path and its
    // address, separated by tabs, so that a script can act on the files.
    void PrintFailed();
    // The summary: the last line of standard output in text, else on standard error.
    void PrintSummary(const std::string& line);

    // Standard output was closed by its reader (`quorvane-check | head`): nothing more goes
    // there. OnOutputClosed runs once, from inside whatever was being printed, so it must only
    // post the reaction, not run it.
    bool OutputClosed() const { return outputClosed_; }
    std::function<void()> OnOutputClosed;

  private:
    void Print(const std::string& text, std::FILE* to);
    void PrintLine(const std::string& line) { Print(line + "\n", out_); }
    std::string Colored(std::string_view datum, const std::string& text) const;
    void EraseProgress();
    void DrawProgress();

    const TFavoriteList& list_;
    const TConsoleStyle style_;
    std::FILE* out_;
    std::FILE* err_;
    const bool progressLine_;  // standard error is a terminal
    TRowReport report_;        // of the row whose block comes next
    bool running_ = false;
    bool progressShown_ = false;
    bool outputClosed_ = false;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    std::size_t failed_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "3/12 geprüft, 1 FAILED, noch etwa 0:42"; the time left is left out until a row is done.
std::string ProgressText(std::size_t done, std::size_t total, std::size_t failed,
                         std::chrono::seconds elapsed);
