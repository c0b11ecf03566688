// The host session thread with real shared queues: heart-beat notices become heart
// beats, packets are numbered, the host's box records reach box communication, a silent
// host raises HOST_SESSION_TIMED_OUT, and a stray notice stops the gateway.
#include <gtest/gtest.h>

#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "support/box_session_support.h"
#include "support/gateway_log.h"

using namespace qel_test;

namespace
{
struct HostSessionThread : ::testing::Test
{
    box_environment env{std::map<std::string, std::string>{{"HOST_RESPONSE_TIMEOUT", "1000"}}};
    ea_flag overflow[1] = {};
    ea_flag recovering[1] = {};
    host_session_info_container *session = nullptr;
    shared_queue *queues[EA_SHARED_QUEUE_COUNT] = {};
    ea_flag shutdown{0};
    ea_flag day{0};
    th_session_module_thread_args args{};
    ea_thread *thread = nullptr;

    void SetUp() override
    {
        env.link0().host_nw_handle.store(9);
        ea_flag_set(&env.link0().session_recovery_enabled, 1);
        session = host_session_info_container_create(env.config_file.c_str(), 1, env.box, overflow,
                                                     &env.base_rate_control, recovering, env.logger);
        for (shared_queue *&sq : queues)
            sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        args = {queues[SQ_TH_NETWORK_TO_HOST_SESSION],
                queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
                queues[SQ_BOX_COMM_TO_HOST_SESSION],
                queues[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION],
                queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR],
                queues[SQ_HOST_SESSION_TO_RESPONSE_PROCESSING],
                queues[SQ_HOST_SESSION_TO_BOX_COMM],
                queues[SQ_NOTIFICATIONS_TO_BOX_COMM],
                session,
                10,
                &shutdown,
                &day,
                env.logger};
        thread = ea_thread_create(th_session_module_thread, &args, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    ~HostSessionThread() override
    {
        if (thread != nullptr)
        {
            ea_flag_set(&shutdown, 1);
            ea_thread_join(thread, 5000, nullptr);
            ea_thread_close(thread);
        }
        for (shared_queue *sq : queues)
        {
            queue *rest = queue_create();
            shared_queue_get_elements_no_wait(sq, rest);
            ea_destroy_message_queue(rest);
            shared_queue_destroy(sq);
        }
        host_session_info_container_destroy(session);
    }
    std::vector<message *> collect(shared_queue *sq, size_t n)
    {
        queue *local = queue_create();
        wait_until(
            [&]
            {
                shared_queue_get_elements_no_wait(sq, local);
                return queue_get_count(local) >= n;
            },
            5000);
        std::vector<message *> records = take_all(local);
        queue_destroy(local);
        return records;
    }
};
} // namespace

TEST_F(HostSessionThread, CarriesRecordsBothWaysAndReportsASilentHost)
{
    shared_queue_insert_single_element(queues[SQ_TH_NETWORK_TO_HOST_SESSION],
                                       notification(GENERATE_HEART_BEAT_MESSAGE, 0, 9));
    std::vector<message *> out = collect(queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR], 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->tag, HEART_BEAT_MESSAGE);
    free_all(out);

    message *packet = message_create(10, NORMAL_MESSAGE);
    shared_queue_insert_single_element(queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION], packet);
    out = collect(queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR], 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->network_sequence_number, 1);
    free_all(out);

    message *answer = host_record(23001, 40, {{4, 0x1234}}, 0, 9);
    answer->network_sequence_number = 1;
    shared_queue_insert_single_element(queues[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION], answer);
    out = collect(queues[SQ_HOST_SESSION_TO_BOX_COMM], 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->transcode, 23001);
    free_all(out);

    shared_queue_insert_single_element(queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
                                       message_create(10, NORMAL_MESSAGE));
    free_all(out = collect(queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR], 1));
    pf_tick_advance(1001); // the packet numbered 2 is unacknowledged past the time-out
    out = collect(queues[SQ_NOTIFICATIONS_TO_BOX_COMM], 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->tag, HOST_SESSION_TIMED_OUT);
    EXPECT_EQ(out[0]->host_network_handle, 9);
    free_all(out);

    ea_flag_set(&day, 1);
    EXPECT_TRUE(wait_until([&] { return ea_flag_get(&day) == 0; }, 5000));
}

TEST_F(HostSessionThread, StrayNoticeStopsTheGateway)
{
    shared_queue_insert_single_element(queues[SQ_TH_NETWORK_TO_HOST_SESSION],
                                       notification(PULL_NOTIFICATION, 0, 9));
    EXPECT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
    EXPECT_EQ(thread->exit_value, EA_ERROR);
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
    ea_thread_close(thread);
    thread = nullptr;
}

TEST_F(HostSessionThread, LogsItsPassUnderItsRoutine)
{
    std::vector<message *> out;
    shared_queue_insert_single_element(queues[SQ_TH_NETWORK_TO_HOST_SESSION],
                                       notification(GENERATE_HEART_BEAT_MESSAGE, 0, 9));
    free_all(out = collect(queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR], 1));
    shared_queue_insert_single_element(queues[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
                                       message_create(10, NORMAL_MESSAGE));
    free_all(out = collect(queues[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR], 1));
    pf_tick_advance(1001);
    free_all(out = collect(queues[SQ_NOTIFICATIONS_TO_BOX_COMM], 1));
    shared_queue_insert_single_element(queues[SQ_TH_NETWORK_TO_HOST_SESSION],
                                       notification(PULL_NOTIFICATION, 0, 9));
    EXPECT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
    EXPECT_EQ(thread->exit_value, EA_ERROR);
    ea_thread_close(thread);
    thread = nullptr;
    expect_lines_under(gateway_log_lines(env.dir.file("logs"), "box_session_test"),
                       {"Received GENERATE_HEART_BEAT_MESSAGE notification for link index [0]",
                        "Sent HEART_BEAT_MESSAGE for link index [0]",
                        "Sent HOST_SESSION_TIMED_OUT message to Box Communication Module with link index [0]",
                        "Received invalid notification with tag"},
                       "th_session_module_thread");
}
