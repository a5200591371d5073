#include "SslContext.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace tls {

namespace {

struct TSessionFree {
    void operator()(SSL_SESSION* s) const { SSL_SESSION_free(s); }
};
using TSessionPtr = std::unique_ptr<SSL_SESSION, TSessionFree>;

// A kept session and when it was kept: a higher number is a later one.
struct TKeptSession {
    TSessionPtr session;
    std::uint64_t keptAs = 0;
};

struct TContextEntry {
    SSL_CTX* context = nullptr;
    std::map<std::string, TKeptSession> sessions;
    std::uint64_t kept = 0;  // sessions kept so far, for their keptAs
};

struct TCache {
    std::mutex mutex;
    std::map<std::string, TContextEntry> entries;  // by trust settings

    ~TCache() {
        for (auto& [key, entry] : entries) {
            entry.sessions.clear();
            SSL_CTX_free(entry.context);
        }
    }
};

TCache& Cache() {
    static TCache cache;
    return cache;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A server handed out a session (a TLS 1.3 ticket arrives after the handshake): keep it under the
// key that the socket attached to its connection.
int NewSession(SSL* ssl, SSL_SESSION* session) {
    const auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (!key || key->empty())
        return 0;
    KeepSession(SSL_get_SSL_CTX(ssl), *key, session);
    return 1;  // the reference is ours now
}

SSL_CTX* NewClientContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        throw std::runtime_error("TLS: cannot create a client context");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // A store that cannot be read leaves the context without trust: every certificate then fails
    // verification with a clear reason, which is what the user needs to see.
    SSL_CTX_set_default_verify_paths(context);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
    SSL_CTX_sess_set_new_cb(context, NewSession);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ERR_clear_error();
    return context;
}

// The session kept longest ago: the one a full cache gives up. A linear walk, since it runs only
// when the cache is full and the cache is small.
void DropOldest(TContextEntry& entry) {
    auto oldest = std::min_element(
        entry.sessions.begin(), entry.sessions.end(),
        [](const auto& a, const auto& b) { return a.second.keptAs < b.second.keptAs; });
    if (oldest != entry.sessions.end())
        entry.sessions.erase(oldest);
}

TContextEntry* EntryOf(SSL_CTX* context) {
    for (auto& [key, entry] : Cache().entries)
        if (entry.context == context)
            return &entry;
    return nullptr;
}

}  // namespace

SSL_CTX* ClientContext() {
    const std::string key = Env("SSL_CERT_FILE") + '\n' + Env("SSL_CERT_DIR");
    TCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    TContextEntry& entry = cache.entries[key];
    if (!entry.context)
        entry.context = NewClientContext();
    return entry.context;
}

SSL_SESSION* TakeSession(SSL_CTX* context, const std::string& key) {
    std::lock_guard lock(Cache().mutex);
    TContextEntry* entry = EntryOf(context);
    if (!entry)
        return nullptr;
    auto it = entry->sessions.find(key);
    if (it == entry->sessions.end())
        return nullptr;
    SSL_SESSION* session = it->second.session.get();
    if (!SSL_SESSION_is_resumable(session)) {
        entry->sessions.erase(it);
        return nullptr;
    }
    SSL_SESSION_up_ref(session);
    return session;
}

void KeepSession(SSL_CTX* context, const std::string& key, SSL_SESSION* session) {
    TSessionPtr owned(session);
    std::lock_guard lock(Cache().mutex);
    TContextEntry* entry = EntryOf(context);
    if (!entry)
        return;
    if (entry->sessions.size() >= kMaxKeptSessions && !entry->sessions.count(key))
        DropOldest(*entry);
    // A new session for a known server counts as kept now: it is the server's latest.
    entry->sessions[key] = TKeptSession{std::move(owned), ++entry->kept};
}

std::string VerifyErrorText(long result) {
    switch (result) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "TLS: certificate has expired";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "TLS: certificate is not yet valid";
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "TLS: host name mismatch";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
            return "TLS: self-signed certificate";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "TLS: certificate issuer unknown";
        case X509_V_ERR_CERT_REVOKED:
            return "TLS: certificate revoked";
        default:
            return std::string("TLS: certificate not trusted (") +
                   X509_verify_cert_error_string(result) + ")";
    }
}

std::string HandshakeErrorText() {
    const unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = error ? ERR_reason_error_string(error) : nullptr;
    if (!reason)
        return "TLS: handshake failed";
    return std::string("TLS: handshake failed (") + reason + ")";
}

bool IsIpAddressText(const std::string& text) {
    in_addr address;
    in6_addr address6;
    return inet_pton(AF_INET, text.c_str(), &address) == 1 ||
           inet_pton(AF_INET6, text.c_str(), &address6) == 1;
}

}  // namespace tls
