// The console events that the day's event log file could not take (its folder full, or
// the file not to be made again): held in the order they came, so that a console that
// connects meanwhile still gets them in its replay, and written into the file, in that
// order, once it takes writes again.
//
// The hold keeps at most what one replay can send. When it is full, the oldest event about
// a connection on which no user signed on goes first (a flood of them must not push the
// gateway's own events, a log folder gone full among them, out of a late console's view),
// else the oldest event; the events let go are counted. Used by the interface thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "gateway/interface_module/kova_console_packet.h"

struct interface_event_hold_entry
{
    uint64_t order; // the events' order across both lists
    uint8_t event[KOVA_LOG_MESSAGE_LENGTH];
};

struct interface_event_hold
{
    size_t capacity = 0;
    uint64_t next_order = 0;
    uint64_t let_go = 0; // events put out to make room, since the hold was made
    std::deque<interface_event_hold_entry> without_user;
    std::deque<interface_event_hold_entry> others;
};

// Whether a stored event is about a connection on which no user has signed on: a
// connection event (110xx) that names no user (0) or is the gateway's own (-1).
bool interface_event_about_connection_without_user(const uint8_t *event);

void interface_event_hold_init(interface_event_hold *hold, size_t capacity);
// Holds one event of KOVA_LOG_MESSAGE_LENGTH bytes, making room as above when full.
void interface_event_hold_add(interface_event_hold *hold, const uint8_t *event);
size_t interface_event_hold_count(const interface_event_hold *hold);
// The oldest event held, or null when none is; interface_event_hold_pop lets it go once
// it has gone into the file.
const uint8_t *interface_event_hold_oldest(const interface_event_hold *hold);
void interface_event_hold_pop(interface_event_hold *hold);
// Calls `visit` with every event held, oldest first; stops at the first false.
template <typename Visit> bool interface_event_hold_each(const interface_event_hold *hold, Visit visit)
{
    auto a = hold->without_user.begin(), b = hold->others.begin();
    while (a != hold->without_user.end() || b != hold->others.end())
    {
        const bool take_a = b == hold->others.end() || (a != hold->without_user.end() && a->order < b->order);
        if (!visit((take_a ? a++ : b++)->event))
            return false;
    }
    return true;
}
