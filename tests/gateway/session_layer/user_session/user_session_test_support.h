// A user session container on a two-link box, with the thread's local queues, and VRX
// records built in the test from the exchange's record formats (internal header order, big-endian).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "gateway/session_layer/user_session/user_session_info_container.h"
#include "gateway/shared/user_link_info.h"
#include "platform/core/pf_tick.h"
#include "support/held_tick.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace user_session_test
{
using qel_test::hex_digits;
using qel_test::to_hex;

struct message_deleter
{
    void operator()(message *msg) const { message_destroy(msg); }
};
using record = std::unique_ptr<message, message_deleter>;

// A VRX record: header in internal order, then `body` bytes of zero (or the user id of a
// sign-on at body offset 0).
inline std::vector<uint8_t> vrx(uint32_t user_id, int16_t transcode, int16_t error_code, uint16_t length)
{
    std::vector<uint8_t> bytes(length, 0);
    put_u32_be(bytes.data(), 0, user_id);
    bytes[8] = ' ';
    bytes[9] = ' ';
    put_i16_be(bytes.data(), 10, transcode);
    put_i16_be(bytes.data(), 12, error_code);
    put_u16_be(bytes.data(), 38, length);
    return bytes;
}

inline message *make_record(uint16_t tag, const std::vector<uint8_t> &data)
{
    message *msg = message_create(static_cast<uint32_t>(data.size()), tag);
    if (!data.empty())
        memcpy(msg->data, data.data(), data.size());
    return msg;
}

class UserSessionTest : public ::testing::Test
{
  protected:
    static constexpr uint16_t kMaxClients = 8;
    static constexpr uint16_t kLinks = 2;

    void SetUp() override
    {
        m_dir.write("gw.cfg", "HOST_MACHINE_IP=127.0.0.1\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=9801\n");
        m_links = user_link_info_create(m_dir.file("gw.cfg").c_str(), kLinks, nullptr);
        ASSERT_NE(m_links, nullptr);
        m_box_records.reset(new box_comm_info[kLinks]());
        m_box.box_id = 77;
        m_box.number_of_links = kLinks;
        m_box.box_comm_info_array = m_box_records.get();
        for (uint16_t link = 0; link < kLinks; link++)
        {
            set_link(link, 1, 100, 10);
        }
        for (ea_flag &flag : m_logoff_flags)
            flag.store(0);
        container = user_session_info_container_create(kMaxClients, m_links, &m_box, m_rate, m_logoff_flags,
                                                       kLinks, nullptr);
        ASSERT_NE(container, nullptr);
        input = queue_create();
        to_host = queue_create();
        to_ws = queue_create();
        to_fix = queue_create();
        to_console = queue_create();
        sides[0] = to_ws;
        sides[1] = to_fix;
    }

    void TearDown() override
    {
        for (queue *q : {input, to_host, to_ws, to_fix, to_console})
            ea_destroy_message_queue(q);
        user_session_info_container_destroy(container);
        user_link_info_destroy(m_links);
    }

    void set_link(uint16_t link, uint16_t logon_complete, int16_t rate, int32_t max_users)
    {
        m_box_records[link].logon_complete.store(logon_complete);
        m_box_records[link].max_users_per_box.store(max_users);
        m_rate[link].store(static_cast<uint16_t>(rate));
    }
    box_comm_info &box_record(uint16_t link) { return m_box_records[link]; }
    uint16_t logoff_flag(uint16_t slot) const { return m_logoff_flags[slot].load(); }
    user_session_info &slot(uint16_t index) { return container->user_session_info_list[index]; }

    // A user request from slot `index` with the next workstation sequence number.
    message *request(uint16_t index, int32_t handle, const std::vector<uint8_t> &data,
                     uint16_t tag = NORMAL_MESSAGE)
    {
        message *msg = make_record(tag, data);
        msg->workstation_index = index;
        msg->workstation_network_handle = handle;
        msg->user_type = index >= kMaxClients ? 1 : 0;
        msg->workstation_sequence_number = ++m_sequence[index];
        return msg;
    }
    message *sign_on_record(uint16_t index, int32_t handle, int32_t user_id)
    {
        std::vector<uint8_t> data = vrx(0, 2300, 0, 60);
        put_i32_be(data.data(), 40, user_id);
        return request(index, handle, data);
    }
    message *reply(uint32_t user_id, int16_t transcode, int16_t error_code = 0, int32_t login_count = -1)
    {
        message *msg = make_record(NORMAL_MESSAGE, vrx(user_id, transcode, error_code, 60));
        msg->user_id = user_id;
        msg->login_count = login_count;
        return msg;
    }

    // Runs the request handler on one record from the side of the slot.
    ea_status send(message *msg)
    {
        queue_append(input, msg);
        return user_session_info_container_process_input_request_messages(
            container, input, to_host, msg->user_type == 1 ? to_fix : to_ws, to_fix, to_console, nullptr);
    }
    ea_status answer(message *msg)
    {
        queue_append(input, msg);
        return user_session_info_container_process_input_response_messages(container, input, to_host, sides,
                                                                           to_console, nullptr);
    }
    ea_status supervise()
    {
        return user_session_info_container_process_users(container, to_host, sides, to_console, nullptr);
    }

    static std::vector<record> take(queue *q)
    {
        std::vector<record> out;
        while (queue_get_count(q) > 0)
            out.emplace_back(static_cast<message *>(queue_remove_head(q)));
        return out;
    }
    void drain()
    {
        for (queue *q : {to_host, to_ws, to_fix, to_console})
            take(q);
    }

    // Signs a user on and completes the logon with SYSTEM_INFORMATION_OUT.
    void log_on(uint16_t index, int32_t handle, int32_t user_id, int32_t login_count = 5)
    {
        ASSERT_EQ(send(sign_on_record(index, handle, user_id)), EA_SUCCESS);
        ASSERT_EQ(slot(index).logon_status, logon_status::LOGON_IN_PROGRESS);
        ASSERT_EQ(answer(reply(static_cast<uint32_t>(user_id), 1601, 0, login_count)), EA_SUCCESS);
        ASSERT_EQ(slot(index).logon_status, logon_status::LOGGED_ON);
        drain();
    }

    user_session_info_container *container = nullptr;
    queue *input = nullptr;
    queue *to_host = nullptr;
    queue *to_ws = nullptr;
    queue *to_fix = nullptr;
    queue *to_console = nullptr;
    queue *sides[2] = {};

  private:
    qel_test::held_tick m_held; // the timers move only by the test's steps
    qel_test::temp_dir m_dir;
    user_link_info *m_links = nullptr;
    box_comm_info_container m_box{};
    std::unique_ptr<box_comm_info[]> m_box_records;
    ea_flag m_rate[kLinks];
    ea_flag m_logoff_flags[2 * kMaxClients];
    uint32_t m_sequence[2 * kMaxClients] = {};
};

} // namespace user_session_test
