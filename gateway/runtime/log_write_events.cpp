// Console events 13004 and 13005, built as every module builds its events.
#include "gateway/runtime/log_write_events.h"

#include "gateway/runtime/message.h"
#include "gateway/runtime/shared_queue.h"

message *log_write_event_create(bool failing, uint64_t value)
{
    message *event = message_create(0, KOVA_MESSAGE);
    if (event == nullptr)
        return nullptr;
    event->user_id = static_cast<uint32_t>(-1);
    event->reason_code = failing ? LOG_WRITES_FAILING_REASON : LOG_WRITES_RESUMED_REASON;
    event->event_value = static_cast<int32_t>(value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value));
    return event;
}

bool log_write_event_raise(shared_queue *events, bool failing, uint64_t value)
{
    if (events == nullptr)
        return false;
    message *event = log_write_event_create(failing, value);
    if (event == nullptr)
        return false;
    if (shared_queue_insert_single_element(events, event) != EA_SUCCESS)
    {
        message_destroy(event);
        return false;
    }
    return true;
}

void log_write_event_tell(void *events, bool failing, uint64_t value)
{
    log_write_event_raise(static_cast<shared_queue *>(events), failing, value);
}
