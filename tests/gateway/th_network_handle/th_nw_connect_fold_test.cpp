// The fold of a host link's failed connects, on a held tick count: a failed connect is
// written whole and opens a spell; attempts begun within it are quiet, their lines held until
// the outcome; a failed one's lines are counted with it once its story is over, and the count
// goes out a second after the spell began and then every second while attempts go on; an
// attempt a second after the last failed connect is written again, and one that ends
// otherwise says the count at once, then has its held lines written; a count never speaks of
// lines without their attempts; the events 12009 go out the first at once and then once a
// second as a count.
#include "gateway/th_network_handle/th_nw_connect_fold.h"

#include <gtest/gtest.h>

#include "platform/core/pf_tick.h"
#include "support/held_tick.h"

namespace
{
// Offers `lines` lines to the fold, the caller having room to hold them; how many go out now.
uint32_t written(th_nw_connect_fold *fold, uint32_t lines)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < lines; ++i)
        n += th_nw_connect_fold_line(fold, true) == TH_NW_ATTEMPT_WRITTEN ? 1 : 0;
    return n;
}

// An attempt begins; what it says is due, as expected.
void begin(th_nw_connect_fold *fold, uint32_t lines = 0, uint32_t attempts = 0)
{
    const th_nw_connect_fold_count due = th_nw_connect_fold_attempt(fold);
    EXPECT_EQ(due.lines, lines);
    EXPECT_EQ(due.attempts, attempts);
}

// One attempt whose connect fails after `lines` lines: how many of them go out.
uint32_t failed_attempt(th_nw_connect_fold *fold, uint32_t lines)
{
    begin(fold);
    const uint32_t n = written(fold, lines);
    th_nw_connect_fold_failed(fold);
    return n;
}

void expect_due(th_nw_connect_fold *fold, uint32_t lines, uint32_t attempts, bool all = false)
{
    const th_nw_connect_fold_count due = th_nw_connect_fold_lines_due(fold, all);
    EXPECT_EQ(due.lines, lines);
    EXPECT_EQ(due.attempts, attempts);
}

struct ThNwConnectFold : ::testing::Test
{
    qel_test::held_tick held;
};
} // namespace

TEST_F(ThNwConnectFold, AFloodOfFailedConnectsWritesTheFirstWholeThenOneCountASecond)
{
    th_nw_connect_fold fold = {};
    expect_due(&fold, 0, 0);
    EXPECT_EQ(failed_attempt(&fold, 13), 13u); // the first of the spell, whole
    for (int second = 0; second < 5; ++second)
    {
        SCOPED_TRACE(second);
        // Attempts begun within the spell, each 14 lines; the last one under way at the count
        // goes with the next one, and so does the one before it, whose story it ends.
        for (int i = 0; i < 3; ++i)
        {
            pf_tick_advance(300);
            EXPECT_EQ(failed_attempt(&fold, 14), 0u);
        }
        pf_tick_advance(99);
        begin(&fold);
        EXPECT_EQ(written(&fold, 2), 0u);
        expect_due(&fold, 0, 0); // 999 ms: nothing due yet
        pf_tick_advance(1);
        expect_due(&fold, second == 0 ? 42 : 56, second == 0 ? 3 : 4);
        EXPECT_EQ(written(&fold, 12), 0u);
        th_nw_connect_fold_failed(&fold);
    }
    // The attempts stop: the second without one ends the spell and the story under way.
    pf_tick_advance(1000);
    expect_due(&fold, 14, 1);
    EXPECT_EQ(failed_attempt(&fold, 13), 13u) << "a new spell";
}

TEST_F(ThNwConnectFold, AttemptsASecondApartAreEachWrittenWhole)
{
    th_nw_connect_fold fold = {};
    for (int i = 0; i < 20; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(failed_attempt(&fold, 13), 13u);
        pf_tick_advance(1000); // the next relogon, or a trader's next try
        expect_due(&fold, 0, 0);
    }
}

// A quiet attempt whose connect succeeds (or that ends in anything but a failed connect)
// holds its lines until then: the count of the failed ones before it goes out first, the
// attempt's own lines are the caller's to write whole, and its story goes on written.
TEST_F(ThNwConnectFold, AQuietAttemptThatEndsOtherwiseSaysTheCountFirstThenIsWritten)
{
    th_nw_connect_fold fold = {};
    EXPECT_EQ(failed_attempt(&fold, 13), 13u);
    pf_tick_advance(100);
    EXPECT_EQ(failed_attempt(&fold, 14), 0u);
    pf_tick_advance(400);
    begin(&fold);
    EXPECT_EQ(written(&fold, 6), 0u);
    EXPECT_EQ(fold.held_lines, 6u);
    const th_nw_connect_fold_count settled = th_nw_connect_fold_settled(&fold); // connected
    EXPECT_EQ(settled.lines, 14u);
    EXPECT_EQ(settled.attempts, 1u) << "the failed one; the held lines are written";
    EXPECT_EQ(written(&fold, 5), 5u) << "the connection's story from then on";
    pf_tick_advance(1000);
    expect_due(&fold, 0, 0);
    // The spell is over: the next failed connect is written whole.
    pf_tick_advance(10);
    EXPECT_EQ(failed_attempt(&fold, 13), 13u);
}

// The cases where a count would speak of lines without their attempt: an attempt that waits
// over the count's second before its outcome, a failed one whose story goes on after it
// (the session's drop comes later), and held lines the caller has no room for.
TEST_F(ThNwConnectFold, ACountNamesTheAttemptsOfItsLines)
{
    th_nw_connect_fold fold = {};
    EXPECT_EQ(failed_attempt(&fold, 13), 13u);
    pf_tick_advance(10);
    begin(&fold); // held back for a second: its order and the hold are held
    EXPECT_EQ(written(&fold, 2), 0u);
    pf_tick_advance(990);
    expect_due(&fold, 0, 0);          // no attempt's story is over
    EXPECT_EQ(written(&fold, 3), 0u); // made, connecting
    th_nw_connect_fold_failed(&fold);
    EXPECT_EQ(written(&fold, 1), 0u); // the session's drop: its story goes on
    pf_tick_advance(999);
    expect_due(&fold, 0, 0);
    pf_tick_advance(1);
    expect_due(&fold, 6, 1); // a second without an attempt ends the spell and the story
    EXPECT_EQ(written(&fold, 2), 2u) << "a line after its story was said is written";

    // Held lines beyond the caller's room are counted with the attempt, whatever its outcome.
    EXPECT_EQ(failed_attempt(&fold, 13), 13u);
    pf_tick_advance(10);
    begin(&fold);
    EXPECT_EQ(written(&fold, 2), 0u);
    EXPECT_EQ(th_nw_connect_fold_line(&fold, false), TH_NW_ATTEMPT_COUNTED);
    const th_nw_connect_fold_count settled = th_nw_connect_fold_settled(&fold);
    EXPECT_EQ(settled.lines, 1u);
    EXPECT_EQ(settled.attempts, 1u);
}

TEST_F(ThNwConnectFold, TheStopSaysEverythingCountedDueOrNot)
{
    th_nw_connect_fold fold = {};
    EXPECT_EQ(failed_attempt(&fold, 13), 13u);
    pf_tick_advance(100);
    EXPECT_EQ(failed_attempt(&fold, 14), 0u);
    EXPECT_TRUE(th_nw_connect_fold_event(&fold));
    EXPECT_FALSE(th_nw_connect_fold_event(&fold));
    expect_due(&fold, 14, 1, true);
    EXPECT_EQ(th_nw_connect_fold_events_due(&fold, true), 1u);
    expect_due(&fold, 0, 0, true);
    EXPECT_EQ(th_nw_connect_fold_events_due(&fold, true), 0u);
}

TEST_F(ThNwConnectFold, EventsGoOutTheFirstAtOnceThenOnceASecondAsACount)
{
    th_nw_connect_fold fold = {};
    EXPECT_TRUE(th_nw_connect_fold_event(&fold));
    pf_tick_advance(1000);
    EXPECT_EQ(th_nw_connect_fold_events_due(&fold, false), 0u); // one a second: each at once
    EXPECT_TRUE(th_nw_connect_fold_event(&fold));
    uint32_t at_once = 0;
    for (int i = 0; i < 40; ++i)
    {
        pf_tick_advance(25);
        at_once += th_nw_connect_fold_event(&fold) ? 1 : 0;
    }
    EXPECT_EQ(at_once, 0u);
    EXPECT_EQ(th_nw_connect_fold_events_due(&fold, false), 40u);
    pf_tick_advance(1000);
    EXPECT_EQ(th_nw_connect_fold_events_due(&fold, false), 0u);
    EXPECT_TRUE(th_nw_connect_fold_event(&fold)) << "a quiet second ended the spell";
}
