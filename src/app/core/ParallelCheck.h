// The check run with several rows in flight, each on a client of its own, all on the one thread
// and its loop. Rows start in list order, at most two at a time to one host and port (one after
// that host asked to be left alone with 429 or 503): when a job is free, the first row not yet
// started whose host is free starts, however far down the list it is, so that a host that holds
// its rows with unanswered requests never keeps the other hosts' rows waiting. A row's log block
// is held until the blocks of every earlier row are out, so the log reads as the one-by-one run
// of the same answers. A row's client and buffers live only as long as the row is in flight.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CheckInterfaces.h"
#include "FavoriteList.h"
#include "RowPolicy.h"
#include "sys/Messages.h"

class TParallelCheck {
  public:
    static constexpr int kPerHost = 2;

    // Makes the request of one row.
    using TMakeRequest = std::function<std::unique_ptr<ICheckRequest>()>;

    // breakRequested is the run's "no further row starts", read between requests.
    // retryDelay: the wait before a row is asked again when its server named none.
    TParallelCheck(TFavoriteList& list, ICheckRunView& view, const bool& breakRequested,
                   TMakeRequest makeRequest, int jobs, std::chrono::milliseconds retryDelay);
    ~TParallelCheck();
    TParallelCheck(const TParallelCheck&) = delete;
    TParallelCheck& operator=(const TParallelCheck&) = delete;

    // Checks the rows (list positions, in list order) and returns once the last request has
    // ended, handling the loop's messages meanwhile.
    void Run(const std::vector<std::size_t>& rows);
    // Ends every request in flight; their rows become "???". Whether more rows start is
    // breakRequested.
    void AbortAll();

  private:
    struct TTask;
    enum class TStep { Head, Get, Waiting, Retry };

    void Queue();
    void StartRows();
    void JudgeLocalRows();
    bool StartNext();
    // Puts the host's first pending row among the ready ones when the host is free, or takes
    // it out; after every change of the host's pending rows or of its requests.
    void Refresh(const std::string& host);
    void Launch(TTask& task, bool headerGet);
    void Ended(TTask& task);
    void WaitToRetry(TTask& task, const TNextStep& next);
    // A row that needs no request is judged and logged at once.
    void JudgeWithoutRequest(std::size_t order, std::size_t row);
    void Finish(TTask& task);
    void ReapFinished();
    void FlushLog();
    void WndProc(sys::TMessage& msg);
    int Limit(const std::string& host) const;
    bool HostFree(const std::string& host) const;
    std::size_t InFlight() const;

    TFavoriteList& list_;
    ICheckRunView& view_;
    const bool& breakRequested_;
    const TMakeRequest makeRequest_;
    const int jobs_;
    const std::chrono::milliseconds retryDelay_;
    sys::HWND window_ = 0;

    std::vector<std::size_t> rows_;
    // Rows not yet started, by the host and port they ask first, each host's in list order;
    // hostOf_ and urlOf_ (by order among rows_) say what a row was queued with.
    std::unordered_map<std::string, std::deque<std::size_t>> pending_;
    std::vector<std::string> hostOf_;
    std::vector<std::string> urlOf_;
    // The first pending row of every free host, by order, and each such host's entry there.
    std::set<std::size_t> ready_;
    std::unordered_map<std::string, std::size_t> readyEntry_;
    std::vector<std::size_t> local_;  // rows judged without a request, by order
    std::map<std::size_t, std::unique_ptr<TTask>> tasks_;  // rows in flight, by order
    std::vector<std::size_t> finished_;                    // orders whose request has ended
    std::map<std::size_t, TRowOutcome> held_;              // log blocks waiting for earlier rows
    std::size_t nextToLog_ = 0;
    std::size_t done_ = 0;
    std::map<std::string, int> perHost_;  // requests in flight (and retries waiting) per host
    std::map<std::string, bool> throttled_;
    std::uint64_t nextTimer_ = 1;
};
