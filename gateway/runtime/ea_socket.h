// Socket helpers in the gateway's status codes, and the network-event record that a
// network thread reads after its wait. Error numbers are the Windows Sockets codes that
// the network layers compare (10035 would block, 10004 interrupted, ...), so the layers
// above read as written for that interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ea_status.h"

// Network event bits (values of the Windows Sockets FD_ bits).
enum : int32_t
{
    EA_FD_READ = 1,
    EA_FD_WRITE = 2,
    EA_FD_OOB = 4,
    EA_FD_ACCEPT = 8,
    EA_FD_CONNECT = 16,
    EA_FD_CLOSE = 32,
};

// Windows Sockets error codes the gateway's network layers test for.
enum : int32_t
{
    EA_WSAEINTR = 10004,
    EA_WSAEWOULDBLOCK = 10035,
    EA_WSAEINPROGRESS = 10036,
    EA_WSAENETRESET = 10052,
    EA_WSAECONNABORTED = 10053,
    EA_WSAECONNRESET = 10054,
    EA_WSAENOTCONN = 10057,
    EA_WSAESHUTDOWN = 10058,
    EA_WSAECONNREFUSED = 10061,
};

// Arguments of ea_socket (the same numbers on both platforms).
enum : int32_t
{
    EA_AF_INET = 2,
    EA_SOCK_STREAM = 1,
    EA_IPPROTO_TCP = 6,
};

enum
{
    EA_INVALID_SOCKET = -1,
    EA_SOCKET_ERROR = -1,
};

// Socket option codes of ea_setsockopt.
enum : int32_t
{
    EA_SOCKOPT_TCP_NODELAY = 10,
    EA_SOCKOPT_NONBLOCKING = 20,
    EA_SOCKOPT_KEEPALIVE = 30,
    EA_SOCKOPT_REUSEADDR = 40,
};

// Bit positions of the per-event error codes in ea_network_events.
enum
{
    EA_FD_READ_BIT = 0,
    EA_FD_WRITE_BIT = 1,
    EA_FD_OOB_BIT = 2,
    EA_FD_ACCEPT_BIT = 3,
    EA_FD_CONNECT_BIT = 4,
    EA_FD_CLOSE_BIT = 5,
    EA_FD_MAX_EVENTS = 10,
};

// Recorded network events of one socket: a mask of EA_FD_* bits and one error code per event.
struct ea_network_events
{
    int32_t network_events;
    int32_t error_code[EA_FD_MAX_EVENTS];
};

ea_status ea_socket_init(char *text, uint32_t *length);
ea_status ea_socket_cleanup();
int32_t ea_setsockopt(int32_t socket, int32_t option_code);
int32_t ea_enum_network_events(int32_t socket, ea_network_events *events);
int32_t ea_check_network_event(const ea_network_events *events, int32_t event_bit, int32_t *error_out);

// Thin wrappers named as the layers' log texts name them. They return what the BSD call
// returns (-1 on failure); ea_socket_last_error() then gives the Windows Sockets code.
int32_t ea_socket(int32_t domain, int32_t type, int32_t protocol);
int32_t ea_bind(int32_t socket, const char *ip_address, uint16_t port);
int32_t ea_listen(int32_t socket, int32_t backlog);
int32_t ea_accept(int32_t socket, char *peer_ip_out, size_t peer_ip_size, uint16_t *peer_port_out);
int32_t ea_connect(int32_t socket, const char *ip_address, uint16_t port);
int32_t ea_recv(int32_t socket, void *buffer, int32_t length);
int32_t ea_send(int32_t socket, const void *buffer, int32_t length);
int32_t ea_closesocket(int32_t socket);
// 1 when the peer has closed or reset the connection (what it sent before may still wait
// to be read), else 0.
int32_t ea_socket_peer_ended(int32_t socket);
// Dotted address to a network-order 32-bit value; 0xFFFFFFFF when it is not one.
uint32_t ea_inet_addr(const char *ip_address);
// A network-order 32-bit address as dotted text.
void ea_inet_ntoa(uint32_t address, char *text, size_t size);
int32_t ea_socket_last_error();
// Text of a socket error code, for log lines.
const char *ea_socket_error_text(int32_t error_code);
