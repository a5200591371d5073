#include "HttpCheckClient.h"

#include "HttpCheckRequest.h"
#include "ProxyEnv.h"
#include "sys/SocketErrors.h"

void ConfigureCheckClient(THttpCli& client) {
    client.SetProxyPort("80");
    client.SetAgent("Mozilla/3.0 (compatible)");
    client.SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    client.SetNoCache(false);
    client.SetMultiThreaded(false);
}

bool THttpCheckClient::ConnectionLost() const {
    const sys::Word error = client_.RequestDoneError();
    return error == sys::winsock::WSAECONNRESET || error == sys::winsock::WSAECONNABORTED ||
           error == httperrNoAnswer;
}

void THttpCheckClient::PrepareHead(const std::string& url) {
    client_.SetURL(url);
    // Direct unless the run's proxy variables name a proxy for this address.
    ApplyProxyRoute(client_, ChooseProxy(proxies_, url));
    client_.SetResponseBodyStream(nullptr);
    client_.SetHeaderOnly(false);
}

void THttpCheckClient::PrepareHeaderGet(const std::string& url) {
    PrepareHead(url);
    client_.SetHeaderOnly(true);
}

THttpCheckClients::THttpCheckClients(int timeoutSeconds)
    : Requests(HttpCheckRequests(timeoutSeconds)) {
    ConfigureCheckClient(Http);
    Http.SetTimeout(timeoutSeconds);
}
