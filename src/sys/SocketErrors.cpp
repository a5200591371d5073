#include "SocketErrors.h"

#include <netdb.h>

#include <cerrno>
#include <unordered_map>

namespace sys::winsock {

namespace {

struct ErrnoEntry {
    int errnoValue;
    int code;
};

constexpr ErrnoEntry kErrnoTable[] = {
    {0, 0},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EINTR, WSAEINTR},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EBADF, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

const std::unordered_map<int, const char*>& Texts() {
    static const std::unordered_map<int, const char*> texts = {
        {0, "No Error"},
        {WSAEINTR, "Interrupted system call"},
        {WSAEBADF, "Bad file number"},
        {WSAEACCES, "Permission denied"},
        {WSAEFAULT, "Bad address"},
        {WSAEINVAL, "Invalid argument"},
        {WSAEMFILE, "Too many open files"},
        {WSAEWOULDBLOCK, "Operation would block"},
        {WSAEINPROGRESS, "Operation now in progress"},
        {WSAEALREADY, "Operation already in progress"},
        {WSAENOTSOCK, "Socket operation on non-socket"},
        {WSAEDESTADDRREQ, "Destination address required"},
        {WSAEMSGSIZE, "Message too long"},
        {WSAEPROTOTYPE, "Protocol wrong type for socket"},
        {WSAENOPROTOOPT, "Protocol not available"},
        {WSAEPROTONOSUPPORT, "Protocol not supported"},
        {WSAESOCKTNOSUPPORT, "Socket type not supported"},
        {WSAEOPNOTSUPP, "Operation not supported on socket"},
        {WSAEPFNOSUPPORT, "Protocol family not supported"},
        {WSAEAFNOSUPPORT, "Address family not supported by protocol family"},
        {WSAEADDRINUSE, "Address already in use"},
        {WSAEADDRNOTAVAIL, "Address not available"},
        {WSAENETDOWN, "Network is down"},
        {WSAENETUNREACH, "Network is unreachable"},
        {WSAENETRESET, "Network dropped connection on reset"},
        {WSAECONNABORTED, "Connection aborted"},
        {WSAECONNRESET, "Connection reset by peer"},
        {WSAENOBUFS, "No buffer space available"},
        {WSAEISCONN, "Socket is already connected"},
        {WSAENOTCONN, "Socket is not connected"},
        {WSAESHUTDOWN, "Can't send after socket shutdown"},
        {WSAETOOMANYREFS, "Too many references: can't splice"},
        {WSAETIMEDOUT, "Connection timed out"},
        {WSAECONNREFUSED, "Connection refused"},
        {WSAELOOP, "Too many levels of symbolic links"},
        {WSAENAMETOOLONG, "File name too long"},
        {WSAEHOSTDOWN, "Host is down"},
        {WSAEHOSTUNREACH, "No route to host"},
        {WSAENOTEMPTY, "Directory not empty"},
        {WSAEPROCLIM, "Too many processes"},
        {WSAEUSERS, "Too many users"},
        {WSAEDQUOT, "Disc quota exceeded"},
        {WSAESTALE, "Stale NFS file handle"},
        {WSAEREMOTE, "Too many levels of remote in path"},
        {WSASYSNOTREADY, "Network sub-system is unusable"},
        {WSAVERNOTSUPPORTED, "WinSock DLL cannot support this application"},
        {WSANOTINITIALISED, "WinSock not initialized"},
        {WSAHOST_NOT_FOUND, "Host not found"},
        {WSATRY_AGAIN, "Non-authoritative host not found"},
        {WSANO_RECOVERY, "Non-recoverable error"},
        {WSANO_DATA, "No Data"},
    };
    return texts;
}

}  // namespace

int ErrorFromErrno(int errnoValue) {
    for (const auto& e : kErrnoTable)
        if (e.errnoValue == errnoValue)
            return e.code;
    return WSABASEERR + errnoValue;
}

int ErrorFromResolver(int eaiCode, int sysErrno) {
    switch (eaiCode) {
        case 0:
            return 0;
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
#endif
            // A name that exists without an IPv4 address is as useless here as no name.
            return eaiCode == EAI_NONAME ? WSAHOST_NOT_FOUND : WSANO_DATA;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_FAMILY:
            return WSAEAFNOSUPPORT;
        case EAI_SYSTEM:
            return ErrorFromErrno(sysErrno);
        default:
            return WSANO_RECOVERY;
    }
}

std::string ErrorText(int code) {
    auto it = Texts().find(code);
    return it == Texts().end() ? "Not a WinSock error" : it->second;
}

}  // namespace sys::winsock
