// wait_until: polling with a deadline, for tests that watch another thread or process.
#pragma once

#include <chrono>
#include <thread>

namespace qel_test
{
template <typename Condition> bool wait_until(Condition condition, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
} // namespace qel_test
