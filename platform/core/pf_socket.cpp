// BSD sockets behind the Windows Sockets conventions the gateway expects, and the hooks
// that keep the network-event records in step (a receive re-enables FD_READ, a send that
// would block re-enables FD_WRITE, an accept re-enables FD_ACCEPT).
#include "platform/core/pf_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
// The kernel's own header, for the TCP_INFO fields that glibc's copy lacks.
#include <linux/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "platform/core/pf_error.h"
#include "platform/core/pf_net_event.h"

namespace
{
std::atomic<int32_t> g_startup_error{0};
std::atomic<uint16_t> g_startup_version{0x0002};

int fail_with_errno()
{
    pf_set_last_error(pf_wsa_error_from_errno(errno));
    return -1;
}

sockaddr_in make_address(uint32_t address, uint16_t port)
{
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

bool is_stream(int fd)
{
    int type = 0;
    socklen_t size = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
}

// TCP_CLOSE of the kernel's connection states: glibc names them in a header that cannot
// stand beside the kernel's.
const uint8_t k_tcp_closed = 7;

bool is_nonblocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}
} // namespace

void pf_ignore_sigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

int32_t pf_socket_startup(uint16_t requested_version, uint16_t *version_out, const char **description)
{
    (void)requested_version;
    pf_ignore_sigpipe();
    *description = "Linux BSD sockets";
    *version_out = g_startup_version.load();
    return g_startup_error.load();
}

int32_t pf_socket_cleanup()
{
    return 0;
}

void pf_socket_set_startup_result(int32_t error, uint16_t version)
{
    g_startup_error.store(error);
    g_startup_version.store(version);
}

int pf_socket_create(int domain, int type, int protocol)
{
    pf_ignore_sigpipe();
    int fd = socket(domain, type | SOCK_CLOEXEC, protocol);
    if (fd < 0)
    {
        return fail_with_errno();
    }
    pf_net_socket_on_create(fd);
    return fd;
}

int pf_socket_bind(int fd, uint32_t address, uint16_t port)
{
    if (is_stream(fd))
    {
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in sa = make_address(address, port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0)
    {
        return fail_with_errno();
    }
    return 0;
}

int pf_socket_listen(int fd, int backlog)
{
    if (listen(fd, backlog) != 0)
    {
        return fail_with_errno();
    }
    pf_net_socket_on_listen(fd);
    return 0;
}

int pf_socket_local_port(int fd, uint16_t *port)
{
    sockaddr_in sa = {};
    socklen_t size = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size) != 0)
    {
        return fail_with_errno();
    }
    *port = ntohs(sa.sin_port);
    return 0;
}

int pf_socket_accept(int fd, uint32_t *peer_address, uint16_t *peer_port)
{
    sockaddr_in sa = {};
    socklen_t size = sizeof sa;
    // The accepted socket inherits the listener's blocking mode, as on Windows Sockets.
    bool nonblocking = is_nonblocking(fd);
    int flags = SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0);
    // Neither a connection its peer aborted before it was taken nor a signal during the
    // wait ends the accept: it tries again, so that its callers hear only of the listener.
    int accepted;
    do
    {
        accepted = accept4(fd, reinterpret_cast<sockaddr *>(&sa), &size, flags);
    } while (accepted < 0 && (errno == ECONNABORTED || errno == EINTR));
    if (accepted < 0)
    {
        int error = errno;
        pf_net_socket_on_accept(fd, -1, false);
        errno = error;
        return fail_with_errno();
    }
    pf_net_socket_on_accept(fd, accepted, nonblocking);
    if (peer_address != nullptr)
    {
        *peer_address = sa.sin_addr.s_addr;
    }
    if (peer_port != nullptr)
    {
        *peer_port = ntohs(sa.sin_port);
    }
    return accepted;
}

int pf_socket_connect(int fd, uint32_t address, uint16_t port)
{
    sockaddr_in sa = make_address(address, port);
    bool nonblocking = is_nonblocking(fd);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0)
    {
        if (errno == EINPROGRESS)
        {
            pf_net_socket_on_connect(fd, true);
            pf_set_last_error(PF_WSAEWOULDBLOCK);
            return -1;
        }
        return fail_with_errno();
    }
    // A non-blocking connect that completes at once still reports FD_CONNECT.
    pf_net_socket_on_connect(fd, nonblocking);
    return 0;
}

int pf_socket_send(int fd, const void *buffer, int32_t length)
{
    if (length < 0)
    {
        pf_set_last_error(PF_WSAEINVAL);
        return -1;
    }
    ssize_t sent = send(fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0)
    {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
        {
            pf_net_socket_on_send_blocked(fd);
        }
        return fail_with_errno();
    }
    return static_cast<int>(sent);
}

int pf_socket_recv(int fd, void *buffer, int32_t length)
{
    if (length < 0)
    {
        pf_set_last_error(PF_WSAEINVAL);
        return -1;
    }
    ssize_t got = recv(fd, buffer, static_cast<size_t>(length), 0);
    int error = errno;
    pf_net_socket_on_recv(fd);
    if (got < 0)
    {
        errno = error;
        return fail_with_errno();
    }
    return static_cast<int>(got);
}

int pf_socket_close(int fd)
{
    pf_net_socket_on_close(fd);
    if (close(fd) != 0)
    {
        return fail_with_errno();
    }
    return 0;
}

int pf_socket_set_option(int fd, pf_socket_option option, bool on)
{
    int value = on ? 1 : 0;
    int rc;
    switch (option)
    {
    case PF_SOCKET_TCP_NODELAY:
        rc = setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
        break;
    case PF_SOCKET_KEEPALIVE:
        rc = setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
        break;
    case PF_SOCKET_REUSEADDR:
        rc = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value);
        break;
    default:
        pf_set_last_error(PF_WSAENOPROTOOPT);
        return -1;
    }
    return rc == 0 ? 0 : fail_with_errno();
}

int pf_socket_set_nonblocking(int fd, bool on)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
    {
        return fail_with_errno();
    }
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(fd, F_SETFL, flags) != 0)
    {
        return fail_with_errno();
    }
    pf_net_socket_on_blocking_mode(fd, on);
    return 0;
}

uint16_t pf_socket_local_port(int fd)
{
    sockaddr_in sa = {};
    socklen_t size = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size) != 0)
    {
        fail_with_errno();
        return 0;
    }
    return ntohs(sa.sin_port);
}

int pf_socket_close_reset(int fd)
{
    linger abort_on_close = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    return pf_socket_close(fd);
}

uint32_t pf_socket_pending_error(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
    {
        return pf_wsa_error_from_errno(errno);
    }
    return error == 0 ? 0 : pf_wsa_error_from_errno(error);
}

int pf_socket_shutdown_send(int fd)
{
    if (shutdown(fd, SHUT_WR) != 0)
    {
        return fail_with_errno();
    }
    return 0;
}

bool pf_socket_peer_ended(int fd)
{
    pollfd watched = {fd, POLLRDHUP, 0};
    return poll(&watched, 1, 0) == 1 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

pf_fin_state pf_socket_fin_state(int fd)
{
    tcp_info info = {};
    socklen_t size = sizeof info;
    // A system too old to count the bytes below says nothing about the FIN.
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < offsetof(tcp_info, tcpi_bytes_retrans) + sizeof info.tcpi_bytes_retrans)
    {
        return PF_FIN_FAILED;
    }
    // The peer acknowledges the SYN and the FIN as one byte each beside the data, and the
    // count outlives the connection, so that a close and a reset are told apart here.
    const uint64_t data = info.tcpi_bytes_sent - info.tcpi_bytes_retrans;
    if (info.tcpi_bytes_acked >= data + 2)
    {
        return PF_FIN_ACKNOWLEDGED;
    }
    return info.tcpi_state == k_tcp_closed ? PF_FIN_FAILED : PF_FIN_UNACKNOWLEDGED;
}

uint32_t pf_inet_addr(const char *text)
{
    in_addr address;
    if (text == nullptr || inet_aton(text, &address) == 0)
    {
        return 0xFFFFFFFFu;
    }
    return address.s_addr;
}

void pf_inet_ntoa(uint32_t address, char *text, size_t size)
{
    in_addr a;
    a.s_addr = address;
    if (inet_ntop(AF_INET, &a, text, static_cast<socklen_t>(size)) == nullptr && size > 0)
    {
        text[0] = '\0';
    }
}
