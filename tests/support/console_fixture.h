// A console interface over real modules for the console tests: a configuration in a
// temporary folder, the link table, the box communication container and the user session
// table (whose slots and box statuses a test sets as the owning threads would), and the
// interface_info on top. Header-only: it needs the gateway's modules, which the shared
// support library does not link.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/ea_time.h"
#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/interface_module/interface_info.h"
#include "gateway/runtime/ea_flag.h"
#include "gateway/runtime/message.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/user_link_info.h"
#include "support/gateway_config.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace qel_test
{

enum
{
    CONSOLE_FIXTURE_MAX_CLIENTS = 4,
    CONSOLE_FIXTURE_MAX_LINKS = 4,
    CONSOLE_FIXTURE_BOX_ID = 101,
};

inline uint16_t local_day_of_month()
{
    time_t now = time(nullptr);
    struct tm local;
    ea_localtime(&now, &local);
    return static_cast<uint16_t>(local.tm_mday);
}

struct console_fixture
{
    temp_dir dir;
    gateway_config config;
    std::string config_path;
    std::string event_log;
    ea_flag rate_control[CONSOLE_FIXTURE_MAX_LINKS] = {};
    ea_flag base_rate_control{100};
    ea_flag logoff_flags[2 * CONSOLE_FIXTURE_MAX_CLIENTS] = {};
    user_link_info *links = nullptr;
    box_comm_info_container *box = nullptr;
    user_session_info_container *users = nullptr;
    interface_info *info = nullptr;

    explicit console_fixture(uint16_t number_of_links = 1)
    {
        config.values["NUMBER_OF_LINKS"] = std::to_string(number_of_links);
        config.values["MAX_TWS_CLIENTS"] = std::to_string(CONSOLE_FIXTURE_MAX_CLIENTS);
        config.values["BOX_ID"] = std::to_string(CONSOLE_FIXTURE_BOX_ID);
        config.values["KOVA_EVENT_LOG_FILE"] = dir.file("kova_event_log.dat");
        config_path = config.write(dir);
        event_log = dir.file("kova_event_log.dat");
        links = user_link_info_create(config_path.c_str(), number_of_links, nullptr);
        box = box_comm_info_container_create(config_path.c_str(), number_of_links, rate_control, links,
                                             &base_rate_control, CONSOLE_FIXTURE_MAX_CLIENTS, nullptr);
        users = user_session_info_container_create(CONSOLE_FIXTURE_MAX_CLIENTS, links, box, rate_control,
                                                   logoff_flags, number_of_links, nullptr);
    }

    ~console_fixture()
    {
        interface_info_destroy(info);
        user_session_info_container_destroy(users);
        box_comm_info_container_destroy(box);
        user_link_info_destroy(links);
    }

    bool ready() const { return links != nullptr && box != nullptr && users != nullptr; }

    interface_info *create_info()
    {
        info = interface_info_create(config_path.c_str(), users, box, links, nullptr);
        return info;
    }

    // As the user session thread would: a user in slot `slot`.
    void set_user(uint16_t slot, int32_t user_id, int16_t status)
    {
        users->user_session_info_list[slot].user_id = user_id;
        users->user_session_info_list[slot].logon_status = status;
    }

    void set_box_status(uint16_t link, int16_t status)
    {
        box->box_comm_info_array[link].box_status.store(status);
    }
};

// A console event as a module raises it on shared queue 19.
inline message *console_event(uint32_t user_id, uint16_t reason_code, int32_t event_value = -1)
{
    message *event = message_create(0, KOVA_MESSAGE);
    event->user_id = user_id;
    event->reason_code = reason_code;
    event->event_value = event_value;
    return event;
}

// The bytes with the time field (22..25) zeroed, for comparison with golden packets.
inline std::vector<uint8_t> without_time(std::vector<uint8_t> bytes)
{
    for (size_t i = 22; i < 26 && i < bytes.size(); ++i)
        bytes[i] = 0;
    return bytes;
}

} // namespace qel_test
