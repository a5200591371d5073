// What the check runs need of their HTTP clients and of whoever shows them. The one-by-one run
// (CheckRun.h) and the run with several rows in flight (ParallelCheck.h) both use these, and
// neither needs the other.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ProxyEnv.h"

// The most rows a run has in flight at once.
inline constexpr int kMaxJobs = 256;

// The results of a client's last request.
class ICheckResult {
  public:
    virtual ~ICheckResult() = default;
    // True when the last request ended with the server's own answer, false when it failed
    // before one (lookup, connect, TLS, time-out, abort, no status line).
    virtual bool ServerAnswered() const = 0;
    virtual int StatusCode() const = 0;
    virtual std::string ReasonPhrase() const = 0;
    // The lines of the last answer (status line included), in arrival order.
    virtual const std::vector<std::string>& ResponseHeaderLines() const = 0;
    // The connection was reset or closed before an answer came: a fault that may pass.
    virtual bool ConnectionLost() const { return false; }
    // The address the last request ended at, after the server's relocations; empty when the
    // client cannot tell.
    virtual std::string FinalUrl() const { return {}; }
};

// What the one-by-one run needs of the HTTP client.
class ICheckClient : public ICheckResult {
  public:
    // The proxy variables of the run that starts, read once for all of its rows; a client
    // that never goes through a proxy ignores them.
    virtual void UseProxies(const TProxyEnv& /*proxies*/) {}
    // Readies a HEAD request for url (no body kept), direct unless the run's proxies name one.
    virtual void PrepareHead(const std::string& url) = 0;
    // Returns when the request has ended, processing messages meanwhile. May raise for a
    // failure; the run judges the outcome from the results either way.
    virtual void Head() = 0;
    // Readies a GET of url that ends once the answer's header is in (no document is read), for
    // servers that refuse HEAD; Get then behaves as Head does.
    virtual void PrepareHeaderGet(const std::string& url) = 0;
    virtual void Get() = 0;
    // Ends a running request at once, so that Head returns; harmless when idle.
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
// Makes one row's request, going through the proxies of the run (which outlive it).
using TCheckRequestFactory =
    std::function<std::unique_ptr<ICheckRequest>(const TProxyEnv& proxies)>;

// How a row's check ended, for views that list every row as a record.
struct TRowReport {
    std::optional<int> Status;          // the final answer's HTTP status; none without an answer
    std::string Reason;                 // its reason phrase, or the local failure's text
    std::string FinalUrl;               // where the last request ended, after relocations
    std::chrono::milliseconds Took{0};  // from the row's first request to its verdict
};

// How a run shows itself.
class ICheckRunView {
  public:
    virtual ~ICheckRunView() = default;
    virtual void Log(const std::string& line) = 0;
    // The run started (true) or ended (false): the check and cancel buttons follow it.
    virtual void RunStateChanged(bool /*checking*/) {}
    // Percent of the rows to check that are done: 0 at the start, then after every row.
    virtual void Progress(int /*percent*/) {}
    // The same as counts, for a view that names them: done of total rows, with Progress.
    virtual void RowsDone(std::size_t /*done*/, std::size_t /*total*/) {}
    virtual bool IsSelected(std::size_t /*row*/) const { return false; }
    // A row's log block follows: the row's verdict is in the list, position counts from 1
    // among the total rows of the run.
    virtual void RowBlock(std::size_t /*row*/, std::size_t /*position*/, std::size_t /*total*/) {}
    // Comes just before the row's RowBlock: how its check ended.
    virtual void RowDone(std::size_t /*row*/, const TRowReport& /*report*/) {}
};

// Percent of a run's rows that are done. The selection may grow while a run waits, so done can
// pass the total counted at the start.
inline int CheckProgress(std::size_t done, std::size_t total) {
    if (done >= total)
        return 100;
    return static_cast<int>(static_cast<unsigned long long>(done) * 100 / total);
}

// Tells view that done of total rows are finished, as percent and as counts.
inline void ReportProgress(ICheckRunView& view, std::size_t done, std::size_t total) {
    view.Progress(CheckProgress(done, total));
    view.RowsDone(done, total);
}
