// Tick count from CLOCK_MONOTONIC with an adjustable offset.
#include "platform/core/pf_tick.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>

namespace
{
std::atomic<uint32_t> g_offset{0};
std::atomic<int> g_holds{0};
std::atomic<uint32_t> g_held_ms{0};

uint32_t monotonic_ms()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<uint32_t>(ms);
}

uint32_t base_ms()
{
    return g_holds.load(std::memory_order_acquire) > 0 ? g_held_ms.load(std::memory_order_relaxed)
                                                       : monotonic_ms();
}

// Only tests move the tick; one that forgets to hold it is stopped where it stands.
void tick_must_be_held(const char *mover)
{
    if (g_holds.load(std::memory_order_relaxed) > 0)
        return;
    fprintf(stderr, "%s moves a running tick count: hold it first (pf_tick_hold)\n", mover);
    fflush(stderr);
    abort();
}
} // namespace

uint32_t pf_tick_count()
{
    return base_ms() + g_offset.load(std::memory_order_relaxed);
}

uint32_t pf_tick_get_offset()
{
    return g_offset.load(std::memory_order_relaxed);
}

void pf_tick_set_offset(uint32_t offset)
{
    tick_must_be_held("pf_tick_set_offset");
    g_offset.store(offset, std::memory_order_relaxed);
}

void pf_tick_advance(uint32_t milliseconds)
{
    tick_must_be_held("pf_tick_advance");
    g_offset.fetch_add(milliseconds, std::memory_order_relaxed);
}

void pf_tick_set(uint32_t value)
{
    tick_must_be_held("pf_tick_set");
    g_offset.store(value - base_ms(), std::memory_order_relaxed);
}

void pf_tick_hold()
{
    if (g_holds.load(std::memory_order_relaxed) == 0)
        g_held_ms.store(monotonic_ms(), std::memory_order_relaxed);
    g_holds.fetch_add(1, std::memory_order_release);
}

void pf_tick_release()
{
    const int holds = g_holds.load(std::memory_order_relaxed);
    if (holds == 0)
        return;
    if (holds > 1)
    {
        g_holds.fetch_sub(1, std::memory_order_release);
        return;
    }
    uint32_t reading = pf_tick_count();
    g_offset.store(reading - monotonic_ms(), std::memory_order_relaxed);
    g_holds.store(0, std::memory_order_release);
}
