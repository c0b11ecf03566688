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

// A terminal that hangs up asks for the same ordered stop, unless the program was started
// to outlive it (nohup ignores SIGHUP before the program starts).
TEST(TerminationSignal, HangUpIsAStopRequestUnlessItWasIgnoredFromTheStart)
{
    // From the defaults, as a program started from a terminal has them.
    struct sigaction before[PF_TERMINATION_SIGNAL_COUNT];
    pf_catch_termination_signals(SIG_DFL, before);
    signal(SIGHUP, SIG_DFL);
    std::atomic<uint16_t> flag{0};
    pf_stop_on_termination_signal(&flag);
    ASSERT_EQ(raise(SIGHUP), 0); // the process survives it
    EXPECT_EQ(flag.load(), 1);

    signal(SIGHUP, SIG_IGN);
    std::atomic<uint16_t> ignored{0};
    pf_stop_on_termination_signal(&ignored);
    ASSERT_EQ(raise(SIGHUP), 0);
    EXPECT_EQ(ignored.load(), 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(ignored.load(), 1) << "the other termination signals are caught all the same";

    // What was replaced is put back.
    struct sigaction caught[PF_TERMINATION_SIGNAL_COUNT];
    pf_catch_termination_signals(SIG_DFL, caught);
    pf_restore_termination_signals(caught);
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, caught[0].sa_handler);
    EXPECT_NE(now.sa_handler, SIG_DFL);
    pf_restore_termination_signals(before);
}
