#include "WinsockApi.h"

#include <atomic>
#include <cstdio>

#include "WSocket.h"

namespace {

constexpr const char* kLibraryName = "wsock32.dll";

TWinsockApi g_api;
bool g_loaded = false;
std::atomic<int> g_instanceCount{0};

// Program end shuts the layer down once more (harmless when it is not started).
struct TFinalization {
    ~TFinalization() { UnloadWinsock(); }
} g_finalization;

void Fill(TWinsockApi& t) {
    t = TWinsockApi{ws::WSAGetLastError,
                    ws::WSASetLastError,
                    ws::WSAAsyncSelect,
                    ws::WSAAsyncGetHostByName,
                    ws::WSAAsyncGetHostByAddr,
                    ws::WSACancelAsyncRequest,
                    ws::gethostbyname,
                    ws::getservbyname,
                    ws::getprotobyname,
                    ws::inet_addr,
                    ws::inet_ntoa,
                    ws::socket,
                    ws::bind,
                    ws::connect,
                    ws::listen,
                    ws::accept,
                    ws::setsockopt,
                    ws::getsockname,
                    ws::getpeername,
                    ws::send,
                    ws::sendto,
                    ws::recv,
                    ws::recvfrom,
                    ws::ioctlsocket,
                    ws::shutdown,
                    ws::closesocket};
}

}  // namespace

const TWinsockApi& Winsock() {
    if (!g_loaded) {
        // Like a library that stays loaded even when its start-up failed, the start-up is not
        // tried again until the layer is unloaded.
        g_loaded = true;
        Fill(g_api);
        ws::WSADATA data;
        int rc = ws::WSAStartup(0x0101, &data);
        if (rc != 0) {
            char text[128];
            std::snprintf(text, sizeof text, "%s: WSAStartup error #%d", kLibraryName, rc);
            throw ESocketException(text);
        }
    }
    return g_api;
}

bool WSocketLayerStarted() {
    return g_loaded;
}

int WSocketInstanceCount() {
    return g_instanceCount.load();
}

void UnloadWinsock() {
    if (g_loaded) {
        ws::WSACleanup();
        g_loaded = false;
        g_api = TWinsockApi{};
    }
    g_instanceCount = 0;
}

// Counting of live components, for the constructor and destructor of TCustomWSocket.
void WSocketInstanceCreated() {
    ++g_instanceCount;
}

void WSocketInstanceDestroyed() {
    if (--g_instanceCount <= 0)
        UnloadWinsock();
}
