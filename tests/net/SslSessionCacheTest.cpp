// The TLS session cache: a session is found again under its key, and a full cache makes room by
// giving up the session kept longest ago, whatever its key.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ScopedEnv.h"
#include "net/SslContext.h"

namespace {

// A context of its own (contexts are kept per trust setting), so the sessions of other tests
// neither fill this cache nor are pushed out by it.
class SslSessionCacheTest : public testing::Test {
  protected:
    testsupport::ScopedEnv trust{"SSL_CERT_FILE", "/nonexistent/" + UniqueName()};
    SSL_CTX* context = tls::ClientContext();

    static std::string UniqueName() {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        return std::string(test->test_suite_name()) + "." + test->name();
    }

    // A session that the cache takes for resumable: it has an id.
    void Keep(const std::string& key) {
        SSL_SESSION* session = SSL_SESSION_new();
        ASSERT_NE(session, nullptr);
        const unsigned char id[] = {1, 2, 3, 4};
        ASSERT_EQ(SSL_SESSION_set1_id(session, id, sizeof id), 1);
        tls::KeepSession(context, key, session);
    }

    bool Kept(const std::string& key) {
        SSL_SESSION* session = tls::TakeSession(context, key);
        SSL_SESSION_free(session);
        return session != nullptr;
    }

    static std::string Numbered(std::size_t n) {
        char key[32];
        std::snprintf(key, sizeof key, "host%04zu:443", n);
        return key;
    }
};

TEST_F(SslSessionCacheTest, FullCacheGivesUpTheSessionKeptLongestAgo) {
    Keep("zz-kept-first:443");  // the largest key, kept first
    for (std::size_t n = 0; n < tls::kMaxKeptSessions; ++n)
        Keep(Numbered(n));

    EXPECT_FALSE(Kept("zz-kept-first:443"));
    for (std::size_t n = 0; n < tls::kMaxKeptSessions; ++n) {
        SCOPED_TRACE(Numbered(n));
        EXPECT_TRUE(Kept(Numbered(n)));
    }
}

TEST_F(SslSessionCacheTest, ANewSessionForAKnownServerMakesItTheLatest) {
    for (std::size_t n = 0; n < tls::kMaxKeptSessions; ++n)
        Keep(Numbered(n));
    Keep(Numbered(0));  // replaces its session: nothing has to go
    EXPECT_TRUE(Kept(Numbered(0)));
    EXPECT_TRUE(Kept(Numbered(1)));

    Keep("new-server:443");  // full now: the oldest is server 1, since 0 was renewed
    EXPECT_TRUE(Kept("new-server:443"));
    EXPECT_TRUE(Kept(Numbered(0)));
    EXPECT_FALSE(Kept(Numbered(1)));
    EXPECT_TRUE(Kept(Numbered(2)));
}

TEST_F(SslSessionCacheTest, UnknownKeyFindsNothing) {
    Keep("known:443");
    EXPECT_TRUE(Kept("known:443"));
    EXPECT_FALSE(Kept("unknown:443"));
}

}  // namespace
