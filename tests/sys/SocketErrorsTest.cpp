#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "sys/SocketErrors.h"

using namespace sys::winsock;

TEST(SocketErrors, ErrnoValuesMapToSocketErrorNumbers) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {EWOULDBLOCK, 10035},
        {EINPROGRESS, 10035},
        {EINTR, 10004},
        {EACCES, 10013},
        {EINVAL, 10022},
        {EMFILE, 10024},
        {ENOTSOCK, 10038},
        {EBADF, 10038},
        {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},
        {ENETUNREACH, 10051},
        {ECONNABORTED, 10053},
        {ECONNRESET, 10054},
        {EPIPE, 10054},
        {EISCONN, 10056},
        {ENOTCONN, 10057},
        {ESHUTDOWN, 10058},
        {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061},
        {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065},
    };
    for (auto [err, code] : cases)
        EXPECT_EQ(ErrorFromErrno(err), code) << "errno " << err;
    // Anything else stays recognisable without claiming a meaning.
    EXPECT_EQ(ErrorFromErrno(EIO), 10000 + EIO);
    EXPECT_EQ(ErrorText(10000 + EIO), "Not a WinSock error");
}

TEST(SocketErrors, ResolverResultsMapToHostErrors) {
    EXPECT_EQ(ErrorFromResolver(0, 0), 0);
    EXPECT_EQ(ErrorFromResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(ErrorFromResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(ErrorFromResolver(EAI_FAIL, 0), 11003);
    EXPECT_EQ(ErrorFromResolver(EAI_NODATA, 0), 11004);
    EXPECT_EQ(ErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketErrors, EveryNumberHasItsText) {
    const std::pair<int, const char*> cases[] = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10035, "Operation would block"},
        {10054, "Connection reset by peer"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10061, "Connection refused"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
        {10010, "Not a WinSock error"},
        {-1, "Not a WinSock error"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(ErrorText(code), text) << code;
}
