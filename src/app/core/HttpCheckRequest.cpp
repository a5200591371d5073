#include "HttpCheckRequest.h"

THttpCheckRequest::THttpCheckRequest(int timeoutSeconds, const TProxyEnv& proxies) {
    ConfigureCheckClient(client_);
    check_.UseProxies(proxies);
    client_.SetTimeout(timeoutSeconds);
}

void THttpCheckRequest::Start(const std::string& url, bool headerGet, std::function<void()> done) {
    if (headerGet)
        check_.PrepareHeaderGet(url);
    else
        check_.PrepareHead(url);
    // The run may destroy this request from done: nothing may follow the call.
    client_.OnRequestDone = [done = std::move(done)](sys::TObject*, THttpRequest, sys::Word) {
        done();
    };
    client_.StartRequest(headerGet ? hrGet : hrHead);
}

TCheckRequestFactory HttpCheckRequests(int timeoutSeconds) {
    return [timeoutSeconds](const TProxyEnv& proxies) {
        return std::make_unique<THttpCheckRequest>(timeoutSeconds, proxies);
    };
}
