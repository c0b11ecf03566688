// The tick count: unsigned 32-bit milliseconds from CLOCK_MONOTONIC, wrapping every 49.7
// days, plus a process-wide offset. Tests set and advance the offset to cross the wrap
// or to move time for timers instead of sleeping; time-outs of waits are not affected.
#pragma once

#include <cstdint>

uint32_t pf_tick_count();
// The offset is added (modulo 2^32) to the monotonic milliseconds.
void pf_tick_set_offset(uint32_t offset);
uint32_t pf_tick_get_offset();
void pf_tick_advance(uint32_t milliseconds);
// Sets the offset so that the tick count reads `value` now.
void pf_tick_set(uint32_t value);
// Holds the tick count still: until released it moves only by the calls above, so a test
// can stand exactly at a boundary. Release lets it run on from where it stands.
void pf_tick_hold();
void pf_tick_release();
