// The console events that say a log's writes fail and succeed again: a KOVA_MESSAGE on
// the queue with user id -1, the reason and the value as extra information (a count past
// 32 bits shows as the largest it can).
#include "gateway/runtime/log_write_events.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"

TEST(LogWriteEvents, FailingAndResumedEventsCarryTheReasonAndTheValue)
{
    shared_queue *events = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
    ASSERT_NE(events, nullptr);
    EXPECT_TRUE(log_write_event_raise(events, true, ENOSPC));
    log_write_event_tell(events, false, 42);
    EXPECT_TRUE(log_write_event_raise(events, false, uint64_t(1) << 40));
    EXPECT_FALSE(log_write_event_raise(nullptr, true, ENOSPC));

    queue *local = queue_create();
    ASSERT_EQ(shared_queue_get_elements_from_single_queue(events, local, 0), EA_SUCCESS);
    struct
    {
        uint16_t reason;
        int32_t value;
    } expected[] = {{13004, ENOSPC}, {13005, 42}, {13005, -1}};
    for (const auto &e : expected)
    {
        message *event = static_cast<message *>(queue_remove_head(local));
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->tag, KOVA_MESSAGE);
        EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
        EXPECT_EQ(event->reason_code, e.reason);
        EXPECT_EQ(event->event_value, e.value);
        EXPECT_EQ(event->data_length, 0u);
        message_destroy(event);
    }
    EXPECT_EQ(queue_remove_head(local), nullptr);
    queue_destroy(local);
    shared_queue_destroy(events);
}
