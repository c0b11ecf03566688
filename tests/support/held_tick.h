// Holds the tick count still for the life of a test scope, so steps that move it stand
// exactly where they say however slowly the machine runs; the offset is put back after.
#pragma once

#include <cstdint>

#include "platform/core/pf_tick.h"

namespace qel_test
{
struct held_tick
{
    uint32_t saved = pf_tick_get_offset();
    held_tick() { pf_tick_hold(); }
    ~held_tick()
    {
        pf_tick_release();
        pf_tick_set_offset(saved);
    }
    held_tick(const held_tick &) = delete;
    held_tick &operator=(const held_tick &) = delete;
};
} // namespace qel_test
