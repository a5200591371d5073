#include "HttpCheckClient.h"

void ConfigureCheckClient(THttpCli& client) {
    client.SetProxyPort("80");
    client.SetAgent("Mozilla/3.0 (compatible)");
    client.SetAccept("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    client.SetNoCache(false);
    client.SetMultiThreaded(false);
}

void THttpCheckClient::PrepareHead(const std::string& url) {
    client_.SetURL(url);
    client_.SetProxy("");
    client_.SetProxyPort("80");
    client_.SetResponseBodyStream(nullptr);
    client_.SetHeaderOnly(false);
}

void THttpCheckClient::PrepareHeaderGet(const std::string& url) {
    PrepareHead(url);
    client_.SetHeaderOnly(true);
}
