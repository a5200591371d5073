#include "ConsoleView.h"

#include <unistd.h>

#include <cerrno>

#include "app/core/ConsoleColor.h"
#include "app/core/RowHeading.h"
#include "app/core/RowRecord.h"
#include "app/core/RowText.h"

namespace {

std::string Clock(long long seconds) {
    const long long hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    auto two = [](long long n) {
        std::string text = std::to_string(n);
        if (n < 10)
            text.insert(text.begin(), '0');
        return text;
    };
    if (hours > 0)
        return std::to_string(hours) + ":" + two(minutes) + ":" + two(rest);
    return std::to_string(minutes) + ":" + two(rest);
}

}  // namespace

std::string ProgressText(std::size_t done, std::size_t total, std::size_t failed,
                         std::chrono::seconds elapsed) {
    std::string text = std::to_string(done) + "/" + std::to_string(total) + " geprüft, " +
                       std::to_string(failed) + " FAILED";
    if (done > 0 && done < total) {
        const long long left =
            elapsed.count() * static_cast<long long>(total - done) / static_cast<long long>(done);
        text += ", noch etwa " + Clock(left);
    }
    return text;
}

TConsoleView::TConsoleView(const TFavoriteList& list, const TConsoleStyle& style, std::FILE* out,
                           std::FILE* err)
    : list_(list),
      style_(style),
      out_(out),
      err_(err),
      progressLine_(::isatty(::fileno(err)) == 1) {
    if (style_.Format == TOutputFormat::Csv)
        Print(CsvHeader(), out_);
}

void TConsoleView::Log(const std::string& line) {
    if (style_.Format == TOutputFormat::Text && !style_.Quiet)
        PrintLine(line);
}

void TConsoleView::RowDone(std::size_t /*row*/, const TRowReport& report) {
    report_ = report;
}

void TConsoleView::RowBlock(std::size_t row, std::size_t position, std::size_t total) {
    done_ = position;
    total_ = total;
    const TFavoriteRow& favorite = list_[row];
    if (favorite.Datum == rowtext::kFailed)
        ++failed_;
    switch (style_.Format) {
        case TOutputFormat::Json:
            return PrintLine(JsonRecord(RecordOf(favorite, report_)));
        case TOutputFormat::Csv:
            return Print(CsvRecord(RecordOf(favorite, report_)), out_);
        case TOutputFormat::Text:
            break;
    }
    if (style_.Quiet)
        return DrawProgress();
    PrintLine(Colored(favorite.Datum, RowHeading(favorite, position, total)));
}

void TConsoleView::RunStateChanged(bool checking) {
    running_ = checking;
    if (checking)
        start_ = std::chrono::steady_clock::now();
    else
        EraseProgress();
}

void TConsoleView::PrintFailed() {
    if (style_.Format != TOutputFormat::Text)
        return;
    for (const TFavoriteRow& row : list_.Rows())
        if (row.Datum == rowtext::kFailed)
            PrintLine(Colored(row.Datum, std::string(rowtext::kFailed)) + "\t" + row.Datei + "\t" +
                      row.URL);
}

void TConsoleView::PrintSummary(const std::string& line) {
    Print(line + "\n", style_.Format == TOutputFormat::Text ? out_ : err_);
}

std::string TConsoleView::Colored(std::string_view datum, const std::string& text) const {
    const std::string_view color = style_.Color ? VerdictColor(datum) : std::string_view();
    if (color.empty())
        return text;
    return std::string(color) + text + std::string(kColorEnd);
}

void TConsoleView::Print(const std::string& text, std::FILE* to) {
    if (to == out_ && outputClosed_)
        return;
    EraseProgress();
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
    if (to == out_ && std::ferror(to) && errno == EPIPE) {
        outputClosed_ = true;
        if (OnOutputClosed)
            OnOutputClosed();
    }
    DrawProgress();
}

void TConsoleView::EraseProgress() {
    if (!progressShown_)
        return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    progressShown_ = false;
}

void TConsoleView::DrawProgress() {
    if (!progressLine_ || !running_ || total_ == 0)
        return;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_);
    const std::string text = ProgressText(done_, total_, failed_, elapsed);
    std::fprintf(err_, "\r%s\033[K", text.c_str());
    std::fflush(err_);
    progressShown_ = true;
}
