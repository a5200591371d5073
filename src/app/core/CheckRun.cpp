#include "CheckRun.h"

#include <algorithm>
#include <stdexcept>

#include "LocalAddress.h"
#include "ParallelCheck.h"
#include "RowText.h"
#include "sys/Application.h"
#include "sys/Messages.h"
#include "sys/Poller.h"

TCheckRun::TCheckRun(TFavoriteList& list, ICheckClient& client, ICheckRunView& view,
                     std::function<void()> saveResults)
    : list_(list), client_(client), view_(view), saveResults_(std::move(saveResults)) {}

TCheckRun::~TCheckRun() = default;

void TCheckRun::SetJobs(int jobs, TCheckRequestFactory factory) {
    if (Checking)
        throw std::logic_error("the number of jobs cannot change during a run");
    jobs_ = std::clamp(jobs, 1, kMaxJobs);
    factory_ = std::move(factory);
}

void TCheckRun::CheckNow(bool selectedOnly) {
    if (Checking)
        return;
    Start();
    try {
        const std::vector<std::size_t> rows = RowsToCheck(selectedOnly);
        view_.Progress(0);  // also for no rows at all
        view_.RowsDone(0, rows.size());
        if (jobs_ > 1 && factory_) {
            TParallelCheck parallel(
                list_, view_, BreakRequested, [this] { return factory_(proxies_); }, jobs_,
                RetryDelay);
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
    std::vector<TBlock> held;  // behind a row that waits to be asked again
    std::size_t done = 0;
    total_ = rows.size();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::size_t row = rows[i];
        AbortRequested = false;
        sys::Application::Instance().ProcessMessagesPaced();
        // The list never shrinks under a run (deleting is refused meanwhile); the check only
        // keeps a stray removal from reaching past the end.
        if (BreakRequested || row >= list_.Count())
            break;
        TBlock block = CheckRow(row, i + 1);
        if (!block.waiting) {
            Decide(block);
            ReportProgress(view_, ++done, rows.size());
        }
        if (held.empty() && !block.waiting)
            Show(block);
        else
            held.push_back(std::move(block));
    }
    // Rows that met a fault that may pass are asked again once the others are done, so that
    // their wait costs the run nothing when it has rows enough.
    for (TBlock& block : held) {
        if (block.waiting) {
            AskAgain(block);
            Decide(block);
            ReportProgress(view_, ++done, rows.size());
        }
        Show(block);
    }
}

// Every failure of whatever kind ends here, in the row and the log; the run goes on.
TCheckRun::TBlock TCheckRun::CheckRow(std::size_t row, std::size_t position) {
    TBlock block;
    block.row = row;
    block.position = position;
    if (JudgeWithoutRequest(list_[row].URL, block.outcome))
        return block;
    list_.SetDatum(row, std::string(rowtext::kChecking));
    const TNextStep next = AskWithFollowUp(row, block.ask, block.outcome, true);
    if (next.Kind == TNextStep::TKind::AskAgainLater && !BreakRequested) {
        const std::chrono::milliseconds wait = RetryWait(next, RetryDelay);
        block.outcome.log.push_back(RetryLine(wait));
        block.waiting = true;
        block.due = std::chrono::steady_clock::now() + wait;
    }
    return block;
}

void TCheckRun::AskAgain(TBlock& block) {
    WaitUntil(block.due);
    AbortRequested = false;
    if (BreakRequested || block.row >= list_.Count()) {
        // The second answer never came: the row is left unchecked rather than judged by the
        // first, which was a fault that may pass.
        block.outcome.datum = rowtext::kUnchecked;
    } else {
        AskWithFollowUp(block.row, block.ask, block.outcome, false);
    }
}

TNextStep TCheckRun::AskWithFollowUp(std::size_t row, TAsk& ask, TRowOutcome& outcome,
                                     bool mayWait) {
    TNextStep next = Ask(row, ask, outcome, mayWait);
    if (next.Kind == TNextStep::TKind::AskWithGet && !BreakRequested) {
        outcome.log.push_back(kTryingGet);
        ask = TAsk::HeaderGet;
        next = Ask(row, ask, outcome, mayWait);
    }
    return next;
}

TNextStep TCheckRun::Ask(std::size_t row, TAsk ask, TRowOutcome& outcome, bool mayWait) {
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
    return NextStep(answer, ask, mayWait);
}

void TCheckRun::WaitUntil(std::chrono::steady_clock::time_point when) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    if (BreakRequested || left.count() <= 0)
        return;
    bool due = false;
    sys::HWND window = 0;
    window = sys::AllocateHWnd([&](sys::TMessage& msg) {
        if (msg.Msg == sys::WM_TIMER)
            due = true;
        else
            msg.Result = sys::DefWindowProc(window, msg.Msg, msg.WParam, msg.LParam);
    });
    sys::SetTimer(window, 1, static_cast<unsigned>(left.count()));
    auto& app = sys::Application::Instance();
    while (!due && !BreakRequested)
        app.HandleMessage();  // blocks until the timer or the user has news
    sys::KillTimer(window, 1);
    sys::DeallocateHWnd(window);
}

void TCheckRun::Decide(const TBlock& block) {
    if (block.row < list_.Count())
        list_.SetDatum(block.row, block.outcome.datum);
}

void TCheckRun::Show(const TBlock& block) {
    view_.RowDone(block.row, block.outcome.report);
    view_.RowBlock(block.row, block.position, total_);
    for (const std::string& line : block.outcome.log)
        view_.Log(line);
}
