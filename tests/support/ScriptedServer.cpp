#include "ScriptedServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

// The Content-Length of a request header, 0 when it names none.
std::size_t ContentLength(std::string_view header) {
    std::string lower(header);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto at = lower.find("\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::strtoul(lower.c_str() + at + 16, nullptr, 10);
}

// End of the request header (past its empty line), or npos.
std::size_t HeaderEnd(std::string_view data) {
    const auto crlf = data.find("\r\n\r\n");
    const auto lf = data.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos)
        return std::string_view::npos;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE once the client has gone.
// Blocking the signal for the server's thread alone turns that into EPIPE there, and leaves
// the process-wide handling, which the code under test relies on, as it is.
void BlockBrokenPipeSignal() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

}  // namespace

// One connection's transport. This base is the bare socket; TTlsLink puts TLS over it. The
// socket does not block: a call that has to wait does so through the server's waiter, which
// gives up when the server's lifetime runs out or the server stops.
class TSocketLink {
  public:
    using TWaiter = std::function<bool(int fd, short events)>;

    TSocketLink(int fd, TWaiter wait) : fd_(fd), wait_(std::move(wait)) {}
    virtual ~TSocketLink() { ::close(fd_); }
    TSocketLink(const TSocketLink&) = delete;
    TSocketLink& operator=(const TSocketLink&) = delete;

    virtual bool Handshake() { return true; }
    // Reads what has come, waiting for the first byte: how many bytes, 0 at the end of the
    // stream, after an error or when the server stops.
    virtual std::size_t Read(char* buf, std::size_t size) { return ReadRaw(buf, size); }
    virtual bool Write(std::string_view bytes) { return WriteRaw(bytes); }
    // What a failed handshake read, as it came over the wire.
    virtual std::string HandshakeBytes() const { return {}; }
    virtual std::string ServerName() const { return {}; }
    virtual bool PeerSentCloseNotify() const { return false; }

    // Straight over the socket, whatever runs on top of it.
    bool WriteRaw(std::string_view bytes);
    // Makes the close a reset (RST) instead of a graceful end.
    void Reset();
    // The graceful end before the socket closes, unless the connection is to be reset.
    void Shutdown() {
        if (!reset_)
            EndGracefully();
    }

  protected:
    virtual void EndGracefully() {}
    std::size_t ReadRaw(char* buf, std::size_t size);
    bool Wait(short events) const { return wait_(fd_, events); }

    const int fd_;

  private:
    TWaiter wait_;
    bool reset_ = false;
};

std::size_t TSocketLink::ReadRaw(char* buf, std::size_t size) {
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, size, MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR && (errno != EAGAIN || !Wait(POLLIN)))
            return 0;
    }
}

bool TSocketLink::WriteRaw(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            bytes.remove_prefix(static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EINTR && (errno != EAGAIN || !Wait(POLLOUT))))
            return false;
    }
    return true;
}

void TSocketLink::Reset() {
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    reset_ = true;
}

namespace {

// A client that spoke something else than TLS may have sent more than the handshake read;
// this much of the rest is kept as well.
constexpr std::size_t kUnreadKept = 64 * 1024;

// A server-side TLS connection over the socket.
class TTlsLink final : public TSocketLink {
  public:
    TTlsLink(int fd, TWaiter wait, SSL_CTX* context);
    ~TTlsLink() override { SSL_free(ssl_); }

    bool Handshake() override;
    std::size_t Read(char* buf, std::size_t size) override;
    bool Write(std::string_view bytes) override;
    std::string HandshakeBytes() const override { return handshakeBytes_; }
    std::string ServerName() const override { return serverName_; }
    bool PeerSentCloseNotify() const override {
        return (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) != 0;
    }

    // The context's callback for the client's hello: notes the host name it asked for.
    static int NoteServerName(SSL* ssl, int* alert, void* arg);

  private:
    void EndGracefully() override;
    // Repeats an OpenSSL call on the non-blocking socket until it gets through, waiting for
    // what it asks for: its result, or <= 0 when it failed or the server stopped.
    int Complete(const std::function<int()>& call);
    void KeepUnreadBytes();
    static long TapReads(BIO* bio, int oper, const char* data, std::size_t len, int argi, long argl,
                         int ret, std::size_t* processed);

    SSL* ssl_;
    // After a fatal error, or when the server stopped in the middle of a call, OpenSSL must
    // not be asked for a close_notify any more.
    bool broken_ = false;
    std::string serverName_;
    std::string handshakeBytes_;
};

TTlsLink::TTlsLink(int fd, TWaiter wait, SSL_CTX* context)
    : TSocketLink(fd, std::move(wait)), ssl_(SSL_new(context)) {
    if (ssl_ && SSL_set_fd(ssl_, fd) == 1)
        SSL_set_app_data(ssl_, this);
    else
        broken_ = true;
}

int TTlsLink::NoteServerName(SSL* ssl, int*, void*) {
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    static_cast<TTlsLink*>(SSL_get_app_data(ssl))->serverName_ = name ? name : "";
    return SSL_TLSEXT_ERR_OK;
}

bool TTlsLink::Handshake() {
    if (broken_)
        return false;
    // The socket's BIO reports every read, so that a failed handshake can show what came.
    BIO* socket = SSL_get_rbio(ssl_);
    BIO_set_callback_arg(socket, reinterpret_cast<char*>(&handshakeBytes_));
    BIO_set_callback_ex(socket, TapReads);
    const bool done = Complete([this] { return SSL_accept(ssl_); }) > 0;
    BIO_set_callback_ex(socket, nullptr);
    if (!done)
        KeepUnreadBytes();
    return done;
}

long TTlsLink::TapReads(BIO* bio, int oper, const char* data, std::size_t, int, long, int ret,
                        std::size_t* processed) {
    if (oper == (BIO_CB_READ | BIO_CB_RETURN) && ret > 0 && processed)
        reinterpret_cast<std::string*>(BIO_get_callback_arg(bio))->append(data, *processed);
    return ret;
}

// Whatever else the client has sent by now, so that the record shows all of it and the close
// does not turn into a reset over bytes left unread.
void TTlsLink::KeepUnreadBytes() {
    char buf[4096];
    ssize_t n = 0;
    while (handshakeBytes_.size() < kUnreadKept &&
           (n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0)
        handshakeBytes_.append(buf, static_cast<std::size_t>(n));
}

std::size_t TTlsLink::Read(char* buf, std::size_t size) {
    const int n = Complete([&] { return SSL_read(ssl_, buf, static_cast<int>(size)); });
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool TTlsLink::Write(std::string_view bytes) {
    if (bytes.empty())
        return true;
    // Each call makes records of its own, so the pieces of a Send stay apart on the wire.
    const auto write = [&] {
        return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    };
    return Complete(write) > 0;
}

void TTlsLink::EndGracefully() {
    // Sends the close_notify without waiting for the client's.
    if (!broken_)
        Complete([this] { return SSL_shutdown(ssl_) >= 0 ? 1 : -1; });
}

int TTlsLink::Complete(const std::function<int()>& call) {
    for (;;) {
        ERR_clear_error();
        const int result = call();
        if (result > 0)
            return result;
        const int error = SSL_get_error(ssl_, result);
        const short events = error == SSL_ERROR_WANT_READ    ? POLLIN
                             : error == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                             : 0;
        if (events == 0 || !Wait(events)) {
            // A close_notify from the client ends the stream cleanly; anything else is final.
            broken_ = broken_ || error != SSL_ERROR_ZERO_RETURN;
            return result < 0 ? result : 0;
        }
    }
}

SSL_CTX* NewServerContext(const TTls& tls) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    static const unsigned char kSessionContext[] = "qv-scripted-server";
    // The session cache of the server side is on by default; the session context lets a
    // client take up a session of an earlier connection.
    const bool ready =
        context != nullptr && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
        SSL_CTX_use_certificate_chain_file(context, tls.CertFile.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(context, tls.KeyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(context) == 1 &&
        SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1) == 1;
    if (!ready) {
        SSL_CTX_free(context);
        throw std::runtime_error("ScriptedServer: cannot use " + tls.CertFile + " with " +
                                 tls.KeyFile);
    }
    SSL_CTX_set_tlsext_servername_callback(context, TTlsLink::NoteServerName);
    return context;
}

}  // namespace

TScript& TScript::ReadRequest() {
    steps_.push_back({TStep::TKind::ReadRequest, {}});
    return *this;
}

TScript& TScript::Send(std::string bytes, std::size_t pieceSize, std::chrono::milliseconds pause) {
    steps_.push_back({TStep::TKind::Send, std::move(bytes), pieceSize, pause});
    return *this;
}

TScript& TScript::SendRaw(std::string bytes) {
    steps_.push_back({TStep::TKind::SendRaw, std::move(bytes)});
    return *this;
}

TScript& TScript::Delay(std::chrono::milliseconds pause) {
    steps_.push_back({TStep::TKind::Delay, {}, 0, pause});
    return *this;
}

TScript& TScript::Close() {
    steps_.push_back({TStep::TKind::Close, {}});
    return *this;
}

TScript& TScript::Reset() {
    steps_.push_back({TStep::TKind::Reset, {}});
    return *this;
}

TScript& TScript::Call(std::function<void()> action) {
    steps_.push_back({TStep::TKind::Call, {}, 0, std::chrono::milliseconds(0), std::move(action)});
    return *this;
}

TScript& TScript::Hang() {
    steps_.push_back({TStep::TKind::Hang, {}});
    return *this;
}

TScript& TScript::Reply(std::function<std::string(const std::string& received)> choose) {
    steps_.push_back(
        {TStep::TKind::Reply, {}, 0, std::chrono::milliseconds(0), {}, std::move(choose)});
    return *this;
}

TScript TScript::Answer(std::string bytes) {
    TScript script;
    script.ReadRequest().Send(std::move(bytes)).Close();
    return script;
}

void ScriptedServer::TTlsContextFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}

ScriptedServer::ScriptedServer(TScript script, std::chrono::milliseconds lifetime)
    : ScriptedServer(std::vector<TScript>{std::move(script)}, lifetime) {}

ScriptedServer::ScriptedServer(std::vector<TScript> scripts, std::chrono::milliseconds lifetime)
    : scripts_(std::move(scripts)), deadline_(Clock::now() + lifetime) {
    Start();
}

ScriptedServer::ScriptedServer(TScript script, TTls tls, std::chrono::milliseconds lifetime)
    : ScriptedServer(std::vector<TScript>{std::move(script)}, std::move(tls), lifetime) {}

ScriptedServer::ScriptedServer(std::vector<TScript> scripts, TTls tls,
                               std::chrono::milliseconds lifetime)
    : scripts_(std::move(scripts)),
      deadline_(Clock::now() + lifetime),
      tlsContext_(NewServerContext(tls)) {
    Start();
}

void ScriptedServer::Start() {
    if (scripts_.empty())
        scripts_.emplace_back();
    server_.Start([this] { Run(); });
}

std::unique_ptr<ScriptedServer> ScriptedServer::At(const std::string& address, std::uint16_t port,
                                                   std::vector<TScript> scripts,
                                                   std::optional<TTls> tls) {
    try {
        return std::unique_ptr<ScriptedServer>(
            new ScriptedServer(std::move(scripts), tls, address, port));
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

ScriptedServer::ScriptedServer(std::vector<TScript> scripts, const std::optional<TTls>& tls,
                               std::string address, std::uint16_t port)
    : scripts_(std::move(scripts)),
      deadline_(Clock::now() + std::chrono::seconds(20)),
      address_(std::move(address)),
      server_(address_, port) {
    if (tls)
        tlsContext_.reset(NewServerContext(*tls));
    Start();
}

std::string ScriptedServer::HostPort() const {
    // An IPv6 address stands in brackets before the port.
    if (address_.find(':') != std::string::npos)
        return "[" + address_ + "]:" + PortText();
    return address_ + ":" + PortText();
}

std::string ScriptedServer::Scheme() const {
    return tlsContext_ ? "https" : "http";
}

std::string ScriptedServer::Url(std::string_view path) const {
    return Scheme() + "://" + HostPort() + std::string(path);
}

bool ScriptedServer::WaitFinished(int count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(mutex_);
    return finishedChanged_.wait_for(lock, bound, [&] { return finished_.load() >= count; });
}

template <class TField>
std::vector<TField> ScriptedServer::Collect(TField TRecord::*field) const {
    std::lock_guard lock(mutex_);
    std::vector<TField> all;
    for (const TRecord& record : records_)
        all.push_back(record.*field);
    return all;
}

std::vector<std::string> ScriptedServer::Received() const {
    return Collect(&TRecord::Received);
}

std::vector<std::string> ScriptedServer::ServerNames() const {
    return Collect(&TRecord::ServerName);
}

std::vector<bool> ScriptedServer::ClientCloseNotify() const {
    return Collect(&TRecord::ClientCloseNotify);
}

RefusingPort::RefusingPort() {
    // Bound but never listening: the kernel answers connects with a reset, and the port
    // cannot be handed to anybody else while the socket exists.
    fd_ = BindLoopback("127.0.0.1", port_);
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

ScriptedServer::TWait ScriptedServer::WaitFor(int fd, short events) const {
    return server_.WaitFor(fd, events, deadline_) == ServerThread::TWait::Ready ? TWait::Ready
                                                                                : TWait::Stopped;
}

ScriptedServer::TWait ScriptedServer::Pause(std::chrono::milliseconds pause) const {
    if (pause.count() <= 0)
        return TWait::Ready;
    const auto end = Clock::now() + pause;
    if (end >= deadline_)
        return TWait::Stopped;
    return server_.Sleep(end) == ServerThread::TWait::TimedOut ? TWait::Ready : TWait::Stopped;
}

void ScriptedServer::Run() {
    BlockBrokenPipeSignal();
    for (std::size_t index = 0;; ++index) {
        std::unique_ptr<TSocketLink> link = Accept();
        if (!link)
            return;
        {
            std::lock_guard lock(mutex_);
            records_.emplace_back();
        }
        ++connections_;
        Serve(*link, scripts_[std::min(index, scripts_.size() - 1)], index);
        link.reset();  // closes the socket before the connection counts as finished
        {
            std::lock_guard lock(mutex_);
            ++finished_;
        }
        finishedChanged_.notify_all();
    }
}

std::unique_ptr<TSocketLink> ScriptedServer::Accept() {
    const int fd = server_.AcceptNext(deadline_, SOCK_NONBLOCK);
    if (fd < 0)
        return nullptr;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto wait = [this](int socket, short events) {
        return WaitFor(socket, events) == TWait::Ready;
    };
    if (tlsContext_)
        return std::make_unique<TTlsLink>(fd, std::move(wait), tlsContext_.get());
    return std::make_unique<TSocketLink>(fd, std::move(wait));
}

void ScriptedServer::Serve(TSocketLink& link, const TScript& script, std::size_t index) {
    const bool secured = link.Handshake();
    {
        std::lock_guard lock(mutex_);
        records_[index].ServerName = link.ServerName();
        if (!secured)
            records_[index].Received = link.HandshakeBytes();
    }
    if (!secured)
        return;
    for (const TScript::TStep& step : script.Steps()) {
        if (!Play(link, step, index))
            break;
    }
    link.Shutdown();
    std::lock_guard lock(mutex_);
    records_[index].ClientCloseNotify = link.PeerSentCloseNotify();
}

bool ScriptedServer::Play(TSocketLink& link, const TScript::TStep& step, std::size_t index) {
    using K = TScript::TStep::TKind;
    switch (step.Kind) {
        case K::ReadRequest:
            return ReadRequest(link, index);
        case K::Send:
            return Send(link, step);
        case K::SendRaw:
            return link.WriteRaw(step.Bytes);
        case K::Delay:
            return Pause(step.Pause) == TWait::Ready;
        case K::Close:
            return false;
        case K::Reset:
            link.Reset();
            return false;
        case K::Hang:
            Hang(link, index);
            return false;
        case K::Call:
            step.Action();
            return true;
        case K::Reply:
            return Send(link, {K::Send, step.Choose(ReceivedOn(index))});
    }
    return false;
}

std::string ScriptedServer::ReceivedOn(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return records_[index].Received;
}

void ScriptedServer::Record(std::size_t index, const char* data, std::size_t len) {
    std::lock_guard lock(mutex_);
    records_[index].Received.append(data, len);
}

bool ScriptedServer::ReadRequest(TSocketLink& link, std::size_t index) {
    std::string data;
    std::size_t want = std::string::npos;
    while (want == std::string::npos || data.size() < want) {
        char buf[4096];
        const std::size_t n = link.Read(buf, sizeof buf);
        if (n == 0)
            return false;
        data.append(buf, n);
        Record(index, buf, n);
        if (want == std::string::npos) {
            const std::size_t end = HeaderEnd(data);
            if (end != std::string::npos)
                want = end + ContentLength(std::string_view(data).substr(0, end));
        }
    }
    return true;
}

bool ScriptedServer::Send(TSocketLink& link, const TScript::TStep& step) {
    const std::size_t piece = step.PieceSize ? step.PieceSize : step.Bytes.size();
    for (std::size_t at = 0; at < step.Bytes.size(); at += piece) {
        if (at > 0 && Pause(step.Pause) != TWait::Ready)
            return false;
        if (!link.Write(std::string_view(step.Bytes).substr(at, piece)))
            return false;
    }
    return true;
}

void ScriptedServer::Hang(TSocketLink& link, std::size_t index) {
    char buf[4096];
    for (std::size_t n = 0; (n = link.Read(buf, sizeof buf)) > 0;)
        Record(index, buf, n);
}

}  // namespace testsupport
