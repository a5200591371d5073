// The check run with several rows in flight, each on a client of its own, all on the one thread
// and its loop. Rows start in list order, at most two at a time to one host and port (one after
// that host asked to be left alone with 429 or 503). A row's log block is held until the blocks
// of every earlier row are out, so the log reads as the one-by-one run of the same answers. A
// row's client and buffers live only as long as the row is in flight.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CheckInterfaces.h"
#include "FavoriteList.h"
#include "RowPolicy.h"
#include "sys/Messages.h"

class TParallelCheck {
  public:
    static constexpr int kPerHost = 2;
    // How far past the first row not yet started the run looks for one whose host is free.
    static constexpr std::size_t kLookAhead = 256;

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

    void StartRows();
    bool StartNext();
    void Launch(TTask& task, bool headerGet);
    void Ended(TTask& task);
    void WaitToRetry(TTask& task, const TNextStep& next);
    // A row that needs no request is judged and logged at once.
    bool JudgedWithoutRequest(std::size_t order, std::size_t row);
    void Finish(TTask& task);
    void ReapFinished();
    void FlushLog();
    void WndProc(sys::TMessage& msg);
    int Limit(const std::string& host) const;
    bool HostFree(const std::string& host) const;
    const std::string& HostOfWaiting(std::size_t order, const std::string& url);
    std::size_t InFlight() const;

    TFavoriteList& list_;
    ICheckRunView& view_;
    const bool& breakRequested_;
    const TMakeRequest makeRequest_;
    const int jobs_;
    const std::chrono::milliseconds retryDelay_;
    sys::HWND window_ = 0;

    std::vector<std::size_t> rows_;
    std::vector<bool> started_;  // by order among rows_
    std::size_t firstUnstarted_ = 0;
    std::map<std::size_t, std::unique_ptr<TTask>> tasks_;  // rows in flight, by order
    std::vector<std::size_t> finished_;                    // orders whose request has ended
    std::map<std::size_t, TRowOutcome> held_;              // log blocks waiting for earlier rows
    std::size_t nextToLog_ = 0;
    std::size_t done_ = 0;
    std::map<std::string, int> perHost_;  // requests in flight (and retries waiting) per host
    std::map<std::string, bool> throttled_;
    // Address and host of each row passed over in the look-ahead, by order; gone once it starts.
    std::map<std::size_t, std::pair<std::string, std::string>> waitingHosts_;
    std::uint64_t nextTimer_ = 1;
};
