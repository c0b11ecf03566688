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
