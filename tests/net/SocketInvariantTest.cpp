// Debug builds stop at a close that finds the socket in no valid state and at an active-call
// count that would go below zero: both mean the socket's bookkeeping is already broken (a
// freed or overwritten socket), and going on would close or free the wrong thing.
#include <gtest/gtest.h>

#include <new>

#include "net/WSocket.h"

namespace {

class TBrokenSocket : public TWSocket {
  public:
    void CloseInNoValidState() {
        FState = wsInvalidState;
        Close();
    }
    // Leaves the same scope twice, as a bookkeeping slip in a close path would.
    void LeaveScopeTwice() {
        alignas(TActiveScope) unsigned char raw[sizeof(TActiveScope)];
        auto* scope = new (raw) TActiveScope(this);
        scope->~TActiveScope();
        scope->~TActiveScope();
    }
};

TEST(SocketInvariantDeathTest, BrokenBookkeepingAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out in this build";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(TBrokenSocket().CloseInNoValidState(), "close of a socket in no valid state");
    EXPECT_DEATH(TBrokenSocket().LeaveScopeTwice(), "an active scope left that was never entered");
}

}  // namespace
