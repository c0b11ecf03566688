// The user session thread against real shared queues: a sign-on and its host replies
// travel the road, supervision runs without input, and the thread stops on the flag.
#include "gateway/qel_main/ea_global.h"
#include "gateway/session_layer/user_session/user_session_thread.h"

#include <gtest/gtest.h>

#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/connection_book.h"
#include "gateway/shared/log_fold.h"
#include "gateway/shared/log_hold.h"
#include "support/gateway_log.h"
#include "user_session_test_support.h"

using namespace user_session_test;

namespace
{

class UserSessionThread : public UserSessionTest
{
  protected:
    void SetUp() override
    {
        UserSessionTest::SetUp();
        for (shared_queue *&sq : m_queues)
            sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        m_args.container = container;
        m_args.tws_request_queue = m_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION];
        m_args.fix_request_queue = m_queues[SQ_FIX_TO_USER_SESSION];
        m_args.response_queue = m_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION];
        m_args.tws_send_queue = m_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR];
        m_args.fix_send_queue = m_queues[SQ_USER_SESSION_TO_FIX_SEND];
        m_args.request_processing_queue = m_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING];
        m_args.console_queue = m_queues[SQ_EVENTS_TO_INTERFACE];
        m_args.wait_time_ms = 10;
        m_args.shutdown_flag = &m_shutdown;
        m_args.day_flag = &m_day;
        m_thread = ea_thread_create(user_session_thread, &m_args, nullptr);
        ASSERT_NE(m_thread, nullptr);
    }

    void TearDown() override
    {
        stop();
        for (shared_queue *sq : m_queues)
        {
            queue *left = queue_create();
            shared_queue_get_elements_no_wait(sq, left);
            ea_destroy_message_queue(left);
            shared_queue_destroy(sq);
        }
        UserSessionTest::TearDown();
    }

    int32_t stop()
    {
        if (m_thread == nullptr)
            return m_exit;
        ea_flag_set(&m_shutdown, 1);
        EXPECT_EQ(ea_thread_join(m_thread, 5000, nullptr), EA_SUCCESS);
        m_exit = m_thread->exit_value;
        ea_thread_close(m_thread);
        m_thread = nullptr;
        return m_exit;
    }

    void put(shared_queue *sq, message *msg)
    {
        ASSERT_EQ(shared_queue_insert_single_element(sq, msg), EA_SUCCESS);
    }

    // Waits for `n` records on a shared queue and takes them.
    std::vector<record> collect(shared_queue *sq, size_t n)
    {
        std::vector<record> out;
        queue *local = queue_create();
        qel_test::wait_until(
            [&]
            {
                shared_queue_get_elements_from_single_queue(sq, local, 10);
                return queue_get_count(local) >= n;
            },
            5000);
        out = take(local);
        queue_destroy(local);
        return out;
    }

    shared_queue *m_queues[EA_SHARED_QUEUE_COUNT] = {};
    user_session_thread_args m_args = {};
    ea_flag m_shutdown{0};
    ea_flag m_day{0};
    ea_thread *m_thread = nullptr;
    int32_t m_exit = 0;
};

} // namespace

TEST_F(UserSessionThread, SignOnAndRepliesTravelTheRoad)
{
    put(m_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION], sign_on_record(0, 50, 12345));
    auto to_request = collect(m_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING], 1);
    ASSERT_EQ(to_request.size(), 1u);
    EXPECT_EQ(get_i16_be(to_request[0]->data, 10), 2300);
    auto to_workstation = collect(m_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR], 1);
    ASSERT_EQ(to_workstation.size(), 1u);
    EXPECT_EQ(to_workstation[0]->tag, UPDATE_LINK_INDEX);

    put(m_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION], reply(12345, 2301));
    put(m_queues[SQ_RESPONSE_PROCESSING_TO_USER_SESSION], reply(12345, 1601, 0, 3));
    to_workstation = collect(m_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR], 2);
    ASSERT_EQ(to_workstation.size(), 2u);
    EXPECT_EQ(get_i16_be(to_workstation[0]->data, 10), 2301);
    EXPECT_EQ(get_i16_be(to_workstation[1]->data, 10), 1601);
    auto events = collect(m_queues[SQ_EVENTS_TO_INTERFACE], 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->reason_code, 11018);

    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

TEST_F(UserSessionThread, FixRecordsAreAnsweredOnTheFixQueue)
{
    put(m_queues[SQ_FIX_TO_USER_SESSION], sign_on_record(kMaxClients, 60, 777));
    auto to_fix_send = collect(m_queues[SQ_USER_SESSION_TO_FIX_SEND], 1);
    ASSERT_EQ(to_fix_send.size(), 1u);
    EXPECT_EQ(to_fix_send[0]->tag, UPDATE_LINK_INDEX);
    EXPECT_EQ(to_fix_send[0]->user_type, 1);
    EXPECT_EQ(collect(m_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING], 1).size(), 1u);
}

TEST_F(UserSessionThread, SupervisionRunsWithoutInput)
{
    put(m_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION], sign_on_record(0, 50, 12345));
    put(m_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION], request(0, 50, vrx(12345, 2320, 0, 40)));
    // The sign-on, then the status query that the next passes send on their own.
    auto to_request = collect(m_queues[SQ_USER_SESSION_TO_REQUEST_PROCESSING], 2);
    ASSERT_EQ(to_request.size(), 2u);
    EXPECT_EQ(get_i16_be(to_request[1]->data, 10), 23002);
}

TEST_F(UserSessionThread, DayFlagIsClearedAndShutdownEndsTheThread)
{
    ea_flag_set(&m_day, 1);
    EXPECT_TRUE(qel_test::wait_until([&] { return ea_flag_get(&m_day) == 0; }, 5000));
    EXPECT_EQ(stop(), EA_SHUTDOWN);
}

// What is written about connections that ended without signing on goes through the fold:
// the first stories of a spell are written whole, the others counted, and a second later
// (the test moves the held tick count) one line under the routine says how many.
TEST_F(UserSessionThread, CountsTheLinesItLeftOutUnderItsRoutine)
{
    ASSERT_EQ(stop(), EA_SHUTDOWN);
    qel_test::gateway_test_loggers loggers({"user_session_thread"});
    m_args.logger = loggers.get("user_session_thread");
    connection_book *book = connection_book_create(kMaxClients);
    ASSERT_TRUE(user_session_info_container_set_connection_book(container, book));
    const int connections = 3 * kMaxClients;
    for (int i = 0; i < connections; ++i)
    {
        const uint16_t slot = static_cast<uint16_t>(i % kMaxClients);
        const int32_t handle = 100 + i;
        connection_book_opened(book, slot, handle);
        connection_book_closed(book, slot, handle);
        message *gone = make_record(CLIENT_DISCONNECTED, {});
        gone->workstation_index = slot;
        gone->workstation_network_handle = handle;
        gone->reason_code = 11009;
        put(m_queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION], gone);
    }
    ea_flag_set(&m_shutdown, 0);
    m_thread = ea_thread_create(user_session_thread, &m_args, nullptr);
    ASSERT_NE(m_thread, nullptr);
    EXPECT_EQ(collect(m_queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR], connections).size(),
              static_cast<size_t>(connections));
    auto lines = [&] { return loggers.lines("user_session_thread"); };
    auto stories = [&]
    { return qel_test::functions_of_lines(lines(), "Received CLIENT_DISCONNECTED").size(); };
    ASSERT_TRUE(qel_test::wait_until([&] { return stories() == LOG_HOLD_STORIES_AT_ONCE; }, 3000))
        << stories();
    EXPECT_TRUE(qel_test::functions_of_lines(lines(), "Left out [").empty()) << "not within the second";
    pf_tick_advance(LOG_FOLD_SECOND_MS);
    EXPECT_TRUE(qel_test::wait_until(
        [&] { return !qel_test::functions_of_lines(lines(), "Left out [").empty(); }, 3000));
    EXPECT_EQ(stop(), EA_SHUTDOWN);
    ASSERT_TRUE(user_session_info_container_set_connection_book(container, nullptr));
    connection_book_destroy(book);

    const std::vector<qel_test::gateway_log_line> written = lines();
    EXPECT_EQ(stories(), static_cast<size_t>(LOG_HOLD_STORIES_AT_ONCE));
    std::vector<std::string> counts;
    for (const qel_test::gateway_log_line &line : written)
    {
        if (line.text.rfind("Left out [", 0) == 0)
            counts.push_back(line.text);
    }
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_NE(counts[0].find("] log lines and binary log records about [" +
                             std::to_string(connections - LOG_HOLD_STORIES_AT_ONCE) +
                             "] connections from IP ["),
              std::string::npos)
        << counts[0];
    qel_test::expect_lines_under(written, {"Left out ["}, "user_session_thread");
}

TEST(UserSessionThreadArgs, MissingArgumentsEndTheThread)
{
    EXPECT_EQ(user_session_thread(nullptr), static_cast<uint32_t>(EA_ERROR));
}
