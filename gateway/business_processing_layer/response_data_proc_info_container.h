// response_data_proc_info_container: the response processing module. It splits each data
// packet from the host into message records holding full VRX records and passes them to
// the user session thread; control records pass through in arrival order.
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
    RESPONSE_PACKER_CAPACITY = 278,
};

struct response_data_proc_info_container
{
    data_proc_info *packer;   // used only for its read position while unpacking
    uint32_t message_counter; // numbers every unpacked record, across packets and links
};

struct response_data_processing_thread_args
{
    shared_queue *from_host_session; // shared queue 6
    shared_queue *to_user_session;   // shared queue 7
    response_data_proc_info_container *container;
    uint32_t wait_time_ms;
    ea_flag *shutdown_flag;
    ea_flag *day_flag;
    logger_object *logger;
};

response_data_proc_info_container *response_data_proc_info_container_create(logger_object *logger);
void response_data_proc_info_container_destroy(response_data_proc_info_container *container);
ea_status response_data_proc_info_container_process_messages(response_data_proc_info_container *container,
                                                             queue *input, queue *output,
                                                             logger_object *logger);

uint32_t response_data_processing_thread(void *argument);
