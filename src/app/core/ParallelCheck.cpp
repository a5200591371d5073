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
    Queue();
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
        view_.RowDone(rows_[order], outcome.report);
        view_.RowBlock(rows_[order], order + 1, rows_.size());
        for (const std::string& line : outcome.log)
            view_.Log(line);
    }
    held_.clear();
    pending_.clear();
    ready_.clear();
    readyEntry_.clear();
}

// Sorts the rows by the host and port they ask first; rows that need no request wait for the
// run's first pass.
void TParallelCheck::Queue() {
    hostOf_.assign(rows_.size(), {});
    urlOf_.assign(rows_.size(), {});
    for (std::size_t order = 0; order < rows_.size(); ++order) {
        const std::size_t row = rows_[order];
        if (row >= list_.Count()) {  // a stray removal: nothing to check there
            held_[order];
            continue;
        }
        const std::string& url = list_[row].URL;
        if (KindOfAddress(url) != TAddressKind::Web) {
            local_.push_back(order);
            continue;
        }
        urlOf_[order] = url;
        hostOf_[order] = HostKey(url);
        pending_[hostOf_[order]].push_back(order);
    }
    for (const auto& [host, orders] : pending_)
        Refresh(host);
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
    JudgeLocalRows();
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

void TParallelCheck::JudgeLocalRows() {
    std::vector<std::size_t> local;
    local.swap(local_);
    for (std::size_t order : local)
        JudgeWithoutRequest(order, rows_[order]);
}

// Starts the first row not yet started whose host is free. False when there is none.
bool TParallelCheck::StartNext() {
    while (!ready_.empty()) {
        const std::size_t order = *ready_.begin();
        const std::string host = hostOf_[order];
        pending_[host].pop_front();
        Refresh(host);
        const std::size_t row = rows_[order];
        if (row >= list_.Count()) {  // removed meanwhile
            held_[order];
            FlushLog();
            continue;
        }
        if (list_[row].URL != urlOf_[order]) {  // changed meanwhile: queued anew
            urlOf_[order] = list_[row].URL;
            hostOf_[order] = HostKey(urlOf_[order]);
            auto& queue = pending_[hostOf_[order]];
            queue.insert(std::lower_bound(queue.begin(), queue.end(), order), order);
            Refresh(hostOf_[order]);
            continue;
        }
        auto task = std::make_unique<TTask>();
        task->order = order;
        task->row = row;
        task->url = urlOf_[order];
        task->host = host;
        TTask& added = *task;
        tasks_[order] = std::move(task);
        ++perHost_[host];
        Refresh(host);
        list_.SetDatum(row, std::string(rowtext::kChecking));
        Launch(added, false);
        return true;
    }
    return false;
}

void TParallelCheck::Refresh(const std::string& host) {
    if (const auto entry = readyEntry_.find(host); entry != readyEntry_.end()) {
        ready_.erase(entry->second);
        readyEntry_.erase(entry);
    }
    const auto queue = pending_.find(host);
    if (queue == pending_.end())
        return;
    if (queue->second.empty()) {
        pending_.erase(queue);
        return;
    }
    if (!HostFree(host))
        return;
    ready_.insert(queue->second.front());
    readyEntry_[host] = queue->second.front();
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
    if (next.SlowDown) {
        throttled_[task.host] = true;
        Refresh(task.host);
    }
    task.request.reset();
    task.timer = nextTimer_++;
    sys::SetTimer(window_, task.timer, static_cast<unsigned>(wait.count()) + 1u);
}

void TParallelCheck::JudgeWithoutRequest(std::size_t order, std::size_t row) {
    TRowOutcome outcome;
    if (row >= list_.Count() || !::JudgeWithoutRequest(list_[row].URL, outcome)) {
        held_[order];  // removed, or changed into a web address meanwhile: left as it was
    } else {
        list_.SetDatum(row, outcome.datum);
        held_[order] = std::move(outcome);
        ReportProgress(view_, ++done_, rows_.size());
    }
    FlushLog();
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
    Refresh(task.host);
    const std::size_t order = task.order;
    tasks_.erase(order);  // the row's client goes with it
    ReportProgress(view_, ++done_, rows_.size());
    FlushLog();
}

void TParallelCheck::FlushLog() {
    for (auto it = held_.find(nextToLog_); it != held_.end(); it = held_.find(nextToLog_)) {
        view_.RowDone(rows_[nextToLog_], it->second.report);
        view_.RowBlock(rows_[nextToLog_], nextToLog_ + 1, rows_.size());
        for (const std::string& line : it->second.log)
            view_.Log(line);
        held_.erase(it);
        ++nextToLog_;
    }
}
