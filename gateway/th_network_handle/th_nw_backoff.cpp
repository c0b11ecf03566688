// The spacing of a host link's box logons (see th_nw_backoff.h). Ticks wrap at 2^32 ms;
// every span is an unsigned difference, so the schedule holds across a wrap.
#include "gateway/th_network_handle/th_nw_backoff.h"

void th_nw_backoff_established(th_nw_backoff *backoff, uint32_t now)
{
    if (backoff->up)
        return;
    backoff->up = true;
    backoff->up_tick = now;
    backoff->refused = false;
}

bool th_nw_backoff_ended(th_nw_backoff *backoff, uint32_t now, uint32_t *uptime_ms)
{
    if (!backoff->up)
        return false;
    backoff->up = false;
    const uint32_t uptime = now - backoff->up_tick;
    *uptime_ms = uptime;
    if (uptime >= TH_NW_BACKOFF_AT_ONCE_MS)
    {
        backoff->ended_at_once = 0;
        return true;
    }
    if (backoff->ended_at_once < UINT32_MAX)
        ++backoff->ended_at_once;
    backoff->last_end_tick = now;
    return true;
}

void th_nw_backoff_refused(th_nw_backoff *backoff, uint32_t now)
{
    backoff->refused = true;
    backoff->refused_tick = now;
}

uint32_t th_nw_backoff_step(uint32_t ended_at_once)
{
    if (ended_at_once <= TH_NW_BACKOFF_FORGIVEN_ENDS)
        return 0;
    uint32_t step = TH_NW_BACKOFF_FIRST_MS;
    for (uint32_t n = TH_NW_BACKOFF_FORGIVEN_ENDS + 1; n < ended_at_once && step < TH_NW_BACKOFF_MAX_MS; ++n)
        step *= 2;
    return step < TH_NW_BACKOFF_MAX_MS ? step : TH_NW_BACKOFF_MAX_MS;
}

uint32_t th_nw_backoff_refused_wait(const th_nw_backoff *backoff, uint32_t now)
{
    if (backoff->up || !backoff->refused)
        return 0;
    const uint32_t since_refused = now - backoff->refused_tick;
    return since_refused >= TH_NW_BACKOFF_REFUSED_MS ? 0 : TH_NW_BACKOFF_REFUSED_MS - since_refused;
}

uint32_t th_nw_backoff_wait(const th_nw_backoff *backoff, uint32_t now)
{
    // A connection still up is ended by the order before it connects anew, and counted then.
    if (backoff->up)
        return 0;
    const uint32_t step = th_nw_backoff_step(backoff->ended_at_once);
    const uint32_t since_end = now - backoff->last_end_tick;
    const uint32_t after_ends = since_end >= step ? 0 : step - since_end;
    const uint32_t after_refusal = th_nw_backoff_refused_wait(backoff, now);
    return after_ends > after_refusal ? after_ends : after_refusal;
}
