// The proxy variables as curl reads them: http_proxy for http addresses, https_proxy (or
// HTTPS_PROXY) for https ones, all_proxy (or ALL_PROXY) for both when the first is not set, and
// no_proxy (or NO_PROXY) for the hosts that are reached directly. A proxy address with http://
// or without a scheme is an HTTP proxy (https through its CONNECT tunnel); socks4://, socks4a://,
// socks5:// and socks5h:// name a SOCKS server (socks4 and socks5 resolve the host name here,
// socks4a and socks5h leave it to the SOCKS server). User and password may stand in it.
// Without any of these variables every request goes direct.
#pragma once

#include <string>

class THttpCli;

struct TProxyEnv {
    std::string HttpProxy, HttpsProxy, AllProxy, NoProxy;

    // The variables of the running process; a run reads them once, when it starts.
    static TProxyEnv FromEnvironment();
};

// The way to one address.
struct TProxyRoute {
    enum class TKind { Direct, Http, Socks };
    TKind Kind = TKind::Direct;
    std::string Host, Port, User, Password;
    std::string SocksLevel;     // "4", "4A" or "5"
    bool RemoteLookup = false;  // the SOCKS server looks the host name up
};

TProxyRoute ChooseProxy(const TProxyEnv& env, const std::string& url);
// Gives the client the route's proxy settings; a direct route clears them.
void ApplyProxyRoute(THttpCli& client, const TProxyRoute& route);
