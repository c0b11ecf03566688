// The queue watchdog: when a shared queue counts as stalled, which event it raises and
// when the gateway counts as normal again. Time is moved with the tick offset.
#include "gateway/controller_module/state_controller_info.h"

#include <gtest/gtest.h>

#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "platform/core/pf_tick.h"
#include "support/gateway_log.h"
#include "support/held_tick.h"

namespace
{
struct StateController : ::testing::Test
{
    qel_test::held_tick held;
    shared_queue *queues[STATE_CONTROLLER_QUEUE_COUNT] = {};
    ea_flag state_flag{0};
    ea_flag base_rate{100};
    state_controller_info *controller = nullptr;
    queue *events = nullptr;

    void SetUp() override
    {
        for (shared_queue *&sq : queues)
            sq = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        controller = state_controller_info_create(&state_flag, &base_rate, queues, nullptr);
        events = queue_create();
    }
    void TearDown() override
    {
        ea_destroy_message_queue(events);
        state_controller_info_destroy(controller);
        for (shared_queue *sq : queues)
        {
            queue *drained = queue_create();
            shared_queue_get_elements_no_wait(sq, drained);
            ea_destroy_message_queue(drained);
            shared_queue_destroy(sq);
        }
    }
    void put_record(int index)
    {
        ASSERT_EQ(shared_queue_insert_single_element(queues[index], message_create(10, NORMAL_MESSAGE)),
                  EA_SUCCESS);
    }
    void drain(int index)
    {
        queue *drained = queue_create();
        shared_queue_get_elements_no_wait(queues[index], drained);
        ea_destroy_message_queue(drained);
    }
    // Reason codes of the events raised since the last call.
    std::vector<uint16_t> take_events()
    {
        std::vector<uint16_t> codes;
        while (message *event = static_cast<message *>(queue_remove_head(events)))
        {
            EXPECT_EQ(event->tag, KOVA_MESSAGE);
            EXPECT_EQ(event->data_length, 0);
            EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
            codes.push_back(event->reason_code);
            message_destroy(event);
        }
        return codes;
    }
    std::vector<uint16_t> check()
    {
        EXPECT_EQ(state_controller_info_monitor_squeue(controller, events, nullptr), EA_SUCCESS);
        return take_events();
    }
};
} // namespace

TEST_F(StateController, EmptyGatewayStaysNormal)
{
    pf_tick_advance(1000000);
    EXPECT_TRUE(check().empty());
    EXPECT_EQ(ea_flag_get(&state_flag), 0);
}

TEST_F(StateController, StallIsAboveTheThresholdNotAtIt)
{
    put_record(4);
    pf_tick_advance(10000); // the threshold: 100 x 100 ms
    EXPECT_TRUE(check().empty());
    pf_tick_advance(1);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_ABNORMAL_STATE});
    EXPECT_EQ(ea_flag_get(&state_flag), 1);
    EXPECT_EQ(controller->threshold, 10000u);

    pf_tick_advance(5000);
    EXPECT_TRUE(check().empty()) << "a stall that persists raises no second event";

    drain(4);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_NORMAL_STATE});
    EXPECT_EQ(ea_flag_get(&state_flag), 0);
}

TEST_F(StateController, TwoStalledQueuesGiveOneEvent)
{
    put_record(7);
    put_record(2);
    pf_tick_advance(10100);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_ABNORMAL_STATE});
    drain(2);
    EXPECT_TRUE(check().empty()) << "queue 7 still keeps the state abnormal";
    drain(7);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_NORMAL_STATE});
}

TEST_F(StateController, ThresholdFollowsTheBaseRate)
{
    ea_flag_set(&base_rate, 20);
    put_record(0);
    pf_tick_advance(2100);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_ABNORMAL_STATE});
    EXPECT_EQ(controller->threshold, 2000u);
}

TEST_F(StateController, EachCheckLogsItsLinesUnderItsOwnName)
{
    qel_test::gateway_test_loggers loggers({"state_controller_thread"});
    logger_object *logger = loggers.get("state_controller_thread");
    put_record(3);
    pf_tick_advance(10100);
    EXPECT_EQ(state_controller_info_monitor_squeue(controller, events, logger), EA_SUCCESS);
    drain(3);
    EXPECT_EQ(state_controller_info_monitor_squeue(controller, events, logger), EA_SUCCESS);
    EXPECT_EQ(take_events(), (std::vector<uint16_t>{REASON_ABNORMAL_STATE, REASON_NORMAL_STATE}));
    qel_test::expect_lines_under(loggers.lines("state_controller_thread"),
                                 {"QEL application is in Abnormal State",
                                  "Shared Queue [3] is not functioning",
                                  "QEL application is now in Normal State",
                                  "Sent KOVA_MESSAGE to Interface Thread with reason code [13001]",
                                  "Sent KOVA_MESSAGE to Interface Thread with reason code [13002]"},
                                 "state_controller_info_monitor_squeue");
}

TEST_F(StateController, TickWrapBetweenInsertAndCheck)
{
    pf_tick_set(0xFFFFFFFFu - 3000);
    put_record(9);
    pf_tick_advance(8000); // across the wrap: 8000 ms have passed
    EXPECT_TRUE(check().empty());
    pf_tick_advance(2100);
    EXPECT_EQ(check(), std::vector<uint16_t>{REASON_ABNORMAL_STATE});
}
