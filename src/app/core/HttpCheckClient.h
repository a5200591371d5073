// The check run's view of a THttpCli: the settings of every check request, the blocking HEAD,
// Abort and the results the run logs; and the one place that wires the clients of a run.
#pragma once

#include "CheckInterfaces.h"
#include "http/HttpProt.h"

// Gives the client the settings the checker sends with every request.
void ConfigureCheckClient(THttpCli& client);

class THttpCheckClient : public ICheckClient {
  public:
    explicit THttpCheckClient(THttpCli& client) : client_(client) {}

    void UseProxies(const TProxyEnv& proxies) override { proxies_ = proxies; }
    void PrepareHead(const std::string& url) override;
    void Head() override { client_.Head(); }
    void PrepareHeaderGet(const std::string& url) override;
    void Get() override { client_.RequestSync(hrGet); }
    void Abort() override { client_.Abort(); }
    bool ServerAnswered() const override { return client_.RequestDoneError() == 0; }
    bool ConnectionLost() const override;
    int StatusCode() const override { return client_.StatusCode(); }
    std::string ReasonPhrase() const override { return client_.ReasonPhrase(); }
    const std::vector<std::string>& ResponseHeaderLines() const override {
        return client_.ResponseHeaderLines();
    }
    std::string FinalUrl() const override { return client_.Location(); }

  private:
    THttpCli& client_;
    TProxyEnv proxies_;
};

// The HTTP clients of a check run, made one way for the window and the headless program: the
// one-by-one run's client, and the maker of each row's own client when several rows are in
// flight, all with the checker's settings and the given time-out.
struct THttpCheckClients {
    explicit THttpCheckClients(int timeoutSeconds);

    THttpCli Http;
    THttpCheckClient Client{Http};
    TCheckRequestFactory Requests;
};
