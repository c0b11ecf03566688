// interface_info: the gateway's end of the console protocol. It answers the user and box
// information requests of the interactive console, turns the restart request into the
// gateway's orderly stop (EA_RESTART), keeps the day's console event log file, and sends
// every console event raised on shared queue 19 to the realtime console. Only the
// interface thread uses it; the two loopback listeners are interface_nw_info objects.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/ea_status.h"
#include "gateway/interface_module/interface_nw_info.h"
#include "gateway/interface_module/interface_thread.h"
#include "platform/core/pf_log_file.h"

struct logger_object;
struct message;
struct queue;
struct user_session_info_container;
struct box_comm_info_container;
struct user_link_info;

enum
{
    INTERFACE_EVENT_LOG_FILE_SIZE = 260,
};

struct interface_info
{
    struct user_session_info_container *user_session_info_container; // read for user information
    struct box_comm_info_container *box_comm_info_container;         // box id and per-link box status
    struct user_link_info *user_link_info;                           // number of links
    char event_log_file[INTERFACE_EVENT_LOG_FILE_SIZE];
    FILE *event_log;
    // Length of the file's whole records (day field included); a write cut short is
    // truncated back to it so that every later event stays on a record boundary.
    uint64_t event_log_size;
    // When the file was last seen under its name, and the events written into it since: a
    // file found without it (its folder removed) is made again, and says what went with it.
    pf_log_name_watch event_log_name;
    // The events the file could not take, for the replays and the file once it takes them;
    // and how many the hold had let go before the file's present spell of failing writes.
    struct interface_event_hold *held_events;
    uint64_t let_go_before_spell;
    pf_log_write_watch event_log_writes; // the file's spell of failing writes
    message *kova_version_check_message;
    // The realtime listener, whose consoles' lines the replay's lines join (set by the
    // interface thread; none: written at once).
    struct interface_nw_info *realtime_listener;
};

interface_info *interface_info_create(const char *config_file, user_session_info_container *user_sessions,
                                      box_comm_info_container *box_container, user_link_info *link_table,
                                      logger_object *logger);
ea_status interface_info_create_kova_event_log_file(interface_info *info, logger_object *logger);
// The day's new file: the events held from the day before go with the old one.
ea_status interface_info_new_day(interface_info *info, logger_object *logger);
// Handles everything waiting in the three input queues: 0, EA_ERROR or EA_RESTART.
ea_status interface_info_process_message(interface_info *info, queue *notifications, queue *realtime_input,
                                         queue *interactive_input, queue *interactive_output,
                                         queue *realtime_output, logger_object *logger);
ea_status interface_info_get_active_user_list(interface_info *info, const message *request,
                                              queue *interactive_output, logger_object *logger);
ea_status interface_info_get_box_info(interface_info *info, const message *request, queue *interactive_output,
                                      logger_object *logger);
void interface_info_destroy(interface_info *info);
