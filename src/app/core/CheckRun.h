// The check run: one HEAD request per favourite, one row after the other, with the outcome
// written into the row and every answer written to the log. The window and the headless
// program drive the same run; they differ only in how they show it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "FavoriteList.h"

// What the run needs of the HTTP client.
class ICheckClient {
  public:
    virtual ~ICheckClient() = default;
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
    // True when the last request ended with the server's own answer, false when it failed
    // before one (lookup, connect, TLS, time-out, abort, no status line).
    virtual bool ServerAnswered() const = 0;
    virtual int StatusCode() const = 0;
    virtual std::string ReasonPhrase() const = 0;
    // The lines of the last answer (status line included), in arrival order.
    virtual std::vector<std::string> ResponseHeaderLines() const = 0;
};

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
};

class TCheckRun {
  public:
    // saveResults writes the result file; the run calls it at the end of every run.
    TCheckRun(TFavoriteList& list, ICheckClient& client, ICheckRunView& view,
              std::function<void()> saveResults = {});

    // Checks the selected rows, or all of them. Does nothing while a run is in progress,
    // since a run addresses its rows by position. Raises only what saving the results raised.
    void CheckNow(bool selectedOnly);
    // "Abbrechen" and closing the window: the current request ends, no further row starts.
    void Break();
    // "Diese Überprüfung Abbrechen": the current request ends, the run goes on.
    void AbortCurrent();

    // The run state, all false while idle. Plain fields, so that the window can hold them
    // under its own names; only the run and the two requests above change them.
    bool Checking = false;
    bool BreakRequested = false;
    bool AbortRequested = false;

  private:
    void Start();
    void Finish();
    void CheckRows(bool selectedOnly);
    std::size_t RowsToCheck(std::size_t count, bool selectedOnly) const;
    void CheckRow(std::size_t row);
    // Asks again with GET after a HEAD that the server refused; the GET's answer decides.
    void CheckRowWithGet(std::size_t row);
    bool HeadRefused() const;
    void LogAnswer(std::size_t row);
    void LogFailure(std::size_t row, const char* label);
    void LogFailureLines(const char* label);

    TFavoriteList& list_;
    ICheckClient& client_;
    ICheckRunView& view_;
    std::function<void()> saveResults_;
};
