// Tick arithmetic across the wrap, the tick offset, ea_usleep's rounding, and the
// conversions of clock values.
#include "common/ea_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/core/pf_clock.h"
#include "platform/core/pf_tick.h"
#include "support/held_tick.h"

namespace
{
struct EaTick : ::testing::Test
{
    qel_test::held_tick held;
};
} // namespace

TEST(EaTime, TickDifferenceAcrossTheWrap)
{
    EXPECT_EQ(ea_get_tick_difference(5, 0xFFFFFFFFu - 4), 10u);
    EXPECT_EQ(ea_get_tick_difference(1000, 400), 600u);
    EXPECT_EQ(ea_get_tick_difference(0, 0xFFFFFFFFu), 1u);
}

TEST_F(EaTick, OffsetNearTheWrapAppliesToTheLibraryTick)
{
    pf_tick_set(0xFFFFFFFFu - 100);
    EXPECT_EQ(ea_get_tick_count(), 0xFFFFFFFFu - 100);
    pf_tick_advance(200);
    EXPECT_EQ(ea_get_tick_count(), 99u);
    EXPECT_EQ(ea_get_tick_difference(99u, 0xFFFFFFFFu - 100), 200u);
}

// A count that reads 0 is waited out: the call returns the first reading past it, which
// here comes only when another thread moves the held count.
TEST_F(EaTick, TickCountIsNeverZero)
{
    pf_tick_set(0);
    std::thread mover(
        []
        {
            pf_sleep_ms(20);
            pf_tick_advance(1);
        });
    EXPECT_EQ(ea_get_tick_count(), 1u);
    mover.join();
}

TEST(EaTime, UsleepRounding)
{
    struct
    {
        uint32_t microseconds;
        uint32_t milliseconds;
    } cases[] = {{0, 0}, {1, 1}, {999, 1}, {1000, 1}, {1999, 1}, {2000, 2}, {2500000, 2500}};
    for (const auto &c : cases)
    {
        EXPECT_EQ(ea_usleep_milliseconds(c.microseconds), c.milliseconds) << c.microseconds;
    }
    EXPECT_EQ(ea_usleep(0), EA_SUCCESS);
    EXPECT_EQ(ea_usleep(999), EA_SUCCESS);
}

TEST(EaTime, AddMillisecondsNormalises)
{
    struct
    {
        int64_t base_seconds;
        uint16_t base_ms;
        uint32_t elapsed;
        int64_t seconds;
        uint16_t ms;
    } cases[] = {
        {10, 900, 1250, 12, 150},
        {10, 0, 0, 10, 0},
        {10, 999, 1, 11, 0},
        {1700000000, 500, 4294967295u, 1704294967, 795},
    };
    for (const auto &c : cases)
    {
        int64_t seconds = -1;
        uint16_t ms = 9999;
        ea_add_milliseconds(&seconds, &ms, c.base_seconds, c.base_ms, c.elapsed);
        EXPECT_EQ(seconds, c.seconds) << c.elapsed;
        EXPECT_EQ(ms, c.ms) << c.elapsed;
    }
}

TEST(EaTime, BrokenDownTimeInUtcAndLocal)
{
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    time_t moment = 86400 * 365; // 1971-01-01 00:00:00 UTC
    struct tm out;
    ASSERT_NE(ea_gmtime(&moment, &out), nullptr);
    EXPECT_EQ(out.tm_year, 71);
    EXPECT_EQ(out.tm_hour, 0);
    ASSERT_NE(ea_localtime(&moment, &out), nullptr);
    EXPECT_EQ(out.tm_hour, 5);
    EXPECT_EQ(out.tm_min, 30);
}

TEST(EaTime, HighResolutionTimer)
{
    ea_high_resolution_timer timer;
    ASSERT_EQ(ea_start_high_resolution_timer(&timer), EA_SUCCESS);
    EXPECT_EQ(timer.frequency, 1000000000);
    EXPECT_DOUBLE_EQ(ea_get_elapsed_microseconds(1000, 1000000000, 1000 + 2500000), 2500.0);
    EXPECT_DOUBLE_EQ(ea_get_elapsed_microseconds(0, 0, 5), 0.0);
    int64_t counter = 0;
    ASSERT_EQ(ea_query_performance_counter(&counter), EA_SUCCESS);
    EXPECT_GE(counter, timer.counter);
#if defined(__x86_64__)
    EXPECT_EQ(ea_check_processor(), EA_SUCCESS);
#endif
}

TEST(EaTime, FtimeAgreesWithTheWallClock)
{
    int64_t seconds = 0;
    uint16_t ms = 1000;
    time_t before = time(nullptr);
    ea_ftime(&seconds, &ms);
    EXPECT_GE(seconds, static_cast<int64_t>(before));
    EXPECT_LE(seconds, static_cast<int64_t>(time(nullptr)));
    EXPECT_LT(ms, 1000);
}
