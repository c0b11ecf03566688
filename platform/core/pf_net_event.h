// Network events: a manual-reset event that sockets can be associated with (event
// select), so that a thread waits on its sockets and on its input queue in one wait.
// Each associated socket records which network events happened, with an error code
// each; the enum call reads and clears that record.
//
// Reporting follows the interface the gateway was written against, not the raw
// level-triggered readiness of poll(): an event is reported once and then stays quiet
// until the call that re-enables it (FD_READ and FD_OOB: a receive; FD_WRITE: a send
// that would block; FD_ACCEPT: an accept). FD_WRITE comes once when a connection is
// made or accepted; FD_CONNECT comes with the outcome of a non-blocking connect;
// FD_CLOSE comes once, with 0 when the peer closed after all data was read, or with the
// error (10054 for a reset). Socket events are gathered while a thread waits on the
// event, and a new association clears the socket's record.
#pragma once

#include <cstdint>

struct pf_net_event;
struct pf_waitable;

enum : int32_t
{
    PF_FD_READ = 1,
    PF_FD_WRITE = 2,
    PF_FD_OOB = 4,
    PF_FD_ACCEPT = 8,
    PF_FD_CONNECT = 16,
    PF_FD_CLOSE = 32,
    PF_FD_ALL_EVENTS = 63,
};

enum
{
    PF_FD_READ_BIT = 0,
    PF_FD_WRITE_BIT = 1,
    PF_FD_OOB_BIT = 2,
    PF_FD_ACCEPT_BIT = 3,
    PF_FD_CONNECT_BIT = 4,
    PF_FD_CLOSE_BIT = 5,
    PF_FD_MAX_EVENTS = 10,
};

// A new event, not signalled. Null with the last error set.
pf_net_event *pf_net_event_create();
// Also ends the association of every socket still associated with it.
void pf_net_event_destroy(pf_net_event *event);
bool pf_net_event_set(pf_net_event *event);
// Clears what pf_net_event_set signalled. The event stays signalled while an associated
// socket has recorded events that nobody has read yet.
bool pf_net_event_reset(pf_net_event *event);
pf_waitable *pf_net_event_waitable(pf_net_event *event);

// Associates the socket with the event for the events in the mask (PF_FD_* bits) and
// makes it non-blocking; a mask of 0 ends the association. 0, or -1 with the last error.
int32_t pf_net_event_select(int fd, pf_net_event *event, int32_t mask);
// Reads and clears the socket's record: the mask of events and the error code of each
// (errors[PF_FD_*_BIT]). 0, or -1 with last error 10038 when fd is not a socket.
int32_t pf_net_event_enum(int fd, int32_t *events, int32_t errors[PF_FD_MAX_EVENTS]);

// Told by the socket layer, which makes every socket of the gateway: what it tells is
// remembered, so that an association asks the kernel nothing about such a socket.
void pf_net_socket_on_create(int fd);
void pf_net_socket_on_close(int fd);
void pf_net_socket_on_listen(int fd);
void pf_net_socket_on_connect(int fd, bool pending);
// accepted: -1 when the accept failed; nonblocking: the accepted socket's mode.
void pf_net_socket_on_accept(int listener, int accepted, bool nonblocking);
void pf_net_socket_on_blocking_mode(int fd, bool nonblocking);
void pf_net_socket_on_recv(int fd);
void pf_net_socket_on_send_blocked(int fd);
