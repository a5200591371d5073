#include "ParallelCheck.h"

#include "LocalAddress.h"
#include "RowText.h"
#include "http/HttpRelocation.h"
#include "http/HttpUrl.h"
#include "sys/Application.h"
#include "sys/Poller.h"

namespace {

// The host and port a row's address asks first, which the per-host limit counts by.
std::string HostKey(const std::string& url) {
    http::TRequestAddress address;
    if (!http::StartAddress(address, url, "", ""))
        return url;
    return http::LowerAscii(address.TargetHost) + ":" + address.TargetPort;
}

}  // namespace

struct TParallelCheck::TTask {
    std::size_t order = 0;
    std::size_t row = 0;
    std::string url;
    std::string host;
    std::unique_ptr<ICheckRequest> request;
    TStep step = TStep::Head;
    TAsk retryAsk = TAsk::Head;  // the request asked again after the wait
    bool retried = false;
    bool aborted = false;
    std::uintptr_t timer = 0;
    TRowOutcome outcome;
};

TParallelCheck::TParallelCheck(TFavoriteList& list, ICheckRunView& view, const bool& breakRequested,
                               TMakeRequest makeRequest, int jobs,
                               std::chrono::milliseconds retryDelay)
    : list_(list),
      view_(view),
      breakRequested_(breakRequested),
      makeRequest_(std::move(makeRequest)),
      jobs_(jobs),
      retryDelay_(retryDelay) {
    window_ = sys::AllocateHWnd([this](sys::TMessage& msg) { WndProc(msg); });
}

TParallelCheck::~TParallelCheck() {
    for (auto& [order, task] : tasks_)
        if (task->timer)
            sys::KillTimer(window_, task->timer);
    sys::DeallocateHWnd(window_);
}

void TParallelCheck::Run(const std::vector<std::size_t>& rows) {
    rows_ = rows;
    started_.assign(rows.size(), false);
    auto& app = sys::Application::Instance();
    app.ProcessMessages();  // a stop that is already waiting comes first, as between rows
    for (;;) {
        if (!breakRequested_)
            StartRows();
        if (tasks_.empty())
            break;
        app.HandleMessage();  // blocks until a request, a timer or the user has news
        ReapFinished();
    }
    // Rows that never started (after "Abbrechen") have no block: the held ones go out in order.
    nextToLog_ = rows_.size();
    for (auto& [order, outcome] : held_) {
        view_.RowBlock(rows_[order], order + 1, rows_.size());
        for (const std::string& line : outcome.log)
            view_.Log(line);
    }
    held_.clear();
    waitingHosts_.clear();
}

void TParallelCheck::AbortAll() {
    std::vector<TTask*> inFlight;
    for (auto& [order, task] : tasks_)
        inFlight.push_back(task.get());
    for (TTask* task : inFlight) {
        task->aborted = true;
        if (task->step == TStep::Waiting || task->step == TStep::Retry) {
            // Nothing is in flight while a row waits to ask again: it ends here.
            if (task->timer)
                sys::KillTimer(window_, task->timer);
            task->timer = 0;
            Finish(*task);
        } else {
            task->request->Abort();
        }
    }
}

std::size_t TParallelCheck::InFlight() const {
    std::size_t count = 0;
    for (const auto& [order, task] : tasks_)
        count += task->step != TStep::Waiting ? 1 : 0;
    return count;
}

int TParallelCheck::Limit(const std::string& host) const {
    const auto it = throttled_.find(host);
    return it != throttled_.end() && it->second ? 1 : kPerHost;
}

bool TParallelCheck::HostFree(const std::string& host) const {
    const auto it = perHost_.find(host);
    return it == perHost_.end() || it->second < Limit(host);
}

void TParallelCheck::StartRows() {
    // Rows whose wait is over go first: they hold their host already.
    for (auto& [order, task] : tasks_) {
        if (task->step != TStep::Retry || InFlight() >= static_cast<std::size_t>(jobs_))
            continue;
        task->step = task->retryAsk == TAsk::Head ? TStep::Head : TStep::Get;
        Launch(*task, task->step == TStep::Get);
    }
    while (InFlight() < static_cast<std::size_t>(jobs_) && StartNext()) {
    }
}

// Starts the first row not yet started whose host is free, looking a bounded way ahead so that
// the held log blocks stay few. False when there is none.
bool TParallelCheck::StartNext() {
    while (firstUnstarted_ < rows_.size() && started_[firstUnstarted_])
        ++firstUnstarted_;
    const std::size_t end = std::min(rows_.size(), firstUnstarted_ + kLookAhead);
    for (std::size_t order = firstUnstarted_; order < end; ++order) {
        if (started_[order])
            continue;
        const std::size_t row = rows_[order];
        if (row >= list_.Count()) {  // a stray removal: nothing to check there
            started_[order] = true;
            held_[order];
            continue;
        }
        if (JudgedWithoutRequest(order, row))
            return true;
        const std::string& url = list_[row].URL;
        if (!HostFree(HostOfWaiting(order, url)))
            continue;
        started_[order] = true;
        auto task = std::make_unique<TTask>();
        task->order = order;
        task->row = row;
        task->url = url;
        task->host = std::move(waitingHosts_[order].second);
        waitingHosts_.erase(order);
        const std::string& host = task->host;
        TTask& added = *task;
        tasks_[order] = std::move(task);
        ++perHost_[host];
        list_.SetDatum(row, std::string(rowtext::kChecking));
        Launch(added, false);
        return true;
    }
    return false;
}

// A row that waits in the look-ahead keeps its host, so that the rows behind a busy host are
// not parsed again at every pass (a run of one site's rows would cost a parse of the whole
// look-ahead per row); an address changed meanwhile is parsed anew.
const std::string& TParallelCheck::HostOfWaiting(std::size_t order, const std::string& url) {
    auto& [parsedUrl, host] = waitingHosts_[order];
    if (host.empty() || parsedUrl != url) {
        parsedUrl = url;
        host = HostKey(url);
    }
    return host;
}

void TParallelCheck::Launch(TTask& task, bool headerGet) {
    if (headerGet)
        task.outcome.log.push_back(kTryingGet);
    task.request = makeRequest_();
    const std::size_t order = task.order;
    task.request->Start(task.url, headerGet, [this, order] {
        // The request may be gone by the time the run looks: only note that it ended.
        finished_.push_back(order);
    });
}

void TParallelCheck::ReapFinished() {
    std::vector<std::size_t> finished;
    finished.swap(finished_);
    for (std::size_t order : finished) {
        const auto it = tasks_.find(order);
        if (it != tasks_.end() && it->second->step != TStep::Waiting)
            Ended(*it->second);
    }
}

void TParallelCheck::Ended(TTask& task) {
    const TAsk ask = task.step == TStep::Get ? TAsk::HeaderGet : TAsk::Head;
    const TAnswer answer = AnswerOf(*task.request, task.aborted);
    JudgeAnswer(answer, ask, task.outcome);
    const TNextStep next = NextStep(answer, ask, !task.retried);
    if (next.Kind == TNextStep::TKind::Done || breakRequested_)
        return Finish(task);
    if (next.Kind == TNextStep::TKind::AskAgainLater) {
        task.retryAsk = ask;
        return WaitToRetry(task, next);
    }
    task.step = TStep::Get;
    Launch(task, true);
}

void TParallelCheck::WaitToRetry(TTask& task, const TNextStep& next) {
    const std::chrono::milliseconds wait = RetryWait(next, retryDelay_);
    task.outcome.log.push_back(RetryLine(wait));
    task.retried = true;
    task.step = TStep::Waiting;
    if (next.SlowDown)
        throttled_[task.host] = true;
    task.request.reset();
    task.timer = nextTimer_++;
    sys::SetTimer(window_, task.timer, static_cast<unsigned>(wait.count()) + 1u);
}

bool TParallelCheck::JudgedWithoutRequest(std::size_t order, std::size_t row) {
    TRowOutcome outcome;
    if (!JudgeWithoutRequest(list_[row].URL, outcome))
        return false;
    started_[order] = true;
    waitingHosts_.erase(order);
    list_.SetDatum(row, outcome.datum);
    held_[order] = std::move(outcome);
    ReportProgress(view_, ++done_, rows_.size());
    FlushLog();
    return true;
}

void TParallelCheck::WndProc(sys::TMessage& msg) {
    if (msg.Msg != sys::WM_TIMER) {
        msg.Result = sys::DefWindowProc(window_, msg.Msg, msg.WParam, msg.LParam);
        return;
    }
    sys::KillTimer(window_, msg.WParam);
    for (auto& [order, task] : tasks_) {
        if (task->timer == msg.WParam) {
            task->timer = 0;
            task->step = TStep::Retry;  // starts when a job is free
        }
    }
}

void TParallelCheck::Finish(TTask& task) {
    if (task.row < list_.Count())
        list_.SetDatum(task.row, task.outcome.datum);
    held_[task.order] = std::move(task.outcome);
    if (--perHost_[task.host] <= 0)
        perHost_.erase(task.host);
    const std::size_t order = task.order;
    tasks_.erase(order);  // the row's client goes with it
    ReportProgress(view_, ++done_, rows_.size());
    FlushLog();
}

void TParallelCheck::FlushLog() {
    for (auto it = held_.find(nextToLog_); it != held_.end(); it = held_.find(nextToLog_)) {
        view_.RowBlock(rows_[nextToLog_], nextToLog_ + 1, rows_.size());
        for (const std::string& line : it->second.log)
            view_.Log(line);
        held_.erase(it);
        ++nextToLog_;
    }
}
