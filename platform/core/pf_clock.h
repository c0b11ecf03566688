// The other clocks: the high-resolution performance counter, the wall clock, sleeping,
// and the processor architecture code that decides whether high-resolution stamps are on.
#pragma once

#include <cstdint>

// CLOCK_MONOTONIC in nanoseconds; the frequency is therefore 10^9 per second.
int64_t pf_performance_counter();
int64_t pf_performance_frequency();
// Wall clock: seconds since 1970 and milliseconds.
void pf_wall_clock(int64_t *seconds, uint16_t *milliseconds);
// Sleeps the given milliseconds (resuming after signals); 0 gives up the processor.
void pf_sleep_ms(uint32_t milliseconds);

enum : uint16_t
{
    PF_PROCESSOR_ARCHITECTURE_INTEL = 0,
    PF_PROCESSOR_ARCHITECTURE_ARM = 5,
    PF_PROCESSOR_ARCHITECTURE_ARM64 = 12,
    PF_PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF,
};

// 0 (Intel) on x86 and x86-64, whose invariant time-stamp counter backs CLOCK_MONOTONIC.
uint16_t pf_processor_architecture();
