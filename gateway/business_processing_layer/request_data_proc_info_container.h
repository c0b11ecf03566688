// request_data_proc_info_container: the request processing module. It packs each
// outbound business record, in trimmed form, into the packet of its host link, and lets
// a packet leave when the host network thread pulls one or when the packet is full.
// Records that are not data (box messages, flushes) pass through.
#pragma once

#include <cstdint>

#include "common/ea_status.h"
#include "gateway/runtime/ea_flag.h"

struct data_proc_info;
struct logger_object;
struct queue;
struct shared_queue;

enum
{
    REQUEST_PACKER_CAPACITY = 278,
};

struct request_data_proc_info_container
{
    data_proc_info **packers; // data_proc_info: one packer per link
    uint16_t number_of_links;
    ea_flag *box_rate_control_count;   // entry limit per link; below 1 means only the limit of 4
    uint32_t *pull_notification_flags; // 1: the link asked for a packet while its packer was empty
    uint32_t packet_counter;
};

struct request_data_processing_thread_args
{
    shared_queue *from_user_session;  // shared queue 4
    shared_queue *to_host_session;    // shared queue 5
    shared_queue *pull_notifications; // shared queue 17
    request_data_proc_info_container *container;
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

request_data_proc_info_container *request_data_proc_info_container_create(uint16_t number_of_links,
                                                                          ea_flag *box_rate_control_count,
                                                                          logger_object *logger);
void request_data_proc_info_container_destroy(request_data_proc_info_container *container);
ea_status request_data_proc_info_container_process_notifications(request_data_proc_info_container *container,
                                                                 queue *input, queue *output,
                                                                 logger_object *logger);
ea_status
request_data_proc_info_container_process_request_messages(request_data_proc_info_container *container,
                                                          queue *input, queue *output, logger_object *logger);

uint32_t request_data_processing_thread(void *argument);
