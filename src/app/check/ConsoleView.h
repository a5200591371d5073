// The headless program's view of a check run: every log line on standard output, as the
// window's log memo would receive it.
#pragma once

#include <cstdio>

#include "app/core/CheckRun.h"

class TConsoleView : public ICheckRunView {
  public:
    explicit TConsoleView(std::FILE* out = stdout) : out_(out) {}
    void Log(const std::string& line) override {
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fputc('\n', out_);
    }

  private:
    std::FILE* out_;
};
