#include "Assert.h"

#include <cstdio>
#include <cstdlib>

namespace sys {

void AssertFailed(const char* condition, const char* message, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", file, line, message, condition);
    std::fflush(stderr);
    std::abort();
}

}  // namespace sys
