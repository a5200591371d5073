// Debug builds stop when the client begins a request's name lookup while no request runs or
// while another lookup is under way: two requests would then share one socket. A caller who
// starts a request while one runs gets the documented busy error instead (HttpCliRequestTest).
#include <gtest/gtest.h>

#include "http/HttpProt.h"

namespace {

class TLookupProbe : public THttpCli {
  public:
    using THttpCli::BeginLookup;
};

TEST(HttpCliInvariantDeathTest, LookupWithoutARunningRequestAborts) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are compiled out in this build";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(TLookupProbe().BeginLookup(),
                 "a request's lookup begins while none runs or another is under way");
}

}  // namespace
