// Ticks and clocks: the millisecond tick count behind every time-out and stamp, the wall
// clock, and the high-resolution counter.
#pragma once

#include <cstdint>
#include <ctime>

#include "common/ea_status.h"

struct ea_high_resolution_timer
{
    int64_t counter;
    int64_t frequency;
};

// Milliseconds since an arbitrary start, wrapping at 2^32; never 0, so that 0 can mean
// "no stamp" in every field that stores a tick.
uint32_t ea_get_tick_count();
// later - earlier in unsigned 32-bit arithmetic (right across a wrap).
uint32_t ea_get_tick_difference(uint32_t later, uint32_t earlier);
// Sleeps microseconds / 1000 ms; a non-zero request below 1000 sleeps 1 ms; 0 yields.
ea_status ea_usleep(uint32_t microseconds);
// The milliseconds that ea_usleep sleeps for a request (999 -> 1, 1999 -> 1, 2000 -> 2).
uint32_t ea_usleep_milliseconds(uint32_t microseconds);
// Wall clock as seconds since 1970 and milliseconds.
void ea_ftime(int64_t *seconds, uint16_t *milliseconds);
void ea_add_milliseconds(int64_t *seconds_out, uint16_t *milliseconds_out, int64_t base_seconds,
                         uint16_t base_milliseconds, uint32_t elapsed_milliseconds);
// Broken-down time (zero-filled first); null when the platform gives none.
struct tm *ea_gmtime(const time_t *time, struct tm *out);
struct tm *ea_localtime(const time_t *time, struct tm *out);

ea_status ea_query_performance_counter(int64_t *counter);
ea_status ea_start_high_resolution_timer(ea_high_resolution_timer *timer);
double ea_get_elapsed_microseconds(int64_t start_counter, int64_t frequency, int64_t now_counter);
// 0 when high-resolution stamps are to be used on this processor, else EA_ERROR.
ea_status ea_check_processor();
