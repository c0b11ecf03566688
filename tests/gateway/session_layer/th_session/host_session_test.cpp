// The host session layer on one link: sequence numbers and their wrap, inbound checks,
// acknowledgements and the recovery queue, the sorting of the host's packets, overflow
// flags, the response timer, heart beats, and the recovery and logoff flushes.
#include "gateway/session_layer/th_session/host_session_info_container.h"

#include <gtest/gtest.h>

#include "support/box_session_support.h"

using namespace qel_test;

namespace
{
enum : int32_t
{
    HANDLE = 21,
};

struct HostSession : ::testing::Test
{
    box_environment env{std::map<std::string, std::string>{{"HOST_RESPONSE_TIMEOUT", "1000"}}};
    ea_flag overflow[1] = {};
    ea_flag recovering[1] = {};
    host_session_info_container *session = nullptr;
    queue *input = queue_create();
    queue *to_send_validator = queue_create();
    queue *to_response_processing = queue_create();
    queue *to_notifications = queue_create();
    queue *to_box_comm = queue_create();

    void SetUp() override
    {
        env.link0().host_nw_handle.store(HANDLE);
        session = host_session_info_container_create(env.config_file.c_str(), 1, env.box, overflow,
                                                     &env.base_rate_control, recovering, env.logger);
        ASSERT_NE(session, nullptr);
    }
    ~HostSession() override
    {
        host_session_info_container_destroy(session);
        for (queue *q : {input, to_send_validator, to_response_processing, to_notifications, to_box_comm})
            ea_destroy_message_queue(q);
    }
    host_session_info &link() { return session->host_session_info_array[0]; }
    void enable_recovery(uint16_t on) { ea_flag_set(&env.link0().session_recovery_enabled, on); }

    // Sends n packets from request processing and returns the numbers they left with.
    std::vector<int> send(int n, int16_t weight = 1)
    {
        for (int i = 0; i < n; ++i)
        {
            message *msg = message_create(10, NORMAL_MESSAGE);
            msg->packing_weight = weight;
            queue_append(input, msg);
        }
        EXPECT_EQ(host_session_info_container_process_request_messages(session, to_send_validator, input,
                                                                       env.logger),
                  EA_SUCCESS);
        std::vector<int> numbers;
        std::vector<message *> sent = take_all(to_send_validator);
        for (message *msg : sent)
        {
            EXPECT_EQ(msg->host_network_handle, env.link0().host_nw_handle.load());
            numbers.push_back(msg->network_sequence_number);
        }
        free_all(sent);
        return numbers;
    }
    std::vector<int> kept()
    {
        std::vector<int> numbers;
        for (uint32_t i = 0; i < queue_get_count(link().recovery_queue); ++i)
            numbers.push_back(
                static_cast<message *>(queue_peek(link().recovery_queue, i))->network_sequence_number);
        return numbers;
    }
    // One inbound packet from the host with its session numbers.
    void receive(message *msg, uint16_t sequence, uint16_t acknowledged, int32_t handle = HANDLE)
    {
        msg->network_sequence_number = sequence;
        msg->last_sequence_number = acknowledged;
        msg->host_network_handle = handle;
        queue_append(input, msg);
        ASSERT_EQ(host_session_info_container_process_response_messages(session, to_response_processing,
                                                                        to_notifications, to_send_validator,
                                                                        input, to_box_comm, env.logger),
                  EA_SUCCESS);
    }
    message *data_packet() { return host_record(2001, 20, {}, 0, HANDLE); }
    size_t count_and_free(queue *q)
    {
        std::vector<message *> records = take_all(q);
        size_t n = records.size();
        free_all(records);
        return n;
    }
};
} // namespace

TEST_F(HostSession, SendSequenceRunsTo32000ThenWrapsTo1)
{
    std::vector<int> first = send(3);
    EXPECT_EQ(first, (std::vector<int>{1, 2, 3}));
    for (int i = 4; i <= 32000; i += 1000)
        send(std::min(1000, 32001 - i));
    EXPECT_EQ(link().last_send_seq_no, 32000);
    EXPECT_EQ(send(2), (std::vector<int>{1, 2}));
    EXPECT_EQ(link().send_sequence_wrap_around_flag, 1);
    EXPECT_TRUE(kept().empty()); // recovery disabled: nothing kept
}

TEST_F(HostSession, AcknowledgementsAcrossTheWrapRemoveExactlyWhatTheyCover)
{
    struct
    {
        uint16_t acknowledged;
        std::vector<int> left;
        int16_t wrap_flag;
    } cases[] = {
        {31999, {32000, 1, 2}, 1},
        {32000, {1, 2}, 0},
        {1, {2}, 0},
        {2, {}, 0},
        {0, {31998, 31999, 32000, 1, 2}, 1},
        {31997, {31998, 31999, 32000, 1, 2}, 1},
        {3, {31998, 31999, 32000, 1, 2}, 1},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.acknowledged);
        host_session_info_container_destroy(session);
        session = host_session_info_container_create(env.config_file.c_str(), 1, env.box, overflow,
                                                     &env.base_rate_control, recovering, env.logger);
        enable_recovery(1);
        link().send_sequence_no = 31998;
        EXPECT_EQ(send(5, 3), (std::vector<int>{31998, 31999, 32000, 1, 2}));
        EXPECT_EQ(link().least_send_seq_no, 31998);
        EXPECT_EQ(link().unacknowledged_weight, 15u);
        message ack{};
        ack.last_sequence_number = c.acknowledged;
        ASSERT_EQ(host_session_info_container_cleanup_recovery_queue(session, &ack, env.logger), EA_SUCCESS);
        EXPECT_EQ(kept(), c.left);
        EXPECT_EQ(link().send_sequence_wrap_around_flag, c.wrap_flag);
        EXPECT_EQ(link().unacknowledged_weight, 3u * c.left.size());
        EXPECT_EQ(link().least_send_seq_no, c.left.empty() ? 3 : c.left.front());
    }
}

TEST_F(HostSession, InboundSequenceChecks)
{
    receive(data_packet(), 0, 0); // unnumbered: passes, expects 1 still
    receive(data_packet(), 1, 0);
    receive(data_packet(), 2, 0);
    EXPECT_EQ(count_and_free(to_response_processing), 3u);
    EXPECT_EQ(link().recv_sequence_no, 3);
    EXPECT_EQ(link().last_recv_seq_no, 2);

    receive(data_packet(), 4, 0); // one missing
    std::vector<message *> failures = take_all(to_notifications);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0]->tag, HOST_VALIDATION_FAILURE);
    EXPECT_EQ(failures[0]->reason_code, 12007);
    EXPECT_EQ(failures[0]->host_network_handle, HANDLE);
    free_all(failures);
    receive(data_packet(), 3, 0); // right number, same connection: still dropped
    EXPECT_EQ(count_and_free(to_response_processing), 0u);

    // A later connection's stream is checked again, so a relogon answer is not lost.
    receive(data_packet(), 3, 0, HANDLE + 1);
    EXPECT_EQ(count_and_free(to_response_processing), 1u);
    EXPECT_EQ(link().recv_sequence_no, 4);
}

TEST_F(HostSession, HostPacketsAreSortedByCountAndTranscode)
{
    struct
    {
        int16_t transcode;
        uint16_t count;
        uint32_t length;
        int where; // 0 box comm, 1 response processing, 2 dropped
    } cases[] = {
        {23001, 1, 40, 0}, {23007, 1, 40, 0}, {20322, 1, 40, 0}, {23503, 1, 40, 0}, {23504, 1, 6, 0},
        {23006, 1, 4, 2},  {25003, 1, 4, 2},  {23006, 2, 8, 1},  {2001, 1, 40, 1},  {23001, 1, 3, 2},
    };
    uint16_t number = 1;
    for (const auto &c : cases)
    {
        SCOPED_TRACE(c.transcode);
        message *msg = host_record(c.transcode, c.length < 4 ? 4 : c.length, {{0, c.count}}, 0, HANDLE);
        msg->data_length = static_cast<uint16_t>(c.length);
        msg->transcode = 0;
        receive(msg, number++, 0);
        std::vector<message *> boxed = take_all(to_box_comm);
        EXPECT_EQ(boxed.size(), c.where == 0 ? 1u : 0u);
        if (!boxed.empty())
        {
            EXPECT_EQ(boxed[0]->transcode, c.transcode);
        }
        free_all(boxed);
        EXPECT_EQ(count_and_free(to_response_processing), c.where == 1 ? 1u : 0u);
    }
}

TEST_F(HostSession, AcknowledgedRecordsLeaveTheQueueAndOverflowFollowsTheirWeight)
{
    enable_recovery(1);
    EXPECT_EQ(send(4, 30), (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(host_session_info_container_process_flags(session, 0, env.logger), EA_SUCCESS);
    EXPECT_EQ(ea_flag_get(&overflow[0]), 1); // 120 >= 100
    receive(data_packet(), 1, 2);            // acknowledges 1 and 2: 60 left
    EXPECT_EQ(kept(), (std::vector<int>{3, 4}));
    host_session_info_container_process_flags(session, 0, env.logger);
    EXPECT_EQ(ea_flag_get(&overflow[0]), 1); // above the low mark of 50
    receive(host_record(25003, 4, {}, 0, HANDLE), 2, 3);
    host_session_info_container_process_flags(session, 0, env.logger);
    EXPECT_EQ(ea_flag_get(&overflow[0]), 0);
    EXPECT_EQ(kept(), std::vector<int>{4});
    EXPECT_EQ(count_and_free(to_response_processing), 1u);
}

TEST_F(HostSession, ResponseTimerFiresOnceForTheOldestRecord)
{
    uint16_t tag = 0, reason = 99;
    enable_recovery(1);
    send(2);
    pf_tick_advance(900);
    EXPECT_EQ(host_session_info_container_process_timers(session, 0, &tag, &reason, env.logger), EA_SUCCESS);
    pf_tick_advance(101);
    EXPECT_EQ(host_session_info_container_process_timers(session, 0, &tag, &reason, env.logger), 500);
    EXPECT_EQ(tag, HOST_SESSION_TIMED_OUT);
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(host_session_info_container_process_timers(session, 0, &tag, &reason, env.logger), EA_SUCCESS);
}

TEST_F(HostSession, HeartBeatIsUnnumberedCountOneTranscode23506)
{
    message *notice = notification(GENERATE_HEART_BEAT_MESSAGE, 0, HANDLE);
    message *beat = host_session_info_container_generate_heart_beat_message(session, notice, env.logger);
    ASSERT_NE(beat, nullptr);
    EXPECT_EQ(beat->tag, HEART_BEAT_MESSAGE);
    EXPECT_EQ(beat->host_network_handle, HANDLE);
    EXPECT_EQ(beat->network_sequence_number, 0);
    EXPECT_EQ(to_hex(beat->data, beat->data_length), "00015bd2");
    message_destroy(beat);
    message_destroy(notice);
}

TEST_F(HostSession, RecoveryHoldsNewRecordsAndResendsWhatTheHostLacksInOrder)
{
    enable_recovery(1);
    send(5);
    receive(data_packet(), 1, 2); // host holds 1 and 2
    count_and_free(to_response_processing);

    message *flush = message_create(0, SESSION_RECOVERY_FLUSH);
    receive(flush, 0, 0);
    EXPECT_EQ(count_and_free(to_send_validator), 1u); // the flush goes on
    EXPECT_EQ(ea_flag_get(&recovering[0]), 1);
    EXPECT_EQ(ea_flag_get(&overflow[0]), 1);
    EXPECT_EQ(link().unacknowledged_message_count, 3u);
    EXPECT_TRUE(send(2).empty()); // numbered 6 and 7, held back
    EXPECT_EQ(kept(), (std::vector<int>{3, 4, 5, 6, 7}));

    message *relogon = message_create(46, BOX_RELOGON_REQUEST);
    queue_append(input, relogon);
    ASSERT_EQ(host_session_info_container_process_box_messages(session, to_send_validator, input, env.logger),
              EA_SUCCESS);
    std::vector<message *> out = take_all(to_send_validator);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->network_sequence_number, 0);
    EXPECT_EQ(to_hex(out[0]->data + 42, 4), "0003"
                                            "0001"); // least unacknowledged 3, last received 1
    free_all(out);

    env.link0().host_nw_handle.store(HANDLE + 1);
    message *recovered = message_create(0, SESSION_RECOVERED_FLUSH);
    receive(recovered, 0, 3, HANDLE + 1); // the host holds 3 as well
    out = take_all(to_send_validator);
    std::vector<int> resent;
    for (message *msg : out)
    {
        resent.push_back(msg->network_sequence_number);
        EXPECT_EQ(msg->host_network_handle, HANDLE + 1);
        EXPECT_EQ(msg->flags & MESSAGE_FLAG_RESENT, MESSAGE_FLAG_RESENT);
    }
    free_all(out);
    EXPECT_EQ(resent, (std::vector<int>{4, 5, 6, 7}));
    EXPECT_EQ(send(1), std::vector<int>{8});
    receive(data_packet(), 2, 8, HANDLE + 1);
    host_session_info_container_process_flags(session, 0, env.logger);
    EXPECT_EQ(ea_flag_get(&recovering[0]), 0);
    EXPECT_TRUE(kept().empty());
    count_and_free(to_response_processing);
}

TEST_F(HostSession, LogoffFlushesDiscardAndResetTheSession)
{
    enable_recovery(1);
    send(3);
    receive(message_create(0, BOX_LOGOFF_FLUSH), 0, 0); // from the host side: discard from now on
    EXPECT_EQ(count_and_free(to_response_processing), 1u);
    EXPECT_TRUE(send(2).empty());
    EXPECT_EQ(kept(), (std::vector<int>{1, 2, 3}));

    queue_append(input, message_create(0, BOX_LOGOFF_FLUSH)); // back from the request side: reset
    ASSERT_EQ(
        host_session_info_container_process_request_messages(session, to_send_validator, input, env.logger),
        EA_SUCCESS);
    EXPECT_EQ(count_and_free(to_send_validator), 1u);
    EXPECT_TRUE(kept().empty());
    EXPECT_EQ(link().discard_flag, 0u);
    EXPECT_EQ(link().recv_sequence_no, 1);
    EXPECT_EQ(send(1), std::vector<int>{1});

    queue_append(input, message_create(0, CLIENT_INVITATION_MESSAGE)); // not expected here: fatal
    EXPECT_EQ(
        host_session_info_container_process_request_messages(session, to_send_validator, input, env.logger),
        EA_ERROR);
}
