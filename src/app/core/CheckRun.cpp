#include "CheckRun.h"

#include <algorithm>
#include <stdexcept>

#include "ParallelCheck.h"
#include "RowText.h"
#include "sys/Application.h"

TCheckRun::TCheckRun(TFavoriteList& list, ICheckClient& client, ICheckRunView& view,
                     std::function<void()> saveResults)
    : list_(list), client_(client), view_(view), saveResults_(std::move(saveResults)) {}

TCheckRun::~TCheckRun() = default;

void TCheckRun::SetJobs(int jobs, TCheckRequestFactory factory) {
    if (Checking)
        throw std::logic_error("the number of jobs cannot change during a run");
    jobs_ = std::clamp(jobs, 1, 64);
    factory_ = std::move(factory);
}

void TCheckRun::CheckNow(bool selectedOnly) {
    if (Checking)
        return;
    Start();
    try {
        const std::vector<std::size_t> rows = RowsToCheck(selectedOnly);
        view_.Progress(0);
        if (jobs_ > 1 && factory_) {
            const TCheckRequestFactory& factory = factory_;
            TParallelCheck parallel(
                list_, view_, BreakRequested, [&] { return factory(proxies_); }, jobs_);
            parallel_ = &parallel;
            parallel.Run(rows);
            parallel_ = nullptr;
        } else {
            CheckOneByOne(rows);
        }
    } catch (...) {
        parallel_ = nullptr;
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
    if (parallel_)
        parallel_->AbortAll();
    else
        client_.Abort();
}

void TCheckRun::AbortCurrent() {
    AbortRequested = true;
    if (parallel_)
        parallel_->AbortAll();
    else
        client_.Abort();
}

void TCheckRun::Start() {
    Checking = true;
    BreakRequested = false;
    AbortRequested = false;
    proxies_ = TProxyEnv::FromEnvironment();
    client_.UseProxies(proxies_);
    view_.RunStateChanged(true);
}

void TCheckRun::Finish() {
    Checking = false;
    view_.RunStateChanged(false);
}

std::vector<std::size_t> TCheckRun::RowsToCheck(bool selectedOnly) const {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < list_.Count(); ++row)
        if (!selectedOnly || view_.IsSelected(row))
            rows.push_back(row);
    return rows;
}

void TCheckRun::CheckOneByOne(const std::vector<std::size_t>& rows) {
    std::size_t done = 0;
    for (std::size_t row : rows) {
        AbortRequested = false;
        sys::Application::Instance().ProcessMessagesPaced();
        // The list never shrinks under a run (deleting is refused meanwhile); the check only
        // keeps a stray removal from reaching past the end.
        if (BreakRequested || row >= list_.Count())
            break;
        position_ = done + 1;
        total_ = rows.size();
        CheckRow(row);
        view_.Progress(CheckProgress(++done, rows.size()));
    }
}

// Every failure of whatever kind ends here, in the row and the log; the run goes on.
void TCheckRun::CheckRow(std::size_t row) {
    TRowOutcome outcome;
    list_.SetDatum(row, std::string(rowtext::kChecking));
    const TNextStep next = Ask(row, TAsk::Head, outcome);
    if (next.Kind == TNextStep::TKind::AskWithGet && !BreakRequested) {
        outcome.log.push_back(kTryingGet);
        Ask(row, TAsk::HeaderGet, outcome);
    }
    Show(row, outcome);
}

TNextStep TCheckRun::Ask(std::size_t row, TAsk ask, TRowOutcome& outcome) {
    bool raised = false;
    try {
        if (ask == TAsk::Head) {
            client_.PrepareHead(list_[row].URL);
            client_.Head();
        } else {
            client_.PrepareHeaderGet(list_[row].URL);
            client_.Get();
        }
    } catch (...) {
        // The client raises for a refusal or a failure; its results tell which.
        raised = true;
    }
    TAnswer answer = AnswerOf(client_, AbortRequested);
    // A raise that left an earlier answer's good status behind is no answer to this request.
    if (raised && answer.StatusCode > 0 && answer.StatusCode < 400) {
        answer.StatusCode = 0;
        answer.ServerAnswered = false;
    }
    JudgeAnswer(answer, ask, outcome);
    return NextStep(answer, ask, false);
}

void TCheckRun::Show(std::size_t row, const TRowOutcome& outcome) {
    if (row < list_.Count())
        list_.SetDatum(row, outcome.datum);
    view_.RowBlock(row, position_, total_);
    for (const std::string& line : outcome.log)
        view_.Log(line);
}
