// The tick count's offset: setting, advancing, holding and crossing the 32-bit wrap.
#include "platform/core/pf_tick.h"

#include <gtest/gtest.h>

#include "platform/core/pf_clock.h"

namespace
{
struct restore_offset : ::testing::Test
{
    uint32_t saved = pf_tick_get_offset();
    ~restore_offset() override { pf_tick_set_offset(saved); }
};
} // namespace

using PfTick = restore_offset;

TEST_F(PfTick, AdvanceMovesTheCountForward)
{
    uint32_t before = pf_tick_count();
    pf_tick_advance(3600000);
    uint32_t after = pf_tick_count();
    EXPECT_GE(after - before, 3600000u);
    EXPECT_LT(after - before, 3600000u + 60000u);
}

TEST_F(PfTick, SetNearTheWrapCrossesIt)
{
    pf_tick_set(0xFFFFFFFFu - 4);
    uint32_t before = pf_tick_count();
    EXPECT_GE(before, 0xFFFFFFFFu - 4);
    pf_tick_advance(10);
    uint32_t after = pf_tick_count();
    EXPECT_LT(after, 1000u);
    EXPECT_GE(after - before, 10u);
}

TEST_F(PfTick, AHeldCountMovesOnlyWhenTheTestMovesIt)
{
    pf_tick_hold();
    uint32_t held = pf_tick_count();
    pf_sleep_ms(5);
    EXPECT_EQ(pf_tick_count(), held);
    pf_tick_advance(999);
    EXPECT_EQ(pf_tick_count(), held + 999);
    pf_tick_set(0xFFFFFFFFu);
    pf_sleep_ms(2);
    EXPECT_EQ(pf_tick_count(), 0xFFFFFFFFu);
    pf_tick_release();
    uint32_t released = pf_tick_count();
    EXPECT_LT(released - 0xFFFFFFFFu, 1000u) << "runs on from where it stood";
    pf_sleep_ms(5);
    EXPECT_GE(pf_tick_count() - released, 5u);
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
