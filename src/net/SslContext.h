// The TLS client contexts and the session cache of the socket layer's TLS layer.
//
// Trust comes from the system store (the default verify paths), so SSL_CERT_FILE and SSL_CERT_DIR
// work as they do for other programs. A context is kept per value of those two variables: a
// program that changes them (tests do) gets a context that reads the new store, while the usual
// program loads the store once.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <string>

namespace tls {

// The client context for the current trust settings; never null (raises std::runtime_error when
// OpenSSL cannot make one). Owned by the cache; valid for the life of the process.
SSL_CTX* ClientContext();

// A session to resume with the server known as key, or null. The caller owns the reference.
SSL_SESSION* TakeSession(SSL_CTX* context, const std::string& key);

// Connections made with the context keep the sessions their servers hand out under the key that
// SSL_set_app_data attached (a std::string that outlives the connection).

// Sessions kept per context. When the cache is full, the session kept longest ago makes room.
constexpr std::size_t kMaxKeptSessions = 256;

// Keeps a session the server handed out (a ticket), taking over the caller's reference.
void KeepSession(SSL_CTX* context, const std::string& key, SSL_SESSION* session);

// The text of a certificate verification result, such as "TLS: certificate has expired".
std::string VerifyErrorText(long result);

// The text of a failed handshake, from OpenSSL's error queue (which it empties).
std::string HandshakeErrorText();

// True when text is a dotted IPv4 or an IPv6 address (verified against the certificate's IP
// entries, and never sent as a server name).
bool IsIpAddressText(const std::string& text);

}  // namespace tls
