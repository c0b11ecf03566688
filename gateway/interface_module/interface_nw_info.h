// interface_nw_info: a console listener on 127.0.0.1. It admits a limited number of
// consoles (one for each of the gateway's two listeners), reads their packets into
// records, sends records to one console or to all of them (handle -200), and drops a
// console that has not taken a packet within the send time-out, or at once when a send
// finds that it reset or closed the connection. Single-threaded: only the interface thread
// uses it.
#pragma once

#include <cstdint>

#include "common/ea_status.h"

struct ea_sync_info;
struct interface_nw_handle;
struct log_hold;
struct log_hold_entry;
struct logger_object;
struct message;
struct queue;

enum
{
    INTERFACE_BIND_ADDRESS_SIZE = 16,
    INTERFACE_SEND_TIMEOUT_SECONDS = 100,
    INTERFACE_LISTEN_BACKLOG = 5,
    INTERFACE_READ_SET_SIZE = 64,
    INTERFACE_ALL_CLIENTS = -200, // network handle of a record for every client
    INTERFACE_CONSOLE_SETTLED_MS = 1000,
};

struct interface_nw_info
{
    char bind_address[INTERFACE_BIND_ADDRESS_SIZE];
    uint16_t port;
    int32_t listen_socket;
    queue *waiting_sockets;           // accepted sockets not yet added, as intptr_t
    interface_nw_handle *client_list; // entries 0..nclients-1 in use, ascending by handle
    // The read set: the clients' sockets are associated with this network event for their
    // read and close events; a wait on it stands for the select over the set.
    ea_sync_info *read_event;
    uint32_t read_set_count;
    uint32_t nclients;
    uint32_t client_limit;
    int32_t next_handle;
    uint16_t wrapped;
    uint32_t total_pending;
    int32_t round_robin; // index of the client last read; -1 at first
    uint32_t receive_counter;
    uint32_t send_timeout; // seconds
    // What is written about a console is held until it sends a packet or has stayed
    // INTERFACE_CONSOLE_SETTLED_MS (log_hold.h): a console that connects and goes at once,
    // again and again, cannot fill the log, while one that stays has its story whole.
    log_hold *held_lines;
    int32_t last_added_handle; // the console the last admission added; -1 none
};

interface_nw_info *interface_nw_info_create(uint32_t client_limit, uint16_t port, logger_object *logger);
ea_status interface_nw_info_start(interface_nw_info *listener, logger_object *logger);
// Accepts one pending connection: 0 when a socket was queued, 203 when there was none or it
// was refused (client limit), EA_ERROR. *waiting_count is the number of queued sockets. A
// console is refused while the listener's consoles are all connected; one that comes when a
// console in use has closed its end (with packets perhaps still to be read) is queued and
// waits for that console's place, so that what it sends at once is not lost.
ea_status interface_nw_info_get_client(interface_nw_info *listener, uint32_t *waiting_count, uint32_t wait_ms,
                                       logger_object *logger);
// Adds the queued sockets as clients while the listener has places and sends each a copy
// of `version_check`: 0 when one was added or none waited, 203 when none could be added
// (those left wait for a place), EA_ERROR.
ea_status interface_nw_info_process_incoming_clients(interface_nw_info *listener, uint32_t add,
                                                     const message *version_check, logger_object *logger);
ea_status interface_nw_info_add_new_client(interface_nw_info *listener, int32_t socket, int32_t *handle_out,
                                           logger_object *logger);
// Reads at most `most_packets` complete packets into `input`: 0 when one was queued, 203 when
// none, EA_ERROR.
ea_status interface_nw_info_recv_mesg(interface_nw_info *listener, queue *input, uint32_t most_packets,
                                      uint32_t wait_ms, logger_object *logger);
// Sends to the record's network handle, or to every client for -200; takes the record.
// 0 or 203, -1 when the handle is unknown (record dropped), EA_ERROR.
ea_status interface_nw_info_send_mesg(interface_nw_info *listener, message *record, logger_object *logger);
// Continues unfinished sends and drops consoles past the send time-out: 0 when nothing is
// left, 203 when something is, EA_ERROR.
ea_status interface_nw_info_send_pending(interface_nw_info *listener, logger_object *logger);
ea_status interface_nw_info_disconnect_client(interface_nw_info *listener, int32_t network_handle,
                                              logger_object *logger);
ea_status interface_nw_info_del_client(interface_nw_info *listener, int32_t index, logger_object *logger);
ea_status interface_nw_info_get_interface_nw_handle_index(interface_nw_info *listener, int32_t network_handle,
                                                          int32_t *index_out, logger_object *logger);
ea_status interface_nw_info_get_new_handle(interface_nw_info *listener, int32_t *handle_out,
                                           logger_object *logger);
// 1 when the client at `index` is in the working copy of the read set.
int32_t interface_nw_info_isclient_ready(interface_nw_info *listener, int32_t index, logger_object *logger);
// The select over the read set: marks the ready clients. 0 with *ready_count, or EA_ERROR.
ea_status interface_nw_info_init_recv_list(interface_nw_info *listener, uint32_t wait_ms,
                                           uint32_t *ready_count, logger_object *logger);
// Every pass: the consoles that have stayed long enough have what was held about them
// written, and the counts of the others are written when due.
void interface_nw_info_watch_consoles(interface_nw_info *listener, const char *routine,
                                      logger_object *logger);
// Whether the console of that handle is still connected, and where the lines about it go
// (*held: its held entry, or null: written at once).
bool interface_nw_info_console_of(interface_nw_info *listener, int32_t network_handle, log_hold_entry **held);
// At the thread's stop: what is still held is settled and every count written now.
void interface_nw_info_stop_lines(interface_nw_info *listener, const char *routine, logger_object *logger);
void interface_nw_info_destroy(interface_nw_info *listener);
