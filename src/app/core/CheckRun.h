// The check run: one HEAD request per favourite, with the outcome written into the row and
// every answer written to the log. By default one row is checked after the other; with Jobs
// above 1 several rows are in flight at once on clients of their own (ParallelCheck.h), and the
// log still reads as the one-by-one run of the same answers would. The window and the headless
// program drive the same run; they differ only in how they show it.
#pragma once

#include <cstddef>
#include <functional>
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

    // Requests in flight at once (1 to 64); above 1 the run needs the factory of the clients
    // its rows use. Only while no run is in progress.
    void SetJobs(int jobs, TCheckRequestFactory factory);
    int Jobs() const { return jobs_; }

    // The run state, all false while idle. Plain fields, so that the window can hold them
    // under its own names; only the run and the two requests above change them.
    bool Checking = false;
    bool BreakRequested = false;
    bool AbortRequested = false;

  private:
    void Start();
    void Finish();
    std::vector<std::size_t> RowsToCheck(bool selectedOnly) const;
    void CheckOneByOne(const std::vector<std::size_t>& rows);
    void CheckRow(std::size_t row);
    // One request of the row, judged into outcome.
    TNextStep Ask(std::size_t row, TAsk ask, TRowOutcome& outcome);
    void Show(std::size_t row, const TRowOutcome& outcome);

    TFavoriteList& list_;
    ICheckClient& client_;
    ICheckRunView& view_;
    std::function<void()> saveResults_;
    int jobs_ = 1;
    TCheckRequestFactory factory_;
    TProxyEnv proxies_;                   // read when a run starts
    TParallelCheck* parallel_ = nullptr;  // the run with several rows in flight, while it runs
    std::size_t position_ = 0;            // of the row being checked one by one, from 1
    std::size_t total_ = 0;
};
