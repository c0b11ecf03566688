// th_nw_backoff: the spacing of one host link's box logons, against a host that takes a
// connection and ends it at once (closes it, breaks it, or refuses the box on it) and
// against a host that is down (refuses the connect). With clients arriving, each of which
// starts a logon, either would otherwise make the gateway reconnect without pause.
// Connections that were established and ended within TH_NW_BACKOFF_AT_ONCE_MS count: one
// such end is forgiven (a host that refuses a relogon after an outage is answered by a
// fresh logon); from the second in a row on, the next logon waits 1 s after the last end,
// then 2 s, then at most 4 s. A connect that failed makes the next logon wait until
// TH_NW_BACKOFF_REFUSED_MS after the failure, and no longer however many fail, so that the
// first trader after the host's return is in within about a second. A connection that
// stayed up holds nothing back. Session recovery's relogons never wait here: their own
// schedule spaces them a second apart and gives up after 20 s. Pure arithmetic on ticks the
// caller reads, so that the schedule can be tested with any clock.
#pragma once

#include <cstdint>

enum : uint32_t
{
    TH_NW_BACKOFF_AT_ONCE_MS = 2000,
    TH_NW_BACKOFF_FORGIVEN_ENDS = 1,
    TH_NW_BACKOFF_FIRST_MS = 1000,
    TH_NW_BACKOFF_MAX_MS = 4000,
    TH_NW_BACKOFF_REFUSED_MS = 1000,
};

struct th_nw_backoff
{
    bool up;                // a connection is established and has not ended
    uint32_t up_tick;       // when it was established
    uint32_t ended_at_once; // established connections in a row that ended at once
    uint32_t last_end_tick; // when the last of them ended
    bool refused;           // the last connect failed
    uint32_t refused_tick;  // when it failed
};

// The link's connection was established at `now`; a second report of the same connection
// changes nothing.
void th_nw_backoff_established(th_nw_backoff *backoff, uint32_t now);
// The link's connection ended at `now`, whichever side ended it. False when none was
// established (a connect that failed); otherwise true, with how long it had been up.
bool th_nw_backoff_ended(th_nw_backoff *backoff, uint32_t now, uint32_t *uptime_ms);
// A connect of the link failed at `now`: the connection was never established.
void th_nw_backoff_refused(th_nw_backoff *backoff, uint32_t now);
// The wait after `ended_at_once` connections in a row that ended at once.
uint32_t th_nw_backoff_step(uint32_t ended_at_once);
// How many milliseconds from `now` a box logon must still wait (0: it may go now).
uint32_t th_nw_backoff_wait(const th_nw_backoff *backoff, uint32_t now);
// Of that wait, what the last failed connect asks for alone.
uint32_t th_nw_backoff_refused_wait(const th_nw_backoff *backoff, uint32_t now);
