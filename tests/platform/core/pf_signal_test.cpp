// Termination signals become a stop request, also when they arrive before the gateway has
// a flag to raise.
#include "platform/core/pf_signal.h"

#include <gtest/gtest.h>

#include <csignal>

TEST(TerminationSignal, RequestBeforeTheFlagExistsIsHeldAndPassedOn)
{
    pf_hold_termination_signal();
    ASSERT_EQ(raise(SIGTERM), 0); // the process survives it
    std::atomic<uint16_t> flag{0};
    pf_stop_on_termination_signal(&flag);
    EXPECT_EQ(flag.load(), 1);

    flag.store(0);
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(flag.load(), 1);

    // A second flag does not inherit a request the first one already took.
    std::atomic<uint16_t> next{0};
    pf_stop_on_termination_signal(&next);
    EXPECT_EQ(next.load(), 0);
}
