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

#include "app/core/CheckRun.h"
#include "app/core/HttpCheckClient.h"
#include "http/HttpProt.h"

class TMainForm;

class TMainFormCheck : public ICheckRunView {
  public:
    static constexpr std::chrono::milliseconds kFrame{25};

    explicit TMainFormCheck(TMainForm& form);

    THttpCheckClients Clients;
    THttpCli& HttpCli = Clients.Http;  // the window's HttpCli1
    TCheckRun Run;

    void Log(const std::string& line) override;
    void RunStateChanged(bool checking) override;
    void Progress(int percent) override;
    bool IsSelected(std::size_t row) const override;

    // Shows at once what waits for the next frame; anything that reads the memo during a run
    // calls it first.
    void ShowPending();

  private:
    void ScheduleFrame();
    void AppendPendingLog();

    TMainForm& form_;
    QTimer frame_;
    QStringList pendingLog_;
    bool progressPending_ = false;
    int progressShown_ = 0;  // the bar on the screen while a change waits
};
