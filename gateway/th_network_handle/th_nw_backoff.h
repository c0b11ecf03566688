// th_nw_backoff: the spacing of one host link's connection attempts. A connection that
// ends before it has stayed up for a while (refused, broken, dropped for a poisoned
// record or a failed check) makes the next attempt wait: 1 s after the first such
// failure, twice as long after each further one, at most 30 s. A connection that stayed
// up 30 s or more puts the spacing back to nothing, so a link that breaks once after a
// day's trading reconnects at once. Pure arithmetic on ticks the caller reads, so that
// the schedule can be tested with any clock.
#pragma once

#include <cstdint>

enum : uint32_t
{
    TH_NW_BACKOFF_FIRST_MS = 1000,
    TH_NW_BACKOFF_MAX_MS = 30000,
    TH_NW_BACKOFF_STAYED_UP_MS = 30000,
};

struct th_nw_backoff
{
    uint32_t step_ms;      // the wait after the last attempt; 0: none
    uint32_t attempt_tick; // when the last attempt was made; 0: none yet
    uint32_t end_tick;     // when that attempt's connection ended; 0: not ended
};

// A connection attempt is asked for at `now`. Moves the step on (or back to 0) by how long
// the last attempt's connection lasted, and returns how many milliseconds from now the
// attempt must wait (0: it may go at once).
uint32_t th_nw_backoff_next_wait(th_nw_backoff *backoff, uint32_t now);
// An attempt is made at `now`.
void th_nw_backoff_attempt(th_nw_backoff *backoff, uint32_t now);
// The attempt's connection ended (or the attempt failed) at `now`; later calls are ignored
// until the next attempt.
void th_nw_backoff_end(th_nw_backoff *backoff, uint32_t now);
// How long the last attempt's connection lasted, up to `now` while it is still up.
uint32_t th_nw_backoff_last_uptime(const th_nw_backoff *backoff, uint32_t now);
