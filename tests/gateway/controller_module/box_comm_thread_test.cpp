// The box communication thread with real shared queues: a client connection becomes a
// box sign-on, the host's answers become the client's acceptance and console events, the
// day flag is served, and an unknown notification stops the gateway.
#include <gtest/gtest.h>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/shared/log_fold.h"
#include "platform/core/pf_tick.h"
#include "support/box_session_support.h"
#include "support/gateway_log.h"

using namespace qel_test;

namespace
{
struct BoxCommThread : ::testing::Test
{
    box_environment env;
    shared_queue *q9 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q14 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q10 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q15 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q22 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    shared_queue *q16 = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
    shared_queue *q19 = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ea_flag shutdown{0};
    ea_flag day{0};
    box_comm_thread_args args{};
    ea_thread *thread = nullptr;

    void SetUp() override
    {
        args = {env.box, q9, q14, q10, q15, q22, q16, q19, 10, &day, &shutdown, env.logger};
        thread = ea_thread_create(box_comm_thread, &args, nullptr);
        ASSERT_NE(thread, nullptr);
    }
    ~BoxCommThread() override
    {
        if (thread != nullptr)
        {
            ea_flag_set(&shutdown, 1);
            ea_thread_join(thread, 5000, nullptr);
            ea_thread_close(thread);
        }
        for (shared_queue *sq : {q9, q14, q10, q15, q22, q16, q19})
        {
            queue *rest = queue_create();
            shared_queue_get_elements_no_wait(sq, rest);
            ea_destroy_message_queue(rest);
            shared_queue_destroy(sq);
        }
    }
    // Waits for n records on a shared queue; returns their tags (and reason codes for 19).
    std::vector<uint16_t> collect(shared_queue *sq, size_t n, bool reasons = false)
    {
        std::vector<uint16_t> out;
        queue *local = queue_create();
        wait_until(
            [&]
            {
                shared_queue_get_elements_no_wait(sq, local);
                return queue_get_count(local) >= n;
            },
            5000);
        std::vector<message *> records = take_all(local);
        for (message *msg : records)
            out.push_back(reasons ? msg->reason_code : msg->tag);
        free_all(records);
        queue_destroy(local);
        return out;
    }
    uint32_t end()
    {
        EXPECT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
        uint32_t value = static_cast<uint32_t>(thread->exit_value);
        ea_thread_close(thread);
        thread = nullptr;
        return value;
    }
};
} // namespace

TEST_F(BoxCommThread, SignsTheBoxOnForTheFirstClientAndAcceptsIt)
{
    shared_queue_insert_single_element(q14, message_create(0, INCOMING_CLIENT_CONNECTION));
    EXPECT_EQ(collect(q10, 1), std::vector<uint16_t>{BOX_LOGON_REQUEST});
    shared_queue_insert_single_element(q14, notification(HOST_CONNECTION_INITIATED, 0, 5));
    wait_until([&] { return env.link0().host_nw_handle.load() == 5; }, 5000);
    shared_queue_insert_single_element(q9, host_record(23001, 40, {{4, 0x1234}}, 0, 5));
    shared_queue_insert_single_element(q9, host_record(23007, 40, {{4, 100}, {6, 5}, {8, 0x1234}}, 0, 5));
    EXPECT_EQ(collect(q15, 1), std::vector<uint16_t>{CONNECTION_ACCEPT});
    EXPECT_EQ(collect(q19, 3, true), (std::vector<uint16_t>{12015, 12016, 12010}));
    EXPECT_EQ(env.link0().box_status.load(), LOGGED_ON);

    ea_flag_set(&day, 1);
    EXPECT_TRUE(wait_until([&] { return ea_flag_get(&day) == 0; }, 5000));
    ea_flag_set(&shutdown, 1);
    EXPECT_EQ(end(), static_cast<uint32_t>(EA_SHUTDOWN));
}

TEST_F(BoxCommThread, UnknownNotificationStopsTheGateway)
{
    shared_queue_insert_single_element(q14, notification(PULL_NOTIFICATION, 0, 5));
    EXPECT_EQ(end(), static_cast<uint32_t>(EA_ERROR));
    EXPECT_EQ(ea_flag_get(&shutdown), 1);
}

TEST_F(BoxCommThread, HostAnswerInTheSamePassAsItsConnectionIsRecognised)
{
    shared_queue_insert_single_element(q14, message_create(0, INCOMING_CLIENT_CONNECTION));
    EXPECT_EQ(collect(q10, 1), std::vector<uint16_t>{BOX_LOGON_REQUEST});
    // Stop the thread so that the connection's notice and the host's first answers are
    // both waiting when it runs again, and so are taken in one pass.
    ea_flag_set(&shutdown, 1);
    EXPECT_EQ(end(), static_cast<uint32_t>(EA_SHUTDOWN));
    ea_flag_set(&shutdown, 0);
    shared_queue_insert_single_element(q14, notification(HOST_CONNECTION_INITIATED, 0, 5));
    shared_queue_insert_single_element(q9, host_record(23001, 40, {{4, 0x1234}}, 0, 5));
    shared_queue_insert_single_element(q9, host_record(23007, 40, {{4, 100}, {6, 5}, {8, 0x1234}}, 0, 5));
    thread = ea_thread_create(box_comm_thread, &args, nullptr);
    ASSERT_NE(thread, nullptr);

    EXPECT_EQ(collect(q15, 1), std::vector<uint16_t>{CONNECTION_ACCEPT});
    EXPECT_EQ(env.link0().box_status.load(), LOGGED_ON);
}

// The admission lines of a flood of workstation connections are folded; the count of those
// left out is logged under the routine a second after the spell began (the test moves the
// held tick count), and only then.
TEST_F(BoxCommThread, CountsTheAdmissionLinesItLeftOutUnderItsRoutine)
{
    const int notices = 3 * LOG_FOLD_LINES_AT_ONCE;
    queue *batch = queue_create();
    for (int i = 0; i < notices; ++i)
        queue_append(batch, message_create(0, INCOMING_CLIENT_CONNECTION));
    // Handled after them in the same pass: once the link has its handle, the flood is in.
    queue_append(batch, notification(HOST_CONNECTION_INITIATED, 0, 5));
    shared_queue_insert(q14, batch);
    queue_destroy(batch);
    EXPECT_EQ(collect(q10, 1), std::vector<uint16_t>{BOX_LOGON_REQUEST});
    ASSERT_TRUE(wait_until([&] { return env.link0().host_nw_handle.load() == 5; }, 5000));
    auto lines = [&] { return gateway_log_lines(env.dir.file("logs"), "box_session_test"); };
    auto counts = [&] { return functions_of_lines(lines(), "Left out [").size(); };
    const char *const received = "Received INCOMING_CLIENT_CONNECTION Notification from TWS Nw Handler";
    EXPECT_LT(functions_of_lines(lines(), received).size(), static_cast<size_t>(notices));
    pf_tick_advance(LOG_FOLD_SECOND_MS - 1);
    EXPECT_FALSE(wait_until([&] { return counts() > 0; }, 100)) << "not within the second";
    pf_tick_advance(1);
    EXPECT_TRUE(wait_until([&] { return counts() > 0; }, 3000));
    ea_flag_set(&shutdown, 1);
    EXPECT_EQ(end(), static_cast<uint32_t>(EA_SHUTDOWN));
    EXPECT_EQ(counts(), 1u) << "the stop has nothing more to say";
    expect_lines_under(lines(), {"Left out ["}, "box_comm_thread");
}
