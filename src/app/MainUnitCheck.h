// The check run as the main window drives it: the window's HTTP client, the run, and the
// view that shows the run in the window's log memo, buttons and progress panel.
#pragma once

#include "app/core/CheckRun.h"
#include "app/core/HttpCheckClient.h"
#include "http/HttpProt.h"

class TMainForm;

class TMainFormCheck : public ICheckRunView {
  public:
    explicit TMainFormCheck(TMainForm& form);

    THttpCli HttpCli;  // the window's HttpCli1
    THttpCheckClient Client{HttpCli};
    TCheckRun Run;

    void Log(const std::string& line) override;
    void RunStateChanged(bool checking) override;
    void Progress(int percent) override;
    bool IsSelected(std::size_t row) const override;

  private:
    TMainForm& form_;
};
