// The thread-local last error and the errno to Windows Sockets mapping.
#include "platform/core/pf_error.h"

#include <cerrno>

namespace
{
thread_local uint32_t t_last_error = PF_ERROR_SUCCESS;

struct error_entry
{
    int errno_value;
    uint32_t wsa;
    const char *text;
};

// EINPROGRESS is not here: a non-blocking connect reports 10035 as Windows Sockets does,
// and the socket layer handles that case itself.
const error_entry k_errors[] = {
    {EINTR, PF_WSAEINTR, "Interrupted function call"},
    {EBADF, PF_WSAEBADF, "Bad file handle"},
    {EACCES, PF_WSAEACCES, "Permission denied"},
    {EPERM, PF_WSAEACCES, "Permission denied"},
    {EFAULT, PF_WSAEFAULT, "Bad address"},
    {EINVAL, PF_WSAEINVAL, "Invalid argument"},
    {EMFILE, PF_WSAEMFILE, "Too many open files"},
    {ENFILE, PF_WSAEMFILE, "Too many open files"},
    {EAGAIN, PF_WSAEWOULDBLOCK, "Resource temporarily unavailable"},
    {EALREADY, PF_WSAEALREADY, "Operation already in progress"},
    {ENOTSOCK, PF_WSAENOTSOCK, "Socket operation on nonsocket"},
    {EDESTADDRREQ, PF_WSAEDESTADDRREQ, "Destination address required"},
    {EMSGSIZE, PF_WSAEMSGSIZE, "Message too long"},
    {EPROTOTYPE, PF_WSAEPROTOTYPE, "Protocol wrong type for socket"},
    {ENOPROTOOPT, PF_WSAENOPROTOOPT, "Bad protocol option"},
    {EPROTONOSUPPORT, PF_WSAEPROTONOSUPPORT, "Protocol not supported"},
    {ESOCKTNOSUPPORT, PF_WSAESOCKTNOSUPPORT, "Socket type not supported"},
    {EOPNOTSUPP, PF_WSAEOPNOTSUPP, "Operation not supported"},
    {EAFNOSUPPORT, PF_WSAEAFNOSUPPORT, "Address family not supported by protocol family"},
    {EADDRINUSE, PF_WSAEADDRINUSE, "Address already in use"},
    {EADDRNOTAVAIL, PF_WSAEADDRNOTAVAIL, "Cannot assign requested address"},
    {ENETDOWN, PF_WSAENETDOWN, "Network is down"},
    {ENETUNREACH, PF_WSAENETUNREACH, "Network is unreachable"},
    {ENETRESET, PF_WSAENETRESET, "Network dropped connection on reset"},
    {ECONNABORTED, PF_WSAECONNABORTED, "Software caused connection abort"},
    {ECONNRESET, PF_WSAECONNRESET, "Connection reset by peer"},
    {EPIPE, PF_WSAECONNRESET, "Connection reset by peer"},
    {ENOBUFS, PF_WSAENOBUFS, "No buffer space available"},
    {ENOMEM, PF_WSAENOBUFS, "No buffer space available"},
    {EISCONN, PF_WSAEISCONN, "Socket is already connected"},
    {ENOTCONN, PF_WSAENOTCONN, "Socket is not connected"},
    {ESHUTDOWN, PF_WSAESHUTDOWN, "Cannot send after socket shutdown"},
    {ETIMEDOUT, PF_WSAETIMEDOUT, "Connection timed out"},
    {ECONNREFUSED, PF_WSAECONNREFUSED, "Connection refused"},
    {EHOSTDOWN, PF_WSAEHOSTDOWN, "Host is down"},
    {EHOSTUNREACH, PF_WSAEHOSTUNREACH, "No route to host"},
};

struct text_entry
{
    uint32_t code;
    const char *text;
};

const text_entry k_other_texts[] = {
    {PF_ERROR_SUCCESS, "The operation completed successfully"},
    {PF_ERROR_ACCESS_DENIED, "Access is denied"},
    {PF_ERROR_INVALID_HANDLE, "The handle is invalid"},
    {PF_ERROR_NOT_ENOUGH_MEMORY, "Not enough memory"},
    {PF_ERROR_INVALID_PARAMETER, "The parameter is incorrect"},
    {PF_ERROR_SIGNAL_REFUSED, "The signal is refused"},
    {PF_ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller"},
    {PF_ERROR_TOO_MANY_POSTS, "Too many posts were made to a semaphore"},
    {PF_WSAEINPROGRESS, "Operation now in progress"},
    {PF_WSAEPROCLIM, "Too many processes"},
    {PF_WSASYSNOTREADY, "Network subsystem is unavailable"},
    {PF_WSAVERNOTSUPPORTED, "Winsock.dll version out of range"},
};
} // namespace

uint32_t pf_get_last_error()
{
    return t_last_error;
}

void pf_set_last_error(uint32_t error)
{
    t_last_error = error;
}

uint32_t pf_wsa_error_from_errno(int error)
{
    if (error == EINPROGRESS)
    {
        return PF_WSAEINPROGRESS;
    }
    for (const error_entry &entry : k_errors)
    {
        if (entry.errno_value == error)
        {
            return entry.wsa;
        }
    }
    return PF_WSAEINVAL;
}

const char *pf_error_text(uint32_t error)
{
    for (const error_entry &entry : k_errors)
    {
        if (entry.wsa == error)
        {
            return entry.text;
        }
    }
    for (const text_entry &entry : k_other_texts)
    {
        if (entry.code == error)
        {
            return entry.text;
        }
    }
    return "Unknown error";
}
