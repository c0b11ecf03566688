// The spacing of a host link's connection attempts, driven by ticks given in the test:
// each connection that ends before it stayed up doubles the wait from 1 s to at most
// 30 s, one that stayed up 30 s puts it back to nothing, and the spans hold across the
// wrap of the tick count.
#include "gateway/th_network_handle/th_nw_backoff.h"

#include <gtest/gtest.h>

namespace
{

// One attempt: asked for at `ask` (the wait it gets), made once the wait is over, and its
// connection lasting `lasts` ms.
struct attempt_case
{
    uint32_t gap_ms;   // from the end of the previous connection to the next request
    uint32_t lasts_ms; // how long the attempt's connection stays up
    uint32_t wait_ms;  // the wait the request gets
    uint32_t step_ms;  // the step after the request
};

void run(uint32_t start, const attempt_case *cases, size_t count)
{
    th_nw_backoff backoff = {};
    uint32_t now = start;
    for (size_t i = 0; i < count; ++i)
    {
        now += cases[i].gap_ms;
        EXPECT_EQ(th_nw_backoff_next_wait(&backoff, now), cases[i].wait_ms) << "attempt " << i;
        EXPECT_EQ(backoff.step_ms, cases[i].step_ms) << "attempt " << i;
        now += cases[i].wait_ms;
        th_nw_backoff_attempt(&backoff, now);
        now += cases[i].lasts_ms;
        th_nw_backoff_end(&backoff, now);
    }
}

// A link whose connection breaks at once, again and again, until one stays up.
const attempt_case kBreaksAtOnce[] = {
    {0, 5, 0, 0},             // the first attempt goes at once
    {0, 5, 995, 1000},        // 1 s after the previous attempt
    {0, 5, 1995, 2000},       // then 2 s
    {0, 5, 3995, 4000},       // 4 s
    {0, 5, 7995, 8000},       // 8 s
    {0, 5, 15995, 16000},     // 16 s
    {0, 5, 29995, 30000},     // at most 30 s
    {0, 5, 29995, 30000},     // and stays there
    {0, 40000, 29995, 30000}, // this one stays up 40 s
    {0, 5, 0, 0},             // so the next attempt goes at once
    {0, 5, 995, 1000},        // and a new failure starts from 1 s again
};

// Requests that come later than the step wait only what is left of it, or nothing.
const attempt_case kLateRequests[] = {
    {0, 100, 0, 0},
    {400, 100, 500, 1000},     // 500 ms after the previous attempt: 500 left
    {5000, 100, 0, 2000},      // 5.1 s after: nothing left, the step still doubles
    {2000, 29900, 1900, 4000}, // stays up 29.9 s: not long enough
    {0, 30000, 0, 8000},       // asked for 29.9 s after the attempt: nothing left
    {0, 10, 0, 0},             // stayed up exactly 30 s: reset
};

TEST(ThNwBackoff, DoublesFromOneSecondToThirtyAndResetsAfterASessionThatStayedUp)
{
    run(1000, kBreaksAtOnce, sizeof kBreaksAtOnce / sizeof kBreaksAtOnce[0]);
}

TEST(ThNwBackoff, ARequestWaitsOnlyWhatIsLeftOfItsStep)
{
    run(1000, kLateRequests, sizeof kLateRequests / sizeof kLateRequests[0]);
}

TEST(ThNwBackoff, HoldsAcrossTheWrapOfTheTickCount)
{
    run(0xFFFFFFFFu - 3000, kBreaksAtOnce, sizeof kBreaksAtOnce / sizeof kBreaksAtOnce[0]);
}

TEST(ThNwBackoff, AConnectionStillUpCountsUntilNowAndAnEndIsTakenOnce)
{
    th_nw_backoff backoff = {};
    EXPECT_EQ(th_nw_backoff_last_uptime(&backoff, 500), 0u);
    th_nw_backoff_end(&backoff, 600); // no attempt yet: nothing ends
    EXPECT_EQ(backoff.end_tick, 0u);
    th_nw_backoff_attempt(&backoff, 1000);
    EXPECT_EQ(th_nw_backoff_last_uptime(&backoff, 1700), 700u);
    th_nw_backoff_end(&backoff, 1800);
    th_nw_backoff_end(&backoff, 9000); // a second report of the same end changes nothing
    EXPECT_EQ(th_nw_backoff_last_uptime(&backoff, 50000), 800u);
    // Asked for while still up 31 s after the attempt: it stayed up.
    th_nw_backoff_attempt(&backoff, 60000);
    EXPECT_EQ(th_nw_backoff_next_wait(&backoff, 91000), 0u);
    EXPECT_EQ(backoff.step_ms, 0u);
}

} // namespace
