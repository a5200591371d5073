// The check run: one HEAD request per favourite, with the outcome written into the row and
// every answer written to the log. By default one row is checked after the other; with Jobs
// above 1 several rows are in flight at once on clients of their own (ParallelCheck.h), and the
// log still reads as the one-by-one run of the same answers would. The window and the headless
// program drive the same run; they differ only in how they show it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CheckResult.h"
#include "FavoriteList.h"

// What the one-by-one run needs of the HTTP client.
class ICheckClient : public ICheckResult {
  public:
    // Readies a direct HEAD request for url (no proxy, proxy port "80", no body kept).
    virtual void PrepareHead(const std::string& url) = 0;
    // Returns when the request has ended, processing messages meanwhile. Raises for every
    // failure, a status of 400 or more included.
    virtual void Head() = 0;
    // Readies a GET of url that ends once the answer's header is in (no document is read), for
    // servers that refuse HEAD; Get then behaves as Head does.
    virtual void PrepareHeaderGet(const std::string& url) = 0;
    virtual void Get() = 0;
    // Ends a running request at once, so that Head raises; harmless when idle.
    virtual void Abort() = 0;
};

// One row's requests on a client of its own, for runs with several rows in flight.
class ICheckRequest : public ICheckResult {
  public:
    // Starts a HEAD of url (a GET that reads the header only when headerGet); done runs from
    // the loop once the request has ended, and may destroy this object.
    virtual void Start(const std::string& url, bool headerGet, std::function<void()> done) = 0;
    // Ends a running request at once (done follows); harmless when idle.
    virtual void Abort() = 0;
};
using TCheckRequestFactory = std::function<std::unique_ptr<ICheckRequest>()>;

// How the run shows itself.
class ICheckRunView {
  public:
    virtual ~ICheckRunView() = default;
    virtual void Log(const std::string& line) = 0;
    // The run started (true) or ended (false): the check and cancel buttons follow it.
    virtual void RunStateChanged(bool /*checking*/) {}
    // Percent of the rows to check that are done: 0 at the start, then after every row.
    virtual void Progress(int /*percent*/) {}
    virtual bool IsSelected(std::size_t /*row*/) const { return false; }
    // A row's log block follows: the row's verdict is in the list, position counts from 1
    // among the total rows of the run.
    virtual void RowBlock(std::size_t /*row*/, std::size_t /*position*/, std::size_t /*total*/) {}
};

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
    // Asks again with GET after a HEAD that the server refused; the GET's answer decides.
    void CheckRowWithGet(std::size_t row, TRowOutcome& outcome);
    void Show(std::size_t row, const TRowOutcome& outcome);

    TFavoriteList& list_;
    ICheckClient& client_;
    ICheckRunView& view_;
    std::function<void()> saveResults_;
    int jobs_ = 1;
    TCheckRequestFactory factory_;
    TParallelCheck* parallel_ = nullptr;  // the run with several rows in flight, while it runs
    std::size_t position_ = 0;            // of the row being checked one by one, from 1
    std::size_t total_ = 0;
};

// The selection may grow while a run waits, so done can pass the total counted at the start.
int CheckProgress(std::size_t done, std::size_t total);
