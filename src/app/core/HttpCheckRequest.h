// One row's requests for a run with several rows in flight: a THttpCli of its own, set up as
// the one-by-one run's client is, started without waiting.
#pragma once

#include "CheckInterfaces.h"
#include "HttpCheckClient.h"

class THttpCheckRequest : public ICheckRequest {
  public:
    THttpCheckRequest(int timeoutSeconds, const TProxyEnv& proxies);

    void Start(const std::string& url, bool headerGet, std::function<void()> done) override;
    void Abort() override { client_.Abort(); }
    bool ServerAnswered() const override { return check_.ServerAnswered(); }
    bool ConnectionLost() const override { return check_.ConnectionLost(); }
    int StatusCode() const override { return check_.StatusCode(); }
    std::string ReasonPhrase() const override { return check_.ReasonPhrase(); }
    const std::vector<std::string>& ResponseHeaderLines() const override {
        return check_.ResponseHeaderLines();
    }
    std::string FinalUrl() const override { return check_.FinalUrl(); }

  private:
    THttpCli client_;
    THttpCheckClient check_{client_};
};

// Makes the clients of a run's rows, each with the given time-out and the run's proxies.
TCheckRequestFactory HttpCheckRequests(int timeoutSeconds);
