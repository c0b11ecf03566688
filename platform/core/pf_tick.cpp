// Tick count from CLOCK_MONOTONIC with an adjustable offset.
#include "platform/core/pf_tick.h"

#include <time.h>

#include <atomic>

namespace
{
std::atomic<uint32_t> g_offset{0};

uint32_t monotonic_ms()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    return static_cast<uint32_t>(ms);
}
} // namespace

uint32_t pf_tick_count()
{
    return monotonic_ms() + g_offset.load(std::memory_order_relaxed);
}

void pf_tick_set_offset(uint32_t offset)
{
    g_offset.store(offset, std::memory_order_relaxed);
}

uint32_t pf_tick_get_offset()
{
    return g_offset.load(std::memory_order_relaxed);
}

void pf_tick_advance(uint32_t milliseconds)
{
    g_offset.fetch_add(milliseconds, std::memory_order_relaxed);
}

void pf_tick_set(uint32_t value)
{
    g_offset.store(value - monotonic_ms(), std::memory_order_relaxed);
}
