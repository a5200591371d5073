// The TLS layer of the socket: OpenSSL on memory buffers, fed by the socket's own events. Cipher
// text read from the network goes into the input buffer; what OpenSSL writes goes out through
// the send queue of the layer below. Nothing here blocks or waits: a step that needs more bytes
// from the server simply ends, and the next read event goes on with it.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "SslContext.h"
#include "WSocket.h"
#include "WinsockApi.h"

using sys::Word;

namespace {

// Cipher text read from the network per call.
constexpr int kReadChunk = 16 * 1024;

}  // namespace

struct TCustomSslWSocket::TSslState {
    SSL* ssl = nullptr;
    BIO* input = nullptr;      // owned by ssl
    BIO* output = nullptr;     // owned by ssl
    std::string sessionKey;    // outlives ssl: its sessions are kept under this key
    std::string pendingPlain;  // sent by the user before the handshake ended
    bool peerClosed = false;

    ~TSslState() { SSL_free(ssl); }
};

TCustomSslWSocket::TCustomSslWSocket(sys::TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

TCustomSslWSocket::~TCustomSslWSocket() {
    // The close of the layer below runs after this layer is gone: say goodbye to the server now.
    if (SslEstablished() && SocketHandle != INVALID_SOCKET)
        SendCloseNotify();
    FreeSsl();
}

bool TCustomSslWSocket::SslSessionReused() const {
    return SslEstablished() && SSL_session_reused(FSsl->ssl) == 1;
}

void TCustomSslWSocket::SetSslEnable(bool Value) {
    if (FState != wsClosed)
        return ReportError("Cannot change SslEnable if not closed");
    FSslEnable = Value;
}

void TCustomSslWSocket::SetSslServerName(const std::string& Value) {
    if (FState != wsClosed)
        return ReportError("Cannot change SslServerName if not closed");
    FSslServerName = Value;
}

void TCustomSslWSocket::FreeSsl() {
    FSsl.reset();
    FSslPhase = TSslPhase::Off;
}

void TCustomSslWSocket::ResetToDefaults() {
    FreeSsl();
    FHandshakeAfterConnect = false;
    TCustomSocksWSocket::ResetToDefaults();
}

// Handshake.

void TCustomSslWSocket::DoSessionConnected(Word Error) {
    // Behind a SOCKS server the handshake waits until the SOCKS layer has the tunnel.
    if (!FSslEnable || Error != 0 || SocketType != SOCK_STREAM || FSslPhase != TSslPhase::Off ||
        SocksNegotiating())
        return TCustomSocksWSocket::DoSessionConnected(Error);
    BeginHandshake(true);
}

void TCustomSslWSocket::StartSslHandshake() {
    TActiveScope scope(this);
    if (FState != wsConnected)
        return ReportError("StartSslHandshake: not connected");
    if (FSslPhase != TSslPhase::Off)
        return ReportError("StartSslHandshake: TLS is already on");
    BeginHandshake(false);
}

// A connection object on memory buffers for the server called name, resuming an earlier
// session with it when one is kept; null when OpenSSL has no memory for it.
std::unique_ptr<TCustomSslWSocket::TSslState> TCustomSslWSocket::NewSslState(
    const std::string& name) {
    auto state = std::make_unique<TSslState>();
    SSL_CTX* context = tls::ClientContext();
    state->ssl = SSL_new(context);
    BIO* input = BIO_new(BIO_s_mem());
    BIO* output = BIO_new(BIO_s_mem());
    if (!state->ssl || !input || !output) {
        BIO_free(input);
        BIO_free(output);
        return nullptr;
    }
    // An empty input buffer means "no bytes yet", not the end of the stream.
    BIO_set_mem_eof_return(input, -1);
    SSL_set_bio(state->ssl, input, output);
    state->input = input;
    state->output = output;
    SSL_set_connect_state(state->ssl);
    if (tls::IsIpAddressText(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(state->ssl), name.c_str());
    } else {
        SSL_set_tlsext_host_name(state->ssl, name.c_str());
        SSL_set1_host(state->ssl, name.c_str());
    }
    state->sessionKey = name + ":" + std::to_string(PortNumber);
    SSL_set_app_data(state->ssl, &state->sessionKey);
    if (SSL_SESSION* session = tls::TakeSession(context, state->sessionKey)) {
        SSL_set_session(state->ssl, session);
        SSL_SESSION_free(session);
    }
    return state;
}

void TCustomSslWSocket::BeginHandshake(bool AfterConnect) {
    FHandshakeAfterConnect = AfterConnect;
    FHandshakeCut = false;
    FSslErrorText.clear();
    FLastError = 0;
    std::string Name = FSslServerName.empty() ? FAddr : FSslServerName;
    if (Name.size() > 2 && Name.front() == '[' && Name.back() == ']')
        Name = Name.substr(1, Name.size() - 2);  // an IPv6 address as an address names it
    FSsl = NewSslState(Name);
    FSslPhase = TSslPhase::Handshake;
    HandshakeBegins();  // the lines held stay there until it has ended
    if (!FSsl)
        return FailHandshake();
    ContinueHandshake(false);  // the server has nothing to say before the client's hello
}

void TCustomSslWSocket::ContinueHandshake(bool Pull) {
    const int pulled = Pull ? PullCipherText() : -1;
    ERR_clear_error();
    const int result = SSL_do_handshake(FSsl->ssl);
    const int why = result == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl->ssl, result);
    if (!PushCipherText())
        return;  // the connection went while the hello went out (DoSessionClosed told)
    if (result == 1)
        return HandshakeEnded(0);
    if (why == SSL_ERROR_WANT_READ && !FSsl->peerClosed && pulled >= -1)
        return;  // the next read event goes on
    FailHandshake();
}

void TCustomSslWSocket::FailHandshake() {
    const long verify = FSsl && FSsl->ssl ? SSL_get_verify_result(FSsl->ssl) : X509_V_OK;
    int error = WSOCKET_TLS_HANDSHAKE;
    if (verify != X509_V_OK) {
        error = WSOCKET_TLS_CERTIFICATE;
        FSslErrorText = tls::VerifyErrorText(verify);
        ERR_clear_error();
    } else if (FSsl && FSsl->peerClosed && ERR_peek_last_error() == 0) {
        FSslErrorText = FLastError != 0 && !IsTlsError(FLastError)
                            ? "TLS: handshake failed (" + SocketErrorText(FLastError) + ")"
                            : "TLS: handshake failed (connection closed by the server)";
    } else {
        FSslErrorText = tls::HandshakeErrorText();
    }
    FSslPhase = TSslPhase::Failed;
    HandshakeEnded(error);
}

void TCustomSslWSocket::HandshakeEnded(int Error) {
    const SOCKET S = SocketHandle;
    if (Error == 0) {
        FSslPhase = TSslPhase::Established;
        if (!FSsl->pendingPlain.empty()) {
            const std::string plain = std::move(FSsl->pendingPlain);
            FSsl->pendingPlain.clear();
            Send(plain.data(), static_cast<int>(plain.size()));
        }
    } else {
        FLastError = Error;
    }
    if (FHandshakeAfterConnect)
        TCustomSocksWSocket::DoSessionConnected(static_cast<Word>(Error));
    if (S == SocketHandle)
        DoSslHandshakeDone(static_cast<Word>(Error));
    // A failed handshake leaves nothing to talk about: the connection goes, without a
    // close_notify (the alert, if any, has been queued already).
    if (Error != 0 && S == SocketHandle && FState != wsClosed)
        InternalClose(false, static_cast<Word>(Error));
}

// Moving cipher text.

// Reads what the network has into the input buffer: the count read, 0 when the server has
// closed, -1 when nothing is there yet, -2 on a failure (LastError holds it).
int TCustomSslWSocket::PullCipherText() {
    if (SocketHandle == INVALID_SOCKET)
        return -2;
    char chunk[kReadChunk];
    const int n = RawReceive(chunk, sizeof chunk, 0);
    if (n > 0) {
        BIO_write(FSsl->input, chunk, n);
        return n;
    }
    if (n == 0) {
        FSsl->peerClosed = true;
        return 0;
    }
    const int error = Winsock().WSAGetLastError();
    if (error == ws::WSAEWOULDBLOCK)
        return -1;
    FLastError = error;
    FSsl->peerClosed = true;
    return -2;
}

// Hands what OpenSSL wrote to the send queue. False when the connection went meanwhile (a send
// that found it reset closes the socket at once, and the TLS state with it).
bool TCustomSslWSocket::PushCipherText(bool EvenIfEmpty) {
    const SOCKET S = SocketHandle;
    const int pending = static_cast<int>(BIO_ctrl_pending(FSsl->output));
    if (pending <= 0) {
        if (EvenIfEmpty)
            TCustomSocksWSocket::Send(nullptr, 0);
    } else {
        std::string bytes(static_cast<std::size_t>(pending), '\0');
        const int n = BIO_read(FSsl->output, bytes.data(), pending);
        TCustomSocksWSocket::Send(bytes.data(), n > 0 ? n : 0);
    }
    return FSsl && SocketHandle == S && S != INVALID_SOCKET;
}

// Receiving.

bool TCustomSslWSocket::DoDataAvailable(Word Error) {
    switch (FSslPhase) {
        case TSslPhase::Handshake:
            ContinueHandshake();
            return true;
        case TSslPhase::Established:
            if (!OnDataAvailable) {
                DrainUnwanted();
                return true;
            }
            return TCustomSocksWSocket::DoDataAvailable(Error);
        case TSslPhase::Closed:
        case TSslPhase::Failed:
            DrainUnwanted();
            return true;
        case TSslPhase::Off:
            break;
    }
    return TCustomSocksWSocket::DoDataAvailable(Error);
}

void TCustomSslWSocket::DrainUnwanted() {
    char scratch[1024];
    Receive(scratch, sizeof scratch);
}

int TCustomSslWSocket::Receive(void* Buffer, int BufferSize) {
    if (FSslPhase == TSslPhase::Off)
        return TCustomSocksWSocket::Receive(Buffer, BufferSize);
    TActiveScope scope(this);
    const int n = ReadPlain(Buffer, BufferSize);
    if (n < 0)
        Winsock().WSASetLastError(FLastError);
    else
        FReadCount += n;
    return n;
}

// Plain text for the caller: the count, 0 at the end of the stream, or -1 with FLastError set
// (WSAEWOULDBLOCK while the next record has not fully arrived).
int TCustomSslWSocket::ReadPlain(void* Buffer, int BufferSize) {
    if (FSslPhase != TSslPhase::Established) {
        if (FSslPhase == TSslPhase::Handshake)
            ContinueHandshake();
        if (FSslPhase == TSslPhase::Closed ||
            (FSslPhase == TSslPhase::Failed && (!FSsl || FSsl->peerClosed)))
            return 0;
        FLastError = FSslPhase == TSslPhase::Failed ? WSOCKET_TLS_PROTOCOL : ws::WSAEWOULDBLOCK;
        return -1;
    }
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(FSsl->ssl, Buffer, BufferSize);
        const int why = n > 0 ? SSL_ERROR_NONE : SSL_get_error(FSsl->ssl, n);
        // Post-handshake messages may want an answer.
        if (!PushCipherText() && n <= 0) {
            FLastError = ws::WSAENOTCONN;
            return -1;
        }
        if (n > 0) {
            NoteLayerRead();
            return n;
        }
        if (why == SSL_ERROR_ZERO_RETURN)
            return 0;  // the server's close_notify
        if (why != SSL_ERROR_WANT_READ) {
            FailConnection(WSOCKET_TLS_PROTOCOL, tls::HandshakeErrorText());
            return -1;
        }
        const int pulled = PullCipherText();
        if (pulled > 0)
            continue;
        if (pulled == 0)
            return 0;  // closed without close_notify: the end of the stream all the same
        if (pulled == -1)
            FLastError = ws::WSAEWOULDBLOCK;
        return -1;
    }
}

// A broken TLS stream ends the connection. The close comes from the loop, as a close
// notification would, so that no handler runs inside the Receive that found the fault.
void TCustomSslWSocket::FailConnection(int Error, const std::string& Text) {
    FSslErrorText = Text;
    const std::string prefix = "TLS: handshake failed";
    if (FSslErrorText.rfind(prefix, 0) == 0)
        FSslErrorText = "TLS: connection failed" + FSslErrorText.substr(prefix.size());
    FSslPhase = TSslPhase::Failed;
    FLastError = Error;
    sys::PostMessage(WindowHandle, WM_SOCKET_SELECT, static_cast<sys::WPARAM>(SocketHandle),
                     ws::WSAMAKESELECTREPLY(ws::FD_CLOSE, Error));
}

int TCustomSslWSocket::BufferedCount() {
    const int below = TCustomSocksWSocket::BufferedCount();
    if (FSslPhase != TSslPhase::Established && FSslPhase != TSslPhase::Handshake)
        return below;
    return below + SSL_pending(FSsl->ssl) + static_cast<int>(BIO_ctrl_pending(FSsl->input));
}

int TCustomSslWSocket::GetRcvdCount() {
    if (FSslPhase != TSslPhase::Established)
        return TCustomSocksWSocket::GetRcvdCount();
    PullCipherText();
    char probe;
    ERR_clear_error();
    SSL_peek(FSsl->ssl, &probe, 1);  // decrypts the next record, if it is complete
    ERR_clear_error();
    return SSL_pending(FSsl->ssl);
}

// Sending.

int TCustomSslWSocket::Send(const void* Data, int Len) {
    if (FSslPhase == TSslPhase::Off || FState != wsConnected)
        return TCustomSocksWSocket::Send(Data, Len);
    TActiveScope scope(this);  // a send that finds the connection reset raises its close
    if (FSslPhase == TSslPhase::Handshake) {
        if (Len > 0)
            FSsl->pendingPlain.append(static_cast<const char*>(Data),
                                      static_cast<std::size_t>(Len));
        return Len > 0 ? Len : 0;
    }
    if (FSslPhase != TSslPhase::Established) {
        Winsock().WSASetLastError(ws::WSAENOTCONN);
        return -1;
    }
    const char* bytes = static_cast<const char*>(Data);
    for (int done = 0; done < Len;) {
        ERR_clear_error();
        const int n = SSL_write(FSsl->ssl, bytes + done, Len - done);
        if (n <= 0) {
            FailConnection(WSOCKET_TLS_PROTOCOL, tls::HandshakeErrorText());
            return -1;
        }
        done += n;
    }
    // Also with nothing to send: the layer below then tells OnDataSent, as it would in plain.
    PushCipherText(true);
    return Len > 0 ? Len : 0;
}

void TCustomSslWSocket::DoSessionClosed(Word Error) {
    // A connection that goes before the handshake has ended fails the handshake first, so that
    // a caller who waits for OnSessionConnected hears of it.
    if (FSslPhase == TSslPhase::Handshake || FHandshakeCut) {
        const bool afterConnect = FHandshakeCut ? FCutAfterConnect : FHandshakeAfterConnect;
        FHandshakeCut = false;
        FSslErrorText =
            "TLS: handshake failed (" +
            (Error != 0 ? SocketErrorText(Error) : std::string("connection closed by the server")) +
            ")";
        if (FSslPhase == TSslPhase::Handshake)
            FSslPhase = TSslPhase::Failed;
        FLastError = WSOCKET_TLS_HANDSHAKE;
        Error = WSOCKET_TLS_HANDSHAKE;
        const SOCKET S = SocketHandle;
        if (afterConnect)
            TCustomSocksWSocket::DoSessionConnected(WSOCKET_TLS_HANDSHAKE);
        if (S == SocketHandle)
            DoSslHandshakeDone(WSOCKET_TLS_HANDSHAKE);
    }
    TCustomSocksWSocket::DoSessionClosed(Error);
}

void TCustomSslWSocket::DoDataSent(Word Error) {
    // The handshake's own records are nobody's business above this layer.
    if (FSslPhase == TSslPhase::Handshake)
        return;
    TCustomSocksWSocket::DoDataSent(Error);
}

// Closing.

void TCustomSslWSocket::InternalClose(bool Shut, Word Error) {
    if (Shut && SslEstablished() && SocketHandle != INVALID_SOCKET)
        SendCloseNotify();
    // A send that finds the connection lost closes first and tells OnSessionClosed after, when
    // the handshake state is gone already: remember that one was cut short.
    if (FSslPhase == TSslPhase::Handshake) {
        FHandshakeCut = true;
        FCutAfterConnect = FHandshakeAfterConnect;
    }
    TCustomSocksWSocket::InternalClose(Shut, Error);
}

// The close_notify goes straight out, and only when nothing is queued before it: records must
// reach the server in order, and queued ones are dropped by the close anyway.
void TCustomSslWSocket::SendCloseNotify() {
    FSslPhase = TSslPhase::Closed;  // nothing more is sent or read on this connection
    if (!FAllSent)
        return;
    ERR_clear_error();
    SSL_shutdown(FSsl->ssl);
    ERR_clear_error();
    char bytes[512];
    const int n = BIO_read(FSsl->output, bytes, sizeof bytes);
    if (n > 0)
        Winsock().send(SocketHandle, bytes, n, 0);
}

void TCustomSslWSocket::DoSslHandshakeDone(Word Error) {
    OnSslHandshakeDone.Call(this, Error);
}
