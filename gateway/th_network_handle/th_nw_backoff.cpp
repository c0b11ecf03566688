// The spacing of a host link's connection attempts (see th_nw_backoff.h). Ticks wrap at
// 2^32 ms; every span is an unsigned difference, so the schedule holds across a wrap.
#include "gateway/th_network_handle/th_nw_backoff.h"

uint32_t th_nw_backoff_last_uptime(const th_nw_backoff *backoff, uint32_t now)
{
    if (backoff->attempt_tick == 0)
        return 0;
    uint32_t end = backoff->end_tick != 0 ? backoff->end_tick : now;
    return end - backoff->attempt_tick;
}

uint32_t th_nw_backoff_next_wait(th_nw_backoff *backoff, uint32_t now)
{
    if (backoff->attempt_tick == 0)
        return 0;
    if (th_nw_backoff_last_uptime(backoff, now) >= TH_NW_BACKOFF_STAYED_UP_MS)
    {
        backoff->step_ms = 0;
        return 0;
    }
    if (backoff->step_ms == 0)
        backoff->step_ms = TH_NW_BACKOFF_FIRST_MS;
    else if (backoff->step_ms < TH_NW_BACKOFF_MAX_MS / 2)
        backoff->step_ms *= 2;
    else
        backoff->step_ms = TH_NW_BACKOFF_MAX_MS;
    uint32_t since_attempt = now - backoff->attempt_tick;
    return since_attempt >= backoff->step_ms ? 0 : backoff->step_ms - since_attempt;
}

void th_nw_backoff_attempt(th_nw_backoff *backoff, uint32_t now)
{
    backoff->attempt_tick = now;
    backoff->end_tick = 0;
}

void th_nw_backoff_end(th_nw_backoff *backoff, uint32_t now)
{
    if (backoff->attempt_tick != 0 && backoff->end_tick == 0)
        backoff->end_tick = now;
}
