// The delays between the restarts of a process that keeps ending.
#include <gtest/gtest.h>

#include <vector>

#include "tools/service/qel_service_controller.h"

using namespace qel_service;

TEST(RestartBackoff, DoublesUpToThirtySecondsAndStartsOverAfterAProcessStayedUp)
{
    qel_restart_backoff backoff;
    qel_restart_backoff_reset(&backoff);
    std::vector<uint32_t> delays;
    for (int i = 0; i < 8; ++i)
        delays.push_back(qel_restart_backoff_next(&backoff, 10));
    EXPECT_EQ(delays, (std::vector<uint32_t>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    EXPECT_EQ(qel_restart_backoff_next(&backoff, 29999), 30000u) << "29.999 s is not staying up";
    EXPECT_EQ(qel_restart_backoff_next(&backoff, 30000), 1000u);
    EXPECT_EQ(qel_restart_backoff_next(&backoff, 0), 2000u);
    qel_restart_backoff_reset(&backoff);
    EXPECT_EQ(qel_restart_backoff_next(&backoff, 0), 1000u);
}

TEST(RestartBackoff, TheConsolesRestartRequestComesAfterOneSecondAndStartsTheBackOffOver)
{
    qel_restart_backoff backoff;
    qel_restart_backoff_reset(&backoff);
    std::vector<uint32_t> delays;
    for (int32_t exit_code : {10000, 10000, 10000, 10000, 10001, 10001, 10001, 10000, 0, -1})
        delays.push_back(qel_restart_delay_after_end(&backoff, exit_code, 300));
    // Quick failures back off; every restart request comes after 1 s and starts the back-off
    // over; the ends after it (a failure, a normal end, a signal) are backed off again.
    EXPECT_EQ(delays, (std::vector<uint32_t>{1000, 2000, 4000, 8000, 1000, 1000, 1000, 1000, 2000, 4000}));
}
