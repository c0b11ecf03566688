// The hold of console events the event log file could not take: two lists in one order,
// so that making room takes the oldest event of the kind that goes first at once.
#include "gateway/interface_module/interface_event_hold.h"

#include <cstring>

#include "gateway/runtime/wire.h"

bool interface_event_about_connection_without_user(const uint8_t *event)
{
    uint16_t reason = get_u16_le(event, KOVA_LOG_OFFSET_REASON_CODE);
    uint32_t user = get_u32_le(event, KOVA_LOG_OFFSET_USER_ID);
    return reason >= 11000 && reason < 11100 && (user == 0 || user == 0xFFFFFFFFu);
}

void interface_event_hold_init(interface_event_hold *hold, size_t capacity)
{
    hold->capacity = capacity;
    hold->next_order = 0;
    hold->let_go = 0;
    hold->without_user.clear();
    hold->others.clear();
}

void interface_event_hold_add(interface_event_hold *hold, const uint8_t *event)
{
    if (hold->capacity == 0)
    {
        ++hold->let_go;
        return;
    }
    if (interface_event_hold_count(hold) >= hold->capacity)
    {
        if (!hold->without_user.empty())
            hold->without_user.pop_front();
        else
            hold->others.pop_front();
        ++hold->let_go;
    }
    interface_event_hold_entry entry;
    entry.order = hold->next_order++;
    memcpy(entry.event, event, KOVA_LOG_MESSAGE_LENGTH);
    (interface_event_about_connection_without_user(event) ? hold->without_user : hold->others)
        .push_back(entry);
}

size_t interface_event_hold_count(const interface_event_hold *hold)
{
    return hold->without_user.size() + hold->others.size();
}

// Whether the oldest event held is the front of the list of events without a user (the
// hold is not empty).
static bool oldest_without_user(const interface_event_hold *hold)
{
    if (hold->others.empty())
        return true;
    return !hold->without_user.empty() && hold->without_user.front().order < hold->others.front().order;
}

const uint8_t *interface_event_hold_oldest(const interface_event_hold *hold)
{
    if (interface_event_hold_count(hold) == 0)
        return nullptr;
    return (oldest_without_user(hold) ? hold->without_user : hold->others).front().event;
}

void interface_event_hold_pop(interface_event_hold *hold)
{
    if (interface_event_hold_count(hold) == 0)
        return;
    (oldest_without_user(hold) ? hold->without_user : hold->others).pop_front();
}
