// The spacing of a host link's box logons, driven by ticks given in the test: connections
// that were established and ended within 2 s count, the first of them in a row is forgiven,
// the wait then runs 1 s, 2 s, 4 s from the last such end and stays at 4 s; a refused
// connect makes the next logon wait 1 s from the refusal, never more, and counts as no end;
// a connection that stayed up puts the count back to nothing, and the spans hold across the
// wrap of the tick count.
#include "gateway/th_network_handle/th_nw_backoff.h"

#include <gtest/gtest.h>

namespace
{

const uint32_t kRefused = UINT32_MAX; // the attempt never connected

// One box logon: asked for `gap_ms` after the previous attempt's end, it gets `wait_ms`,
// goes when that is over, and its connection lasts `lasts_ms` (or is refused as it goes).
struct attempt_case
{
    uint32_t gap_ms;
    uint32_t wait_ms;
    uint32_t lasts_ms;
};

void run(uint32_t start, const attempt_case *cases, size_t count)
{
    th_nw_backoff backoff = {};
    uint32_t now = start;
    for (size_t i = 0; i < count; ++i)
    {
        now += cases[i].gap_ms;
        EXPECT_EQ(th_nw_backoff_wait(&backoff, now), cases[i].wait_ms) << "attempt " << i;
        now += cases[i].wait_ms;
        EXPECT_EQ(th_nw_backoff_wait(&backoff, now), 0u) << "attempt " << i << " once its wait is over";
        if (cases[i].lasts_ms == kRefused)
        {
            th_nw_backoff_refused(&backoff, now);
            continue;
        }
        th_nw_backoff_established(&backoff, now);
        now += cases[i].lasts_ms;
        uint32_t uptime = 0;
        EXPECT_TRUE(th_nw_backoff_ended(&backoff, now, &uptime)) << "attempt " << i;
        EXPECT_EQ(uptime, cases[i].lasts_ms) << "attempt " << i;
    }
}

// A host that ends every connection at once, until one stays up.
const attempt_case kEndsAtOnce[] = {
    {0, 0, 5},       // the first logon goes at once
    {0, 0, 5},       // one end at once is forgiven
    {0, 1000, 5},    // then 1 s after the last end
    {0, 2000, 5},    // 2 s
    {0, 4000, 5},    // 4 s
    {0, 4000, 5},    // and no more
    {0, 4000, 2500}, // this one stays up 2.5 s
    {0, 0, 5},       // so the next goes at once
    {0, 0, 5},       // and a new run of ends is forgiven once again
    {0, 1000, 5},
};

// A host that is down refuses every connect: each next logon waits what is left of 1 s
// after the refusal, however many came before, and refusals do not count as ends.
const attempt_case kRefusedConnects[] = {
    {0, 0, kRefused},     // the first logon of an outage goes at once
    {0, 1000, kRefused},  // each next one 1 s after the refusal before it
    {0, 1000, kRefused},  // and no more, however many are refused
    {400, 600, kRefused}, // one asked for later waits what is left of the second
    {1500, 0, kRefused},  // one asked for after the second goes at once
    {0, 1000, 5},         // the host is back but ends the connection at once: forgiven
    {0, 0, 5},            // the second end in a row...
    {0, 1000, kRefused},  // ...makes the next wait 1 s, and that one is refused
    {300, 700, 5},        // 1 s from the refusal, and from the end before it
    {0, 2000, kRefused},  // the third end at once: 2 s, the refusal counting as no end
    {0, 1000, 2500},      // refused: 1 s; this one stays up
    {0, 0, kRefused},     // so the next goes at once
    {5000, 0, 5},         // long after a refusal: no wait
};

// Logons that come later than the step wait only what is left of it, or nothing.
const attempt_case kLateRequests[] = {
    {0, 0, 10}, {0, 0, 10}, {400, 600, 10}, {1500, 500, 10}, {4100, 0, 10}, {3000, 1000, 10},
};

TEST(ThNwBackoff, EndsAtOnceSpaceTheLogonsFromOneSecondToFourAfterOneForgivenUntilOneStaysUp)
{
    run(1000, kEndsAtOnce, sizeof kEndsAtOnce / sizeof kEndsAtOnce[0]);
}

TEST(ThNwBackoff, ARefusedConnectHoldsTheNextLogonOneSecondAndCountsAsNoEnd)
{
    run(1000, kRefusedConnects, sizeof kRefusedConnects / sizeof kRefusedConnects[0]);
}

TEST(ThNwBackoff, ALogonWaitsOnlyWhatIsLeftOfItsStep)
{
    run(1000, kLateRequests, sizeof kLateRequests / sizeof kLateRequests[0]);
}

TEST(ThNwBackoff, HoldsAcrossTheWrapOfTheTickCount)
{
    run(0xFFFFFFFFu - 3000, kEndsAtOnce, sizeof kEndsAtOnce / sizeof kEndsAtOnce[0]);
    run(0xFFFFFFFFu - 100, kRefusedConnects, sizeof kRefusedConnects / sizeof kRefusedConnects[0]);
}

TEST(ThNwBackoff, AConnectionIsTimedFromItsFirstReportUntilItsOneEnd)
{
    th_nw_backoff backoff = {};
    uint32_t uptime = 77;
    EXPECT_FALSE(th_nw_backoff_ended(&backoff, 500, &uptime)); // nothing was established
    EXPECT_EQ(uptime, 77u);
    for (int i = 0; i < 3; ++i)
    {
        th_nw_backoff_established(&backoff, 1000);
        th_nw_backoff_established(&backoff, 1900); // the same connection reported again
        EXPECT_TRUE(th_nw_backoff_ended(&backoff, 2000, &uptime));
        EXPECT_EQ(uptime, 1000u);
        EXPECT_FALSE(th_nw_backoff_ended(&backoff, 2100, &uptime)) << "an end is taken once";
    }
    EXPECT_EQ(backoff.ended_at_once, 3u);
    // While a connection is up an order does not wait: it ends that connection first.
    th_nw_backoff_established(&backoff, 2200);
    EXPECT_EQ(th_nw_backoff_wait(&backoff, 2300), 0u);
    EXPECT_TRUE(th_nw_backoff_ended(&backoff, 2300, &uptime));
    EXPECT_EQ(th_nw_backoff_wait(&backoff, 2300), 4000u);
}

TEST(ThNwBackoff, TheStepStopsAtFourSecondsHoweverLongTheRun)
{
    const uint32_t expected[] = {0, 0, 1000, 2000, 4000, 4000, 4000};
    for (uint32_t n = 0; n < sizeof expected / sizeof expected[0]; ++n)
        EXPECT_EQ(th_nw_backoff_step(n), expected[n]) << n;
    EXPECT_EQ(th_nw_backoff_step(1000000), 4000u);
    EXPECT_EQ(th_nw_backoff_step(UINT32_MAX), 4000u);
}

} // namespace
