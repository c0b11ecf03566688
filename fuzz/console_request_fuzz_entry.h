// One input of the console-request fuzzer: bytes as an operator console's TCP stream on
// one of the gateway's two console ports, framed by the console connection (16-bit
// little-endian length, packet limits) and handed to the interface as that port's input.
// The first byte picks the port (bit 0 set: the interactive port, which answers user and
// box information requests and takes the restart request; clear: the realtime port,
// which takes no requests), the rest is the stream.
//
// What must hold whatever the bytes: the stream ends in a lost connection within a
// bounded number of calls; every packet is as long as its length field says and within
// the limits; the interface ends with 0 or the restart; and every answer is a whole
// packet for the console that asked.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_stream.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/library/ea_flag.h"
#include "gateway/library/message.h"
#include "gateway/library/queue.h"
#include "gateway/library/wire.h"
#include "gateway/qel_main/user_link_info.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"

namespace console_request_fuzz
{
enum
{
    LINKS = 2,
    CLIENTS = 4,
    CONSOLE_HANDLE = 9,
};

// The modules behind the interface, made once per process from a configuration in a
// temporary folder; a user is logged on in one slot so that the user list has an entry.
struct console_side
{
    std::string folder;
    std::string config;
    ea_flag rate_control[LINKS] = {};
    ea_flag base_rate_control{100};
    ea_flag logoff_flags[2 * CLIENTS] = {};
    user_link_info *links = nullptr;
    box_comm_info_container *box = nullptr;
    user_session_info_container *users = nullptr;
    interface_info *info = nullptr;

    console_side()
    {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/qel_console_fuzz_XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
            return;
        folder = pattern;
        config = folder + "/qel_ip.cfg";
        FILE *file = fopen(config.c_str(), "w");
        if (file == nullptr)
            return;
        fprintf(file,
                "NUMBER_OF_LINKS=%d\nMAX_TWS_CLIENTS=%d\nFLOW_CONTROL_COUNT=1\nLOG_FILE_PATH=%s\n"
                "HOST_MACHINE_IP=127.0.0.1\nHOST_PORT_NUMBER=9\nMACHINE_WAN_IP=127.0.0.1\nBOX_ID=101\n"
                "BROKER_ID=12345\nKOVA_EVENT_LOG_FILE=%s/kova_event_log.dat\n",
                static_cast<int>(LINKS), static_cast<int>(CLIENTS), folder.c_str(), folder.c_str());
        fclose(file);
        links = user_link_info_create(config.c_str(), LINKS, nullptr);
        box = box_comm_info_container_create(config.c_str(), LINKS, rate_control, links, &base_rate_control,
                                             CLIENTS, nullptr);
        users = user_session_info_container_create(CLIENTS, links, box, rate_control, logoff_flags, LINKS,
                                                   nullptr);
        if (links == nullptr || box == nullptr || users == nullptr)
            return;
        users->user_session_info_list[1].user_id = 1001;
        users->user_session_info_list[1].logon_status = 2;
        info = interface_info_create(config.c_str(), users, box, links, nullptr);
    }
};

// Every answer is a whole packet for the console that asked; frees them. Null when sound.
inline const char *check_answers(queue *answers)
{
    const char *failure = nullptr;
    while (message *answer = static_cast<message *>(queue_remove_head(answers)))
    {
        if (failure == nullptr && (answer->data_length < INTERFACE_SEND_MIN_LENGTH ||
                                   answer->data_length > INTERFACE_SEND_MAX_LENGTH ||
                                   get_u16_le(answer->data, 0) != answer->data_length))
            failure = "an answer is not a whole packet";
        else if (failure == nullptr && answer->workstation_network_handle != CONSOLE_HANDLE)
            failure = "an answer goes to another console than the one that asked";
        message_destroy(answer);
    }
    return failure;
}

inline const char *one(const uint8_t *data, size_t size)
{
    if (size == 0)
        return nullptr;
    static console_side side;
    if (side.info == nullptr)
        return "no console interface";
    const bool interactive = (data[0] & 1) != 0;
    fuzz_stream stream;
    if (!stream.open(data + 1, size - 1))
        return "no socket pair";
    interface_nw_handle *entry = interface_nw_handle_create(1, nullptr);
    queue *notifications = queue_create();
    queue *inputs[2] = {queue_create(), queue_create()}; // realtime, interactive
    queue *answers = queue_create();
    if (entry == nullptr || notifications == nullptr || inputs[0] == nullptr || inputs[1] == nullptr ||
        answers == nullptr)
        return "no connection entry or queues";
    entry->socket = stream.reader();
    entry->network_handle = CONSOLE_HANDLE;

    const char *failure = nullptr;
    uint32_t received = 0;
    for (int calls = 0;; ++calls)
    {
        if (calls == FUZZ_STREAM_MAX_CALLS)
        {
            failure = "the console connection's framing stopped making progress";
            break;
        }
        message *packet = nullptr;
        ea_status status = interface_nw_handle_recv(entry, &packet, &received, nullptr);
        if (status == INTERFACE_CONNECTION_FAILED)
            break;
        if (status == EA_VALID)
            continue;
        if (status != EA_SUCCESS || packet == nullptr)
        {
            failure = "the console connection's receive failed";
            break;
        }
        if (packet->data_length < INTERFACE_RECV_MIN_LENGTH ||
            packet->data_length > INTERFACE_RECV_MAX_LENGTH ||
            get_u16_le(packet->data, 0) != packet->data_length)
        {
            message_destroy(packet);
            failure = "a packet's length differs from its length field or is out of bounds";
            break;
        }
        queue_append(inputs[interactive ? 1 : 0], packet);
    }
    // The interface thread calls again after a restart request until its input is empty.
    while (failure == nullptr && queue_get_count(inputs[0]) + queue_get_count(inputs[1]) > 0)
    {
        ea_status status = interface_info_process_message(side.info, notifications, inputs[0], inputs[1],
                                                          answers, answers, nullptr);
        if (status != EA_SUCCESS && status != EA_RESTART)
            failure = "the interface failed on console requests";
        else
            failure = check_answers(answers);
    }
    entry->socket = -1; // the stream closes it
    interface_nw_handle_destroy(entry, 1);
    ea_destroy_message_queue(notifications);
    ea_destroy_message_queue(inputs[0]);
    ea_destroy_message_queue(inputs[1]);
    ea_destroy_message_queue(answers);
    return failure;
}
} // namespace console_request_fuzz
