// A 16-bit flag or counter that one thread writes and others poll without a lock
// (the shutdown flag, the day flags, the per-link and per-slot arrays of ea_global).
#pragma once

#include <atomic>
#include <cstdint>

typedef std::atomic<uint16_t> ea_flag;

inline uint16_t ea_flag_get(const ea_flag *flag)
{
    return flag->load(std::memory_order_acquire);
}

inline void ea_flag_set(ea_flag *flag, uint16_t value)
{
    flag->store(value, std::memory_order_release);
}
