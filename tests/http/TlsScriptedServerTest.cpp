// The TLS test support on its own: the throw-away certificate authority and the TLS mode of the
// scripted server, seen by a plain blocking OpenSSL client, so that the HTTPS tests of the
// client can rely on them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "ScriptedServer.h"
#include "TestCa.h"

using testsupport::ScriptedServer;
using testsupport::TCertFiles;
using testsupport::TestCa;
using testsupport::TScript;

namespace {

const std::string kRequest = "HEAD / HTTP/1.0\r\n\r\n";
const std::string kAnswer = "HTTP/1.0 200 OK\r\nServer: scripted\r\n\r\n";

using TSession = std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)>;

// A blocking TLS client that trusts the test authority and checks the server against host. It
// names host in its hello unless host is an address. The socket's time-outs bound every call.
class TlsClient {
  public:
    TlsClient(std::uint16_t port, const std::string& host, SSL_SESSION* resume = nullptr,
              int maxVersion = 0)
        : context_(SSL_CTX_new(TLS_client_method())),
          ssl_(SSL_new(context_)),
          fd_(testsupport::ConnectTo(port)) {
        SSL_CTX_load_verify_locations(context_, TestCa::Shared().CaFile().c_str(), nullptr);
        SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
        SSL_set_max_proto_version(ssl_, maxVersion);
        SSL_set1_host(ssl_, host.c_str());
        in_addr address{};
        if (inet_pton(AF_INET, host.c_str(), &address) != 1)
            SSL_set_tlsext_host_name(ssl_, host.c_str());
        if (resume)
            SSL_set_session(ssl_, resume);
        SSL_set_fd(ssl_, fd_);
    }
    ~TlsClient() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
        ::close(fd_);
    }
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    // True when the handshake went through and the server passed the check.
    bool Handshake() { return SSL_connect(ssl_) == 1; }
    long Verify() const { return SSL_get_verify_result(ssl_); }
    bool Resumed() const { return SSL_session_reused(ssl_) == 1; }
    TSession Session() const { return {SSL_get1_session(ssl_), SSL_SESSION_free}; }

    bool Send(const std::string& bytes) {
        return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) > 0;
    }
    // What the server sends, up to most bytes or until the connection ends.
    std::string Read(std::size_t most = std::string::npos) {
        std::string all;
        char buf[4096];
        while (all.size() < most) {
            const int n =
                SSL_read(ssl_, buf, static_cast<int>(std::min(sizeof buf, most - all.size())));
            if (n <= 0) {
                endError_ = SSL_get_error(ssl_, n);
                break;
            }
            all.append(buf, static_cast<std::size_t>(n));
        }
        return all;
    }
    // How the connection ended: SSL_ERROR_ZERO_RETURN after a close_notify of the server.
    int EndError() const { return endError_; }
    void SendCloseNotify() { SSL_shutdown(ssl_); }

  private:
    SSL_CTX* context_;
    SSL* ssl_;
    int fd_;
    int endError_ = SSL_ERROR_NONE;
};

struct TVerifyCase {
    const char* Name;
    const TCertFiles& Served;
    std::string Host;
    long Verify;
};

TEST(TlsTestCaTest, CertificatesAreJudgedAsTheirNamesSay) {
    const TestCa& ca = TestCa::Shared();
    const TVerifyCase cases[] = {
        {"valid, by address", ca.Valid(), "127.0.0.1", X509_V_OK},
        {"valid, by the last address", ca.Valid(), "127.0.0.3", X509_V_OK},
        {"valid, by name", ca.Valid(), "localhost", X509_V_OK},
        {"valid, for an address it does not name", ca.Valid(), "127.0.0.4",
         X509_V_ERR_IP_ADDRESS_MISMATCH},
        {"other host, for localhost", ca.OtherHost(), "localhost", X509_V_ERR_HOSTNAME_MISMATCH},
        {"other host, for its own name", ca.OtherHost(), "other.test", X509_V_OK},
        {"expired", ca.Expired(), "localhost", X509_V_ERR_CERT_HAS_EXPIRED},
        {"self-signed", ca.SelfSigned(), "localhost", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
    };
    for (const TVerifyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(TScript::Answer(kAnswer), c.Served);
        {
            TlsClient client(server.Port(), c.Host);
            const bool secured = client.Handshake();
            EXPECT_EQ(client.Verify(), c.Verify);
            EXPECT_EQ(secured, c.Verify == X509_V_OK);
            if (secured) {
                EXPECT_TRUE(client.Send(kRequest));
                EXPECT_EQ(client.Read(), kAnswer);
            }
        }
        // A refused handshake ends the connection on the server's side as well.
        EXPECT_TRUE(server.WaitFinished(1));
    }
}

std::unique_ptr<X509, decltype(&X509_free)> LoadCert(const std::string& file) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(file.c_str(), "r"), BIO_free);
    return {bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, X509_free};
}

std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> LoadKey(const std::string& file) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(file.c_str(), "r"), BIO_free);
    return {bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
            EVP_PKEY_free};
}

TEST(TlsTestCaTest, OnlyTheAuthorityMaySignAndNoTwoSerialsAreAlike) {
    const TestCa& ca = TestCa::Shared();
    const auto authority = LoadCert(ca.CaFile());
    ASSERT_NE(authority, nullptr);
    EXPECT_EQ(X509_check_ca(authority.get()), 1);
    std::vector<const ASN1_INTEGER*> serials{X509_get0_serialNumber(authority.get())};
    std::vector<std::unique_ptr<X509, decltype(&X509_free)>> leaves;
    const std::pair<const char*, const TCertFiles&> servers[] = {
        {"valid", ca.Valid()},
        {"other host", ca.OtherHost()},
        {"expired", ca.Expired()},
        {"self-signed", ca.SelfSigned()},
    };
    for (const auto& [name, files] : servers) {
        SCOPED_TRACE(name);
        auto cert = LoadCert(files.CertFile);
        const auto key = LoadKey(files.KeyFile);
        if (!cert || !key) {
            ADD_FAILURE() << "certificate or key does not load";
            continue;
        }
        EXPECT_EQ(X509_check_private_key(cert.get(), key.get()), 1);
        EXPECT_EQ(X509_check_ca(cert.get()), 0);
        EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_ecdsa_with_SHA256);
        for (const ASN1_INTEGER* other : serials)
            EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(cert.get()), other), 0);
        serials.push_back(X509_get0_serialNumber(cert.get()));
        leaves.push_back(std::move(cert));
    }
}

TEST(TlsTestCaTest, FilesGoAwayWithTheAuthority) {
    std::vector<std::string> files;
    {
        const TestCa ca;
        files = {ca.CaFile(),          ca.Valid().CertFile,
                 ca.Valid().KeyFile,   ca.OtherHost().KeyFile,
                 ca.Expired().KeyFile, ca.SelfSigned().KeyFile};
        for (const std::string& file : files)
            EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }
    for (const std::string& file : files)
        EXPECT_FALSE(std::filesystem::exists(file)) << file;
}

TEST(TlsScriptedServerTest, ScriptPlaysInsideTlsByteForByte) {
    const std::string request =
        "POST /form HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\n\r\nhello";
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody";
    // Small pieces make many small records, which the client has to join again.
    const TScript script =
        TScript().ReadRequest().Send(answer, 5, std::chrono::milliseconds(1)).Close();
    ScriptedServer server(script, TestCa::Shared().Valid());
    EXPECT_EQ(server.Scheme(), "https");
    EXPECT_EQ(server.Url("/a"), "https://127.0.0.1:" + server.PortText() + "/a");
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        TlsClient client(server.Port(), host);
        EXPECT_TRUE(client.Handshake());
        EXPECT_TRUE(client.Send(request));
        EXPECT_EQ(client.Read(), answer);
        EXPECT_EQ(client.EndError(), SSL_ERROR_ZERO_RETURN) << "no close_notify";
    }
    ASSERT_TRUE(server.WaitFinished(2));
    EXPECT_EQ(server.Received(), std::vector<std::string>({request, request}));
    // An address is no host name, so the first client named none.
    EXPECT_EQ(server.ServerNames(), std::vector<std::string>({"", "localhost"}));
}

TEST(TlsScriptedServerTest, PlainModeKeepsItsScheme) {
    ScriptedServer server(TScript::Answer(kAnswer));
    EXPECT_EQ(server.Scheme(), "http");
    EXPECT_EQ(server.Url("/a"), "http://127.0.0.1:" + server.PortText() + "/a");
}

TEST(TlsScriptedServerTest, OnlyCloseEndsWithCloseNotify) {
    const struct {
        const char* Name;
        TScript Script;
        bool CloseNotify;
    } cases[] = {
        {"close", TScript().ReadRequest().Send(kAnswer).Close(), true},
        {"end of script", TScript().ReadRequest().Send(kAnswer), true},
        {"reset", TScript().ReadRequest().Send(kAnswer).Reset(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(c.Script, TestCa::Shared().Valid());
        TlsClient client(server.Port(), "localhost");
        EXPECT_TRUE(client.Handshake());
        EXPECT_TRUE(client.Send(kRequest));
        client.Read();
        EXPECT_EQ(client.EndError() == SSL_ERROR_ZERO_RETURN, c.CloseNotify);
    }
}

TEST(TlsScriptedServerTest, RecordsWhetherTheClientSentCloseNotify) {
    ScriptedServer server(TScript().ReadRequest().Send(kAnswer).Hang(), TestCa::Shared().Valid());
    for (const bool closeNotify : {true, false}) {
        SCOPED_TRACE(closeNotify ? "with close_notify" : "without");
        TlsClient client(server.Port(), "localhost");
        EXPECT_TRUE(client.Handshake());
        EXPECT_TRUE(client.Send(kRequest));
        // Reading the answer takes in the session tickets before it as well: a client that
        // closes with unread bytes resets the connection, and the reset may drop its
        // close_notify.
        EXPECT_EQ(client.Read(kAnswer.size()), kAnswer);
        if (closeNotify)
            client.SendCloseNotify();
    }
    ASSERT_TRUE(server.WaitFinished(2));
    EXPECT_EQ(server.ClientCloseNotify(), std::vector<bool>({true, false}));
    EXPECT_EQ(server.Received(), std::vector<std::string>({kRequest, kRequest}));
}

TEST(TlsScriptedServerTest, LaterConnectionResumesTheSession) {
    // TLS 1.3 resumes with a ticket, TLS 1.2 here with the session cache of the server.
    for (const int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        SCOPED_TRACE(version == TLS1_3_VERSION ? "TLS 1.3" : "TLS 1.2");
        ScriptedServer server(TScript::Answer(kAnswer), TestCa::Shared().Valid());
        TSession session(nullptr, SSL_SESSION_free);
        for (const bool again : {false, true}) {
            SCOPED_TRACE(again ? "second connection" : "first connection");
            TlsClient client(server.Port(), "localhost", session.get(), version);
            EXPECT_TRUE(client.Handshake());
            EXPECT_EQ(client.Resumed(), again);
            EXPECT_TRUE(client.Send(kRequest));
            // Reading to the end takes in the tickets that TLS 1.3 sends after the handshake.
            EXPECT_EQ(client.Read(), kAnswer);
            // OpenSSL forgets the session of a connection that ends without a close_notify.
            client.SendCloseNotify();
            session = client.Session();
            EXPECT_EQ(SSL_SESSION_get_protocol_version(session.get()), version);
        }
    }
}

TEST(TlsScriptedServerTest, PlainHttpClientGetsNoHttpAnswer) {
    ScriptedServer server(TScript::Answer(kAnswer), TestCa::Shared().Valid());
    const int fd = testsupport::ConnectTo(server.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(testsupport::WriteAll(fd, kRequest));
    // An alert at most, then the end of the connection.
    const std::string reply = testsupport::ReadAll(fd);
    ::close(fd);
    EXPECT_NE(reply.rfind("HTTP/", 0), 0u) << reply;
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(server.Received(), std::vector<std::string>({kRequest}));
}

TEST(TlsScriptedServerTest, SilentClientIsGivenUpWhenTheLifetimeEnds) {
    ScriptedServer server(TScript::Answer(kAnswer), TestCa::Shared().Valid(),
                          std::chrono::milliseconds(200));
    const int fd = testsupport::ConnectTo(server.Port());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(testsupport::ReadAll(fd), "");
    ::close(fd);
    EXPECT_EQ(server.Received(), std::vector<std::string>({""}));
}

TEST(TlsScriptedServerTest, SendRawBypassesTls) {
    ScriptedServer server(TScript().ReadRequest().SendRaw(kAnswer).Hang(),
                          TestCa::Shared().Valid());
    TlsClient client(server.Port(), "localhost");
    ASSERT_TRUE(client.Handshake());
    EXPECT_TRUE(client.Send(kRequest));
    EXPECT_EQ(client.Read(), "");
    EXPECT_EQ(client.EndError(), SSL_ERROR_SSL);
}

}  // namespace
