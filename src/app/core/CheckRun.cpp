#include "CheckRun.h"

#include <stdexcept>
#include <string_view>

#include "LastModified.h"
#include "sys/Application.h"

namespace {

constexpr std::string_view LastModifiedKey = "Last-Modified:";

// The selection may grow while a run waits, so done can pass the total counted at the start.
int Percent(std::size_t done, std::size_t total) {
    if (done >= total)
        return 100;
    return static_cast<int>(static_cast<unsigned long long>(done) * 100 / total);
}

}  // namespace

TCheckRun::TCheckRun(TFavoriteList& list, ICheckClient& client, ICheckRunView& view,
                     std::function<void()> saveResults)
    : list_(list), client_(client), view_(view), saveResults_(std::move(saveResults)) {}

void TCheckRun::CheckNow(bool selectedOnly) {
    if (Checking)
        return;
    Start();
    try {
        CheckRows(selectedOnly);
    } catch (...) {
        Finish();
        throw;
    }
    Finish();
    if (saveResults_)
        saveResults_();
}

void TCheckRun::Break() {
    BreakRequested = true;
    AbortRequested = true;
    client_.Abort();
}

void TCheckRun::AbortCurrent() {
    AbortRequested = true;
    client_.Abort();
}

void TCheckRun::Start() {
    Checking = true;
    BreakRequested = false;
    AbortRequested = false;
    view_.RunStateChanged(true);
}

void TCheckRun::Finish() {
    Checking = false;
    view_.RunStateChanged(false);
}

void TCheckRun::CheckRows(bool selectedOnly) {
    const std::size_t count = list_.Count();
    const std::size_t total = RowsToCheck(count, selectedOnly);
    std::size_t done = 0;
    view_.Progress(0);
    for (std::size_t row = 0; row < count; ++row) {
        if (selectedOnly && !view_.IsSelected(row))
            continue;
        AbortRequested = false;
        sys::Application::Instance().ProcessMessages();
        // The list never shrinks under a run (deleting is refused meanwhile); the check only
        // keeps a stray removal from reaching past the end.
        if (BreakRequested || row >= list_.Count())
            break;
        CheckRow(row);
        view_.Progress(Percent(++done, total));
    }
}

std::size_t TCheckRun::RowsToCheck(std::size_t count, bool selectedOnly) const {
    if (!selectedOnly)
        return count;
    std::size_t selected = 0;
    for (std::size_t row = 0; row < count; ++row)
        selected += view_.IsSelected(row) ? 1 : 0;
    return selected;
}

// Every failure of whatever kind ends here, in the row and the log; the run goes on.
void TCheckRun::CheckRow(std::size_t row) {
    try {
        list_.SetDatum(row, "CHECKING...");
        client_.PrepareHead(list_[row].URL);
        client_.Head();
        LogAnswer(row);
        return;
    } catch (...) {
        if (!HeadRefused())
            return LogFailure(row, "HEAD Failed !");
        LogFailureLines("HEAD Failed !");
    }
    CheckRowWithGet(row);
}

// Some servers refuse HEAD alone (405, 501, or a 403/404 for HEAD only): a live page must not
// end up FAILED, and so be deleted, for it. A dead one costs one request more.
void TCheckRun::CheckRowWithGet(std::size_t row) {
    try {
        view_.Log("Trying GET");
        client_.PrepareHeaderGet(list_[row].URL);
        client_.Get();
        LogAnswer(row);
    } catch (...) {
        LogFailure(row, "GET Failed !");
    }
}

bool TCheckRun::HeadRefused() const {
    return !AbortRequested && !BreakRequested && client_.ServerAnswered() &&
           client_.StatusCode() >= 400;
}

void TCheckRun::LogAnswer(std::size_t row) {
    // A request that ended without a status is no answer, whatever the client said.
    if (client_.StatusCode() <= 0)
        throw std::runtime_error("No HTTP answer");
    view_.Log("StatusCode = " + std::to_string(client_.StatusCode()));
    std::string datum = "OK";
    for (const std::string& line : client_.ResponseHeaderLines()) {
        view_.Log(line);
        if (std::string_view(line).substr(0, LastModifiedKey.size()) == LastModifiedKey)
            datum = LastModifiedDateText(line);
    }
    list_.SetDatum(row, std::move(datum));
}

void TCheckRun::LogFailure(std::size_t row, const char* label) {
    if (row < list_.Count())
        list_.SetDatum(row, AbortRequested ? "???" : "FAILED");
    LogFailureLines(label);
}

void TCheckRun::LogFailureLines(const char* label) {
    view_.Log(label);
    view_.Log("StatusCode   = " + std::to_string(client_.StatusCode()));
    view_.Log("ReasonPhrase = " + client_.ReasonPhrase());
}
