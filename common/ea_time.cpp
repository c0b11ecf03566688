// Tick and clock helpers. Every tick goes through the platform's tick source, so that
// the offset tests use to cross the wrap or to move time applies everywhere.
#include "common/ea_time.h"

#include <cstring>

#include "platform/core/pf_clock.h"
#include "platform/core/pf_tick.h"

uint32_t ea_get_tick_count()
{
    uint32_t tick = pf_tick_count();
    while (tick == 0)
    {
        pf_sleep_ms(1);
        tick = pf_tick_count();
    }
    return tick;
}

uint32_t ea_get_tick_difference(uint32_t later, uint32_t earlier)
{
    return later - earlier;
}

uint32_t ea_usleep_milliseconds(uint32_t microseconds)
{
    if (microseconds > 0 && microseconds < 1000)
    {
        return 1;
    }
    return microseconds / 1000;
}

ea_status ea_usleep(uint32_t microseconds)
{
    pf_sleep_ms(ea_usleep_milliseconds(microseconds));
    return EA_SUCCESS;
}

void ea_ftime(int64_t *seconds, uint16_t *milliseconds)
{
    pf_wall_clock(seconds, milliseconds);
}

void ea_add_milliseconds(int64_t *seconds_out, uint16_t *milliseconds_out, int64_t base_seconds,
                         uint16_t base_milliseconds, uint32_t elapsed_milliseconds)
{
    uint32_t ms = elapsed_milliseconds % 1000 + base_milliseconds;
    *seconds_out = base_seconds + elapsed_milliseconds / 1000 + ms / 1000;
    *milliseconds_out = static_cast<uint16_t>(ms % 1000);
}

struct tm *ea_gmtime(const time_t *time, struct tm *out)
{
    std::memset(out, 0, sizeof *out);
    return gmtime_r(time, out);
}

struct tm *ea_localtime(const time_t *time, struct tm *out)
{
    std::memset(out, 0, sizeof *out);
    return localtime_r(time, out);
}

ea_status ea_query_performance_counter(int64_t *counter)
{
    if (counter == nullptr)
    {
        return EA_ERROR;
    }
    *counter = pf_performance_counter();
    return EA_SUCCESS;
}

ea_status ea_start_high_resolution_timer(ea_high_resolution_timer *timer)
{
    if (timer == nullptr)
    {
        return EA_ERROR;
    }
    timer->frequency = pf_performance_frequency();
    if (timer->frequency <= 0)
    {
        return EA_ERROR;
    }
    return ea_query_performance_counter(&timer->counter);
}

double ea_get_elapsed_microseconds(int64_t start_counter, int64_t frequency, int64_t now_counter)
{
    if (frequency <= 0)
    {
        return 0.0;
    }
    return static_cast<double>(now_counter - start_counter) / static_cast<double>(frequency) * 1000000.0;
}

ea_status ea_check_processor()
{
    return pf_processor_architecture() == PF_PROCESSOR_ARCHITECTURE_INTEL ? EA_SUCCESS : EA_ERROR;
}
