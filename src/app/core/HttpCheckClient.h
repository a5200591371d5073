// The check run's view of a THttpCli: the settings of every check request, the blocking HEAD,
// Abort and the results the run logs.
#pragma once

#include "CheckRun.h"
#include "http/HttpProt.h"

// Gives the client the settings the checker sends with every request.
void ConfigureCheckClient(THttpCli& client);

class THttpCheckClient : public ICheckClient {
  public:
    explicit THttpCheckClient(THttpCli& client) : client_(client) {}

    void PrepareHead(const std::string& url) override;
    void Head() override { client_.Head(); }
    void PrepareHeaderGet(const std::string& url) override;
    void Get() override { client_.RequestSync(hrGet); }
    void Abort() override { client_.Abort(); }
    bool ServerAnswered() const override { return client_.RequestDoneError() == 0; }
    int StatusCode() const override { return client_.StatusCode(); }
    std::string ReasonPhrase() const override { return client_.ReasonPhrase(); }
    const std::vector<std::string>& ResponseHeaderLines() const override {
        return client_.ResponseHeaderLines();
    }

  private:
    THttpCli& client_;
};
