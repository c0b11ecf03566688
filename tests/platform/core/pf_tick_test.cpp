// The tick count's offset: setting, advancing, holding and crossing the 32-bit wrap, and
// the rule that only a held count is moved.
#include "platform/core/pf_tick.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/core/pf_clock.h"
#include "support/held_tick.h"

TEST(PfTick, AdvanceAndSetMoveAHeldCountExactlyAcrossTheWrap)
{
    qel_test::held_tick held;
    uint32_t before = pf_tick_count();
    pf_sleep_ms(5);
    EXPECT_EQ(pf_tick_count(), before) << "held";
    pf_tick_advance(3600000);
    EXPECT_EQ(pf_tick_count(), before + 3600000u);
    pf_tick_set(0xFFFFFFFFu - 4);
    EXPECT_EQ(pf_tick_count(), 0xFFFFFFFFu - 4);
    pf_tick_advance(10);
    EXPECT_EQ(pf_tick_count(), 5u);
    pf_tick_set_offset(pf_tick_get_offset() + 1);
    EXPECT_EQ(pf_tick_count(), 6u);
}

TEST(PfTick, HoldsNestAndTheLastReleaseRunsOnFromWhereTheCountStood)
{
    const uint32_t offset = pf_tick_get_offset();
    pf_tick_hold();
    pf_tick_set(0xFFFFFFFFu);
    {
        qel_test::held_tick inner;
        pf_tick_advance(999);
        EXPECT_EQ(pf_tick_count(), 998u);
    }
    pf_sleep_ms(2);
    EXPECT_EQ(pf_tick_count(), 0xFFFFFFFFu) << "the inner scope put the count back and it is still held";
    pf_tick_release();
    uint32_t released = pf_tick_count();
    EXPECT_LT(released - 0xFFFFFFFFu, 1000u) << "runs on from where it stood";
    pf_sleep_ms(5);
    EXPECT_GE(pf_tick_count() - released, 5u);
    pf_tick_hold();
    pf_tick_set_offset(offset);
    pf_tick_release();
}

TEST(PfTickDeathTest, MovingARunningCountEndsTheProcess)
{
    const struct
    {
        const char *mover;
        std::function<void()> move;
    } movers[] = {
        {"pf_tick_advance", [] { pf_tick_advance(1); }},
        {"pf_tick_set", [] { pf_tick_set(1); }},
        {"pf_tick_set_offset", [] { pf_tick_set_offset(1); }},
    };
    for (const auto &m : movers)
    {
        EXPECT_DEATH(m.move(), std::string(m.mover) + " moves a running tick count: hold it first")
            << m.mover;
        {
            qel_test::held_tick held; // a hold released makes the count run again
        }
        EXPECT_DEATH(m.move(), "hold it first") << m.mover << " after a release";
    }
}

TEST(PfClock, PerformanceCounterRunsInNanoseconds)
{
    EXPECT_EQ(pf_performance_frequency(), 1000000000);
    int64_t first = pf_performance_counter();
    pf_sleep_ms(2);
    EXPECT_GE(pf_performance_counter() - first, 2000000);
}

TEST(PfClock, X86CountsAsTheHighResolutionProcessor)
{
#if defined(__x86_64__)
    EXPECT_EQ(pf_processor_architecture(), PF_PROCESSOR_ARCHITECTURE_INTEL);
#else
    GTEST_SKIP() << "not an x86-64 build";
#endif
}
