// The changing pace of the threads of a race test: each thread has its own sequence
// (a small xorshift generator of its own), mostly back to back, now and then a short busy
// pause, a yield, or a sleep long enough for a waiter to stop spinning and sleep itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace qel_test
{

// How often each kind of pause comes, per thousand steps, and how long it lasts.
struct race_pace_mix
{
    uint32_t back_to_back; // steps in 1000 with no pause
    uint32_t busy_before;  // below this roll: a busy pause of up to busy_max_us
    uint32_t yield_before; // below this roll: a yield; the rest sleep
    uint32_t busy_max_us;
    uint32_t sleep_spread_us; // a sleep lasts 50 us plus up to this
};

struct race_pace
{
    uint64_t state;
    race_pace_mix mix;

    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 32);
    }
    void between()
    {
        uint32_t roll = next() % 1000;
        if (roll < mix.back_to_back)
            return;
        if (roll < mix.busy_before)
        {
            auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds(next() % mix.busy_max_us);
            while (std::chrono::steady_clock::now() < until)
            {
            }
        }
        else if (roll < mix.yield_before)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50 + next() % mix.sleep_spread_us));
    }
};

} // namespace qel_test
