// Holds the tick count still for the life of a test scope, so steps that move it stand
// exactly where they say however slowly the machine runs. Every test that moves the tick
// holds it, once, in its fixture: the tick layer ends a test that moves a running tick.
// At the end of the scope the count reads again what it read at its start, and runs on.
#pragma once

#include <cstdint>

#include "platform/core/pf_tick.h"

namespace qel_test
{
struct held_tick
{
    uint32_t saved;
    held_tick()
    {
        pf_tick_hold();
        saved = pf_tick_get_offset();
    }
    ~held_tick()
    {
        pf_tick_set_offset(saved);
        pf_tick_release();
    }
    held_tick(const held_tick &) = delete;
    held_tick &operator=(const held_tick &) = delete;
};
} // namespace qel_test
