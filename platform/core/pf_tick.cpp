// Tick count from CLOCK_MONOTONIC with an adjustable offset.
#include "platform/core/pf_tick.h"

#include <time.h>

#include <atomic>

namespace
{
std::atomic<uint32_t> g_offset{0};
std::atomic<bool> g_held{false};
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
    return g_held.load(std::memory_order_acquire) ? g_held_ms.load(std::memory_order_relaxed)
                                                  : monotonic_ms();
}
} // namespace

uint32_t pf_tick_count()
{
    return base_ms() + g_offset.load(std::memory_order_relaxed);
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
    g_offset.store(value - base_ms(), std::memory_order_relaxed);
}

void pf_tick_hold()
{
    if (g_held.load(std::memory_order_relaxed))
        return;
    g_held_ms.store(monotonic_ms(), std::memory_order_relaxed);
    g_held.store(true, std::memory_order_release);
}

void pf_tick_release()
{
    if (!g_held.load(std::memory_order_relaxed))
        return;
    uint32_t reading = pf_tick_count();
    g_held.store(false, std::memory_order_release);
    pf_tick_set(reading);
}
