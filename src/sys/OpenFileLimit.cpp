#include "OpenFileLimit.h"

#include <sys/resource.h>

#include <algorithm>
#include <climits>

namespace sys {

namespace {

// Above this nothing is gained, and select()-era code and some kernels refuse "unlimited".
constexpr rlim_t kEnough = 65536;

long AsLong(rlim_t value) {
    return value == RLIM_INFINITY ? LONG_MAX : static_cast<long>(std::min<rlim_t>(value, LONG_MAX));
}

}  // namespace

long RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? kEnough : limit.rlim_max;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return AsLong(limit.rlim_cur);
}

}  // namespace sys
