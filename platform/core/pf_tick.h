// The tick count: unsigned 32-bit milliseconds from CLOCK_MONOTONIC, wrapping every 49.7
// days, plus a process-wide offset. Tests move the offset to cross the wrap or to move time
// for timers instead of sleeping; time-outs of waits are not affected.
#pragma once

#include <cstdint>

uint32_t pf_tick_count();
uint32_t pf_tick_get_offset();
// Holds the tick count still: until the last hold is released it moves only by the calls
// below, so a test can stand exactly at a boundary however busy the machine is. Holds nest;
// the last release lets the count run on from where it stands.
void pf_tick_hold();
void pf_tick_release();
// The calls that move the count. Each needs a hold and ends the process with a line on
// standard error without one: a step taken on a running clock lands wherever the clock
// has got to by then.
// The offset is added (modulo 2^32) to the monotonic milliseconds.
void pf_tick_set_offset(uint32_t offset);
void pf_tick_advance(uint32_t milliseconds);
// Sets the offset so that the tick count reads `value` now.
void pf_tick_set(uint32_t value);
