// The fold of a flood: its first happenings go out at once, the rest are counted and the
// count goes out a second later and then every second while they go on, and a quiet second
// ends the spell. Each step moves the tick count instead of waiting.
#include <gtest/gtest.h>

#include "gateway/shared/log_fold.h"
#include "platform/core/pf_tick.h"
#include "support/held_tick.h"

namespace
{
struct step
{
    uint32_t advance_ms;
    uint32_t happenings; // offered to the fold after the count due was taken
    uint32_t at_once;    // of those, how many go out now
    uint32_t due;        // the count that goes out before them
};

void run(const step *steps, size_t count, uint16_t allowance)
{
    qel_test::held_tick held;
    log_fold fold = {};
    for (size_t i = 0; i < count; ++i)
    {
        SCOPED_TRACE(i);
        pf_tick_advance(steps[i].advance_ms);
        EXPECT_EQ(log_fold_due(&fold), steps[i].due);
        uint32_t at_once = 0;
        for (uint32_t n = 0; n < steps[i].happenings; ++n)
            at_once += log_fold_admit(&fold, allowance) ? 1 : 0;
        EXPECT_EQ(at_once, steps[i].at_once);
    }
}
} // namespace

TEST(LogFold, LinesGoOutUpToTheAllowanceThenOnceASecondAsACount)
{
    const step steps[] = {
        {0, 0, 0, 0},    // quiet: nothing due
        {10, 3, 3, 0},   // a spell begins: within the allowance of 5
        {10, 10, 2, 0},  // the allowance runs out, the rest are counted
        {989, 4, 0, 0},  // 999 ms into the spell: still counted
        {1, 0, 0, 12},   // a second after its start, the count goes out
        {10, 7, 0, 0},   // after the first second nothing goes out at once
        {990, 0, 0, 7},  //
        {1000, 0, 0, 0}, // a quiet second ends the spell
        {10, 6, 5, 0},   // and the next spell has its allowance again
        {1000, 0, 0, 1}, //
        {999, 0, 0, 0},  //
        {1, 0, 0, 0},    // ended
    };
    run(steps, sizeof steps / sizeof steps[0], 5);
}

TEST(LogFold, EventsGoOutOneAtOnceThenOnceASecondAsACount)
{
    const step steps[] = {
        {5, 1, 1, 0},     // the first of a spell at once
        {1000, 0, 0, 0},  // nothing else came: the spell ends
        {5, 300, 1, 0},   // a new spell: one at once, 299 counted
        {500, 200, 0, 0}, //
        {500, 0, 0, 499}, //
        {300, 1, 0, 0},   //
        {700, 0, 0, 1},   //
    };
    run(steps, sizeof steps / sizeof steps[0], 1);
}

TEST(LogFold, ALineTheLoggerDropsAnywaySpendsNothing)
{
    logger_object logger = {};
    logger.level = EA_LEVEL_EVENT;
    EXPECT_TRUE(log_fold_level_on(&logger, EA_LEVEL_BUSINESS_ERROR));
    EXPECT_TRUE(log_fold_level_on(&logger, EA_LEVEL_EVENT));
    EXPECT_FALSE(log_fold_level_on(&logger, EA_LEVEL_ACTIVITY));
    EXPECT_FALSE(log_fold_level_on(&logger, EA_LEVEL_DEBUG));
}
