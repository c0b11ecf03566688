// Session recovery across the box communication controller and the host session layer,
// with the test playing the host network thread, the validators and a small honest host
// (it numbers its own records, checks the gateway's numbers and acknowledges what it
// holds). A connection lost with records outstanding must end with the host holding every
// record exactly once and in order, also when the first relogon answer is misnumbered.
#include <gtest/gtest.h>

#include "gateway/runtime/wire.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "support/box_session_support.h"

using namespace qel_test;

namespace
{
struct fake_host
{
    int32_t handle = -1;
    int32_t next_handle = 100;
    uint16_t expected = 1; // next number expected from the gateway
    uint16_t next_own = 1; // next number the host gives its records
    std::vector<uint32_t> received;
    int out_of_order = 0;
    int misnumber_relogon_answers = 0;
    size_t lose_after = 1000; // frames after this many data records are lost in flight
};

struct SessionRecovery : ::testing::Test
{
    box_environment env;
    ea_flag overflow[1] = {};
    ea_flag recovering[1] = {};
    host_session_info_container *session = nullptr;
    fake_host host;
    // Queues named by their shared-queue number.
    queue *q5 = queue_create(), *q6 = queue_create(), *q8 = queue_create(), *q9 = queue_create(),
          *q10 = queue_create(), *q13 = queue_create(), *q14 = queue_create(), *q15 = queue_create(),
          *q16 = queue_create(), *q19 = queue_create(), *q22 = queue_create();
    std::vector<uint16_t> events;
    uint32_t next_id = 1;

    void SetUp() override
    {
        session = host_session_info_container_create(env.config_file.c_str(), 1, env.box, overflow,
                                                     &env.base_rate_control, recovering, env.logger);
        ASSERT_NE(session, nullptr);
    }
    ~SessionRecovery() override
    {
        host_session_info_container_destroy(session);
        for (queue *q : {q5, q6, q8, q9, q10, q13, q14, q15, q16, q19, q22})
            ea_destroy_message_queue(q);
    }

    void host_sends(message *msg)
    {
        msg->network_sequence_number = host.next_own++;
        msg->last_sequence_number = static_cast<uint16_t>(host.expected - 1);
        msg->host_network_handle = host.handle;
        msg->link_index = 0;
        queue_append(q13, msg);
    }
    void host_receives(message *frame)
    {
        int16_t transcode = get_i16_be(frame->data, 2);
        if (frame->network_sequence_number != 0)
        {
            if (frame->network_sequence_number != host.expected)
            {
                ++host.out_of_order;
                return;
            }
            ++host.expected;
        }
        if (transcode == 23000)
        {
            message *answer = host_record(23001, 40, {{4, 0x1234}}, 0, 0);
            answer->data[16] = 'E';
            host_sends(answer);
            host_sends(host_record(23007, 40, {{4, 100}, {6, 5}, {8, 0x1234}}, 0, 0));
        }
        else if (transcode == 23502)
        {
            host.next_own = static_cast<uint16_t>(get_u16_be(frame->data, 44) + 1); // resume its own stream
            message *answer = host_record(23503, 40, {{4, 0x1234}, {20, host.expected}}, 0, 0);
            host_sends(answer);
            if (host.misnumber_relogon_answers > 0)
            {
                --host.misnumber_relogon_answers;
                answer->network_sequence_number = static_cast<uint16_t>(answer->network_sequence_number + 1);
            }
        }
        else if (transcode == 2000)
        {
            host.received.push_back(get_u32_be(frame->data, 4));
            if (host.received.size() % 3 == 0)
                host_sends(host_record(25003, 4, {}, 0, 0));
        }
    }
    // The host network thread and the validators.
    void network()
    {
        for (message *msg : take_all(q8))
        {
            switch (msg->tag)
            {
            case BOX_LOGON_REQUEST:
            case BOX_RELOGON_REQUEST:
                host.handle = host.next_handle++;
                queue_append(q14, notification(HOST_CONNECTION_INITIATED, 0, host.handle));
                host_receives(msg);
                break;
            case NORMAL_MESSAGE:
                if (msg->host_network_handle == host.handle && host.handle != -1 &&
                    host.received.size() < host.lose_after)
                    host_receives(msg);
                break;
            case DROP_HOST_CONNECTION:
            case DROP_HOST_SESSION:
                host.handle = -1;
                break;
            case SESSION_RECOVERY_FLUSH:
                queue_append(q14, notification(RECVD_SESSION_RECOVERY_FLUSH, 0, msg->host_network_handle));
                break;
            case BOX_LOGOFF_FLUSH:
                queue_append(q14, notification(RECVD_BOX_LOGOFF_FLUSH, 0, msg->host_network_handle));
                break;
            default:
                ADD_FAILURE() << "unexpected tag on queue 8: " << msg->tag;
            }
            message_destroy(msg);
        }
        for (message *msg : take_all(q16))
        {
            if (msg->tag == INITIATE_SESSION_RECOVERY_FLUSH || msg->tag == INITIATE_BOX_LOGOFF_FLUSH)
                host.handle = -1;
            msg->tag = msg->tag == INITIATE_SESSION_RECOVERY_FLUSH    ? SESSION_RECOVERY_FLUSH
                       : msg->tag == INITIATE_SESSION_RECOVERED_FLUSH ? SESSION_RECOVERED_FLUSH
                                                                      : BOX_LOGOFF_FLUSH;
            queue_append(q13, msg);
        }
    }
    void run()
    {
        for (int pass = 0; pass < 100; ++pass)
        {
            ASSERT_EQ(
                box_comm_info_container_process_th_session_messages(env.box, q9, q16, q10, q19, env.logger),
                EA_SUCCESS);
            ASSERT_EQ(box_comm_info_container_process_notifications(env.box, q14, q10, q16, q15, q22, q19,
                                                                    env.logger),
                      EA_SUCCESS);
            ASSERT_EQ(box_comm_info_container_process_box(env.box, q16, q15, q22, q10, env.logger),
                      EA_SUCCESS);
            ASSERT_EQ(host_session_info_container_process_request_messages(session, q8, q5, env.logger),
                      EA_SUCCESS);
            ASSERT_EQ(host_session_info_container_process_box_messages(session, q8, q10, env.logger),
                      EA_SUCCESS);
            ASSERT_EQ(host_session_info_container_process_response_messages(session, q6, q14, q8, q13, q9,
                                                                            env.logger),
                      EA_SUCCESS);
            host_session_info_container_process_flags(session, 0, env.logger);
            network();
            for (message *msg : take_all(q19))
            {
                events.push_back(msg->reason_code);
                message_destroy(msg);
            }
            std::vector<message *> answers = take_all(q15);
            free_all(answers);
            answers = take_all(q6);
            free_all(answers);
        }
    }
    void send_data(int n)
    {
        for (int i = 0; i < n; ++i)
        {
            message *msg = message_create(8, NORMAL_MESSAGE);
            put_u16_be(msg->data, 0, 1);
            put_u16_be(msg->data, 2, 2000);
            put_u32_be(msg->data, 4, next_id++);
            msg->packing_weight = 1;
            queue_append(q5, msg);
        }
    }
    void logon_and_lose_records_in_flight()
    {
        queue_append(q14, message_create(0, INCOMING_CLIENT_CONNECTION));
        run();
        ASSERT_EQ(env.link0().box_status.load(), LOGGED_ON);
        ASSERT_EQ(ea_flag_get(&env.link0().session_recovery_enabled), 1);
        host.lose_after = 6;
        send_data(10); // the host gets 1 to 6 and acknowledges 1 to 3 before the line breaks
        run();
        ASSERT_EQ(host.received.size(), 6u);
        queue_append(q14, notification(HOST_CONNECTION_LOST, 0, host.handle, 12008));
        host.handle = -1;
        host.lose_after = 1000;
        send_data(2); // numbered while the link is down: dropped on the way, kept for resending
        events.clear();
    }
    std::vector<uint32_t> all_ids() const
    {
        std::vector<uint32_t> ids;
        for (uint32_t id = 1; id < next_id; ++id)
            ids.push_back(id);
        return ids;
    }
};
} // namespace

TEST_F(SessionRecovery, LostConnectionWithRecordsOutstandingResendsEachOnceInOrder)
{
    logon_and_lose_records_in_flight();
    run();
    EXPECT_EQ(env.link0().session_status, ESTABLISHED);
    EXPECT_EQ(host.received, all_ids());
    EXPECT_EQ(host.out_of_order, 0);
    EXPECT_EQ(events, (std::vector<uint16_t>{12011, 12012}));
    send_data(1);
    run();
    EXPECT_EQ(host.received, all_ids());
    EXPECT_EQ(ea_flag_get(&recovering[0]), 0);
}

TEST_F(SessionRecovery, MisnumberedRelogonAnswerIsFollowedByASuccessfulRelogon)
{
    host.misnumber_relogon_answers = 1;
    logon_and_lose_records_in_flight();
    run();
    EXPECT_EQ(env.link0().session_status, RECOVERY_IN_PROGRESS); // the answer failed its number
    pf_tick_advance(1001);
    run();
    EXPECT_EQ(env.link0().box_status.load(), LOGGED_ON);
    EXPECT_EQ(env.link0().session_status, ESTABLISHED);
    EXPECT_EQ(host.received, all_ids());
    EXPECT_EQ(host.out_of_order, 0);
}
