// Test helpers for the box communication controller and the host session layer: a
// configured controller over a real link table and logger, host records built byte by
// byte from their layouts, and taking records out of local queues. Header-only, because
// it uses the gateway's modules, which the shared support library does not link.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/user_link_info.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_config.h"
#include "support/held_tick.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace qel_test
{

// Records are owned by the vector's user; free_all releases them.
inline std::vector<message *> take_all(queue *q)
{
    std::vector<message *> out;
    while (message *msg = static_cast<message *>(queue_remove_head(q)))
        out.push_back(msg);
    return out;
}

inline void free_all(std::vector<message *> &records)
{
    for (message *msg : records)
        message_destroy(msg);
    records.clear();
}

// A host record: the data of a one-record packet (count 1, then the transcode), with
// 16-bit big-endian fields written at the given offsets, `length` bytes long.
struct field
{
    uint32_t offset;
    uint16_t value;
};

inline message *host_record(int16_t transcode, uint32_t length, std::initializer_list<field> fields,
                            uint16_t link_index, int32_t handle)
{
    message *msg = message_create(length, NORMAL_MESSAGE);
    for (uint32_t i = 0; i < length; ++i)
        msg->data[i] = 0;
    msg->data[0] = 0;
    msg->data[1] = 1;
    msg->data[2] = static_cast<uint8_t>(static_cast<uint16_t>(transcode) >> 8);
    msg->data[3] = static_cast<uint8_t>(transcode);
    for (const field &f : fields)
    {
        msg->data[f.offset] = static_cast<uint8_t>(f.value >> 8);
        msg->data[f.offset + 1] = static_cast<uint8_t>(f.value);
    }
    msg->transcode = transcode;
    msg->link_index = link_index;
    msg->host_network_handle = handle;
    return msg;
}

inline message *notification(uint16_t tag, uint16_t link_index, int32_t handle, uint16_t reason_code = 0)
{
    message *msg = message_create(0, tag);
    msg->link_index = link_index;
    msg->host_network_handle = handle;
    msg->reason_code = reason_code;
    return msg;
}

// A box communication controller configured for one link, with its own logger; the tick
// count is held while it lives.
struct box_environment
{
    held_tick held;
    temp_dir dir;
    std::string config_file;
    logger_object_container *loggers = nullptr;
    logger_object *logger = nullptr;
    user_link_info *link_table = nullptr;
    ea_flag base_rate_control{100};
    ea_flag box_rate_control_count[2] = {};
    box_comm_info_container *box = nullptr;

    explicit box_environment(std::map<std::string, std::string> overrides = {}, uint16_t max_clients = 10)
    {
        gateway_config config;
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        config.values["MACHINE_WAN_IP"] = "10.1.2.3";
        config.values["BOX_ID"] = "4660"; // 0x1234
        config.values["BROKER_ID"] = "AB12";
        config.values["RATE_CONTROL_HEART_BEAT_TIME_INTERVAL"] = "5000";
        for (const auto &entry : overrides)
        {
            if (entry.second.empty())
                config.omitted.insert(entry.first);
            else
                config.values[entry.first] = entry.second;
        }
        config_file = config.write(dir);
        static const char *const names[] = {"box_session_test"};
        loggers = logger_object_container_create(config_file.c_str(), names, 1);
        logger = loggers != nullptr ? loggers->loggers[0] : nullptr;
        link_table = user_link_info_create(config_file.c_str(), 1, logger);
        box = box_comm_info_container_create(config_file.c_str(), 1, box_rate_control_count, link_table,
                                             &base_rate_control, max_clients, logger);
    }
    ~box_environment()
    {
        box_comm_info_container_destroy(box);
        if (link_table != nullptr)
            user_link_info_destroy(link_table);
        if (loggers != nullptr)
            logger_object_container_destroy(loggers);
    }
    box_environment(const box_environment &) = delete;
    box_environment &operator=(const box_environment &) = delete;

    box_comm_info &link0() { return box->box_comm_info_array[0]; }
};

} // namespace qel_test
