// The check run: one HEAD request per favourite, with the outcome written into the row and
// every answer written to the log. By default one row is checked after the other; with Jobs
// above 1 several rows are in flight at once on clients of their own (ParallelCheck.h), and the
// log still reads as the one-by-one run of the same answers would. The window and the headless
// program drive the same run; they differ only in how they show it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CheckInterfaces.h"
#include "FavoriteList.h"
#include "ProxyEnv.h"
#include "RowPolicy.h"

class TParallelCheck;

class TCheckRun {
  public:
    // saveResults writes the result file; the run calls it at the end of every run.
    TCheckRun(TFavoriteList& list, ICheckClient& client, ICheckRunView& view,
              std::function<void()> saveResults = {});
    ~TCheckRun();

    // Checks the selected rows, or all of them. Does nothing while a run is in progress,
    // since a run addresses its rows by position. Raises only what saving the results raised.
    void CheckNow(bool selectedOnly);
    // "Abbrechen" and closing the window: the requests in flight end, no further row starts.
    void Break();
    // "Diese Überprüfung Abbrechen": the requests in flight end, the run goes on.
    void AbortCurrent();

    // Requests in flight at once (1 to kMaxJobs); above 1 the run needs the factory of the clients
    // its rows use. Only while no run is in progress.
    void SetJobs(int jobs, TCheckRequestFactory factory);
    int Jobs() const { return jobs_; }

    // The run state, all false while idle. Plain fields, so that the window can hold them
    // under its own names; only the run and the two requests above change them.
    bool Checking = false;
    bool BreakRequested = false;
    bool AbortRequested = false;

    // How long a row waits before it is asked once more after a server error or a lost
    // connection, when the server named no wait of its own.
    std::chrono::milliseconds RetryDelay = kRetryDelay;
    static constexpr std::chrono::milliseconds kRetryDelay{3000};

  private:
    // A row's log block in a one-by-one run; a row waiting to be asked once more holds back
    // the blocks of the rows after it, so that the log keeps the rows' order.
    struct TBlock {
        std::size_t row = 0;
        std::size_t position = 0;
        TRowOutcome outcome;
        bool waiting = false;  // to be asked again at the end of the run
        TAsk ask = TAsk::Head;
        std::chrono::steady_clock::time_point due;
    };

    void Start();
    void Finish();
    std::vector<std::size_t> RowsToCheck(bool selectedOnly) const;
    void CheckOneByOne(const std::vector<std::size_t>& rows);
    // Checks a row; its verdict is in the list unless it waits to be asked again.
    TBlock CheckRow(std::size_t row, std::size_t position);
    void AskAgain(TBlock& block);
    // One request of the row, and the GET that follows a refused HEAD, judged into outcome.
    TNextStep AskWithFollowUp(std::size_t row, TAsk& ask, TRowOutcome& outcome, bool mayWait);
    TNextStep Ask(std::size_t row, TAsk ask, TRowOutcome& outcome, bool mayWait);
    // Waits in the loop until due, or until a stop is asked for.
    void WaitUntil(std::chrono::steady_clock::time_point due);
    void Decide(const TBlock& block);
    void Show(const TBlock& block);

    TFavoriteList& list_;
    ICheckClient& client_;
    ICheckRunView& view_;
    std::function<void()> saveResults_;
    int jobs_ = 1;
    TCheckRequestFactory factory_;
    TProxyEnv proxies_;                   // read when a run starts
    TParallelCheck* parallel_ = nullptr;  // the run with several rows in flight, while it runs
    std::size_t total_ = 0;
};
