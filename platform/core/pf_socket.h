// Sockets: the BSD calls with Windows Sockets behaviour where the gateway relies on it.
// Every failure sets the last error to a Windows Sockets number (10035 would block,
// 10004 interrupted, 10054 reset, 10061 refused, ...); a non-blocking connect that is
// under way reports 10035, as there. Sends never raise SIGPIPE, and the first start-up
// (or socket) ignores SIGPIPE for the whole process.
#pragma once

#include <cstddef>
#include <cstdint>

// Starts the socket library. 0 and the version in *version_out (2.0 here, as 0x0002 with
// the major number in the low byte), or a Windows Sockets start-up error number.
// *description is the library's description text.
int32_t pf_socket_startup(uint16_t requested_version, uint16_t *version_out, const char **description);
int32_t pf_socket_cleanup();
// For tests: the next start-ups report this error (0 for none) and version.
void pf_socket_set_startup_result(int32_t error, uint16_t version);

// A socket made here (or by pf_socket_accept) is closed with pf_socket_close, never with a
// plain close(): the network events (pf_net_event.h) remember by descriptor number what the
// socket layer tells them of its sockets (listening, connected, non-blocking), and only
// pf_socket_close makes them forget. A number closed behind their back that comes back for
// a socket made elsewhere is found out by the socket's identity when it is associated with
// another event than the one the closed socket had, and what was remembered is dropped
// then; debug builds check every association, re-arms on the same event included.
int pf_socket_create(int domain, int type, int protocol);
// Addresses are IPv4 in network order; port in host order. Stream sockets get
// SO_REUSEADDR before binding, so a listener can come back while old connections linger.
int pf_socket_bind(int fd, uint32_t address, uint16_t port);
int pf_socket_listen(int fd, int backlog);
// The port a socket is bound to (the one the system chose after a bind to port 0).
int pf_socket_local_port(int fd, uint16_t *port);
// Address and port of the peer may be null. Never fails for a connection aborted before it
// was taken nor for a signal during the wait: it tries again.
int pf_socket_accept(int fd, uint32_t *peer_address, uint16_t *peer_port);
int pf_socket_connect(int fd, uint32_t address, uint16_t port);
int pf_socket_send(int fd, const void *buffer, int32_t length);
int pf_socket_recv(int fd, void *buffer, int32_t length);
int pf_socket_close(int fd);

enum pf_socket_option
{
    PF_SOCKET_TCP_NODELAY,
    PF_SOCKET_KEEPALIVE,
    PF_SOCKET_REUSEADDR,
};

int pf_socket_set_option(int fd, pf_socket_option option, bool on);
int pf_socket_set_nonblocking(int fd, bool on);
// The local port a socket is bound to (a listener bound to port 0 learns its port); 0
// on failure.
uint16_t pf_socket_local_port(int fd);
// Closes a connected socket with a reset instead of an orderly close, as a peer that
// aborts its connection.
int pf_socket_close_reset(int fd);
// The socket's pending error as a Windows Sockets number, 0 when none (reading it clears
// it): the outcome of a non-blocking connect once the socket turns writable.
uint32_t pf_socket_pending_error(int fd);

// Ends a connection's sending side: its FIN goes out, and the socket still reads.
int pf_socket_shutdown_send(int fd);

// Whether the peer has ended the connection: its FIN or a reset has arrived. What it sent
// before may still wait to be read; nothing is read or cleared here.
bool pf_socket_peer_ended(int fd);

// What became of the FIN of a connection whose sending side was shut down. It tells whether
// the peer's system holds the connection at all, which a successful connect does not: a
// listener whose accept queue is full drops the handshake's last ACK while the connecting
// side takes itself for connected, and the listener's system acknowledges nothing (the FIN
// included) until a later segment of the connection finds room, if one ever does before its
// half-open request expires.
enum pf_fin_state
{
    PF_FIN_UNACKNOWLEDGED, // not yet (or not sent), and the connection is still open
    PF_FIN_ACKNOWLEDGED,   // the peer's system holds the connection, or held it until its close
    PF_FIN_FAILED,         // the connection ended without it (reset, timed out), or no connection
};
pf_fin_state pf_socket_fin_state(int fd);

// Dotted IPv4 text to network order; 0xFFFFFFFF when it is not an address.
uint32_t pf_inet_addr(const char *text);
// Network-order address to dotted text.
void pf_inet_ntoa(uint32_t address, char *text, size_t size);

// Ignores SIGPIPE process-wide (once).
void pf_ignore_sigpipe();
