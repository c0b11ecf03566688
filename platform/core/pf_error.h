// The calling thread's last platform error, in the Windows numbering the gateway was
// written against (the callers compare 298 "too many posts", 10035 "would block", ...).
// Every pf_ call that fails sets it; a successful call leaves it alone.
#pragma once

#include <cstdint>

enum : uint32_t
{
    PF_ERROR_SUCCESS = 0,
    PF_ERROR_ACCESS_DENIED = 5,
    PF_ERROR_INVALID_HANDLE = 6,
    PF_ERROR_NOT_ENOUGH_MEMORY = 8,
    PF_ERROR_INVALID_PARAMETER = 87,
    PF_ERROR_NOT_OWNER = 288,
    PF_ERROR_TOO_MANY_POSTS = 298,
    PF_ERROR_SIGNAL_REFUSED = 156,
};

// Windows Sockets error numbers.
enum : uint32_t
{
    PF_WSAEINTR = 10004,
    PF_WSAEBADF = 10009,
    PF_WSAEACCES = 10013,
    PF_WSAEFAULT = 10014,
    PF_WSAEINVAL = 10022,
    PF_WSAEMFILE = 10024,
    PF_WSAEWOULDBLOCK = 10035,
    PF_WSAEINPROGRESS = 10036,
    PF_WSAEALREADY = 10037,
    PF_WSAENOTSOCK = 10038,
    PF_WSAEDESTADDRREQ = 10039,
    PF_WSAEMSGSIZE = 10040,
    PF_WSAEPROTOTYPE = 10041,
    PF_WSAENOPROTOOPT = 10042,
    PF_WSAEPROTONOSUPPORT = 10043,
    PF_WSAESOCKTNOSUPPORT = 10044,
    PF_WSAEOPNOTSUPP = 10045,
    PF_WSAEAFNOSUPPORT = 10047,
    PF_WSAEADDRINUSE = 10048,
    PF_WSAEADDRNOTAVAIL = 10049,
    PF_WSAENETDOWN = 10050,
    PF_WSAENETUNREACH = 10051,
    PF_WSAENETRESET = 10052,
    PF_WSAECONNABORTED = 10053,
    PF_WSAECONNRESET = 10054,
    PF_WSAENOBUFS = 10055,
    PF_WSAEISCONN = 10056,
    PF_WSAENOTCONN = 10057,
    PF_WSAESHUTDOWN = 10058,
    PF_WSAETIMEDOUT = 10060,
    PF_WSAECONNREFUSED = 10061,
    PF_WSAEHOSTDOWN = 10064,
    PF_WSAEHOSTUNREACH = 10065,
    PF_WSAEPROCLIM = 10067,
    PF_WSASYSNOTREADY = 10091,
    PF_WSAVERNOTSUPPORTED = 10092,
};

uint32_t pf_get_last_error();
void pf_set_last_error(uint32_t error);

// Windows Sockets number for a socket call's errno (WSAEINVAL for one without a match).
uint32_t pf_wsa_error_from_errno(int error);
// Short English text of a Windows Sockets or platform error number, for log lines.
const char *pf_error_text(uint32_t error);
