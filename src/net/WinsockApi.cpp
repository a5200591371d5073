#include "WinsockApi.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "WSocket.h"

namespace {

constexpr const char* kLibraryName = "wsock32.dll";

// The calls never change; what loading and unloading change is whether the layer is started.
const TWinsockApi g_api{ws::WSAGetLastError,
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
                        ws::closesocket,
                        ws::WSAAsyncGetAddrInfo,
                        ws::getaddrlist};

std::mutex g_loadMutex;  // sockets of other threads may start or stop the layer too
std::atomic<bool> g_loaded{false};
std::atomic<int> g_instanceCount{0};

// Program end shuts the layer down once more (harmless when it is not started).
struct TFinalization {
    ~TFinalization() { UnloadWinsock(); }
} g_finalization;

void Load() {
    std::lock_guard lock(g_loadMutex);
    if (g_loaded)
        return;
    // Like a library that stays loaded even when its start-up failed, the start-up is not
    // tried again until the layer is unloaded.
    g_loaded = true;
    ws::WSADATA data;
    int rc = ws::WSAStartup(0x0101, &data);
    if (rc != 0) {
        char text[128];
        std::snprintf(text, sizeof text, "%s: WSAStartup error #%d", kLibraryName, rc);
        throw ESocketException(text);
    }
}

}  // namespace

const TWinsockApi& Winsock() {
    if (!g_loaded.load(std::memory_order_acquire))
        Load();
    return g_api;
}

bool WSocketLayerStarted() {
    return g_loaded;
}

int WSocketInstanceCount() {
    return g_instanceCount.load();
}

void UnloadWinsock() {
    {
        std::lock_guard lock(g_loadMutex);
        if (g_loaded) {
            ws::WSACleanup();
            g_loaded = false;
        }
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
