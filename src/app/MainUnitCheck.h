// The check run as the main window drives it: the window's HTTP client, the run, and the
// view that shows the run in the window's log memo, buttons and progress panel.
//
// A run can finish a row in well under a millisecond, far faster than a screen shows: the view
// keeps log lines, changed rows and the progress bar until the next frame, at most kFrame
// later, and puts them on the screen together; the run's end shows everything at once.
#pragma once

#include <QStringList>
#include <QTimer>
#include <chrono>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/core/CheckRun.h"
#include "app/core/HttpCheckClient.h"
#include "app/core/RunSummary.h"
#include "http/HttpProt.h"

class TMainForm;

class TMainFormCheck : public ICheckRunView {
  public:
    static constexpr std::chrono::milliseconds kFrame{25};

    explicit TMainFormCheck(TMainForm& form);
    ~TMainFormCheck() override;

    THttpCheckClients Clients;
    THttpCli& HttpCli = Clients.Http;  // the window's HttpCli1
    TCheckRun Run;

    void Log(const std::string& line) override;
    void RunStateChanged(bool checking) override;
    void Progress(int percent) override;
    void RowsDone(std::size_t done, std::size_t total) override;
    bool IsSelected(std::size_t row) const override;
    // Opens the row's block with the heading quorvane-check prints, and notes where it starts.
    void RowBlock(std::size_t row, std::size_t position, std::size_t total) override;

    // Scrolls the log to the last block of row; false when the log holds none.
    bool ShowBlockOf(std::size_t row);
    // Empties the log and forgets where the rows' blocks were.
    void ClearLog();
    // The list follows the row being checked until the user scrolls it out of view.
    void WatchListScrolling();

    // Shows at once what waits for the next frame; anything that reads the memo during a run
    // calls it first.
    void ShowPending();

  private:
    // Where a row's last block starts: its heading's line in the memo, and the heading to
    // confirm it by, since the user may have edited the memo since.
    struct TBlockMark {
        int line = 0;
        QString heading;
    };

    void ScheduleFrame();
    void AppendPendingLog();
    void MarkBlocks(const QStringList& lines, int firstLine, qsizetype skipped);
    void FollowCheckedRow();
    void RunStarted();
    void RunEnded();

    TMainForm& form_;
    QTimer frame_;
    QStringList pendingLog_;
    bool progressPending_ = false;
    int progressShown_ = 0;  // the bar on the screen while a change waits
    // Blocks by row (its file, or its address for a row without one): rows are sorted and
    // deleted between runs, their files stay.
    std::unordered_map<std::string, TBlockMark> blocks_;
    std::vector<std::pair<std::string, qsizetype>> pendingMarks_;  // key, index in pendingLog_
    TRunSummary lastRun_;  // the rows the current or last run logged, for the status bar
    std::size_t followedRow_ = 0;
    bool followPending_ = false;           // a block came since the list last followed
    bool following_ = true;                // the user has not scrolled the row out of view
    bool scrolling_ = false;               // the list scrolls for FollowCheckedRow
    QMetaObject::Connection scrollWatch_;  // let go of when the view goes, before the list
};
