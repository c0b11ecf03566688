// A client that keeps trading beside an attack, for the suites and benchmarks that measure
// the party a defence protects: requests at a steady pace on a thread of its own, each
// waited for before the next. How many went out, how many were answered, and the slowest
// answer. Header-only.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace qel_test
{

class paced_requests
{
  public:
    // `one(n)` sends the n-th request (from 1) and waits for its answer: false when none
    // came, which ends the pace. `pause_ms` lies between an answer and the next request.
    paced_requests(std::function<bool(uint32_t)> one, int pause_ms)
        : m_one(std::move(one)), m_pause_ms(pause_ms), m_thread([this] { run(); })
    {
    }
    ~paced_requests() { stop(); }
    paced_requests(const paced_requests &) = delete;
    paced_requests &operator=(const paced_requests &) = delete;

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    uint32_t sent() const { return m_sent; }
    uint32_t answered() const { return m_answered; }
    double slowest_ms() const { return m_slowest_ms; }

  private:
    void run()
    {
        while (!m_stop)
        {
            const auto began = std::chrono::steady_clock::now();
            const uint32_t n = m_sent + 1;
            m_sent = n;
            if (!m_one(n))
                return;
            m_answered = n;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
            m_slowest_ms = std::max(m_slowest_ms.load(), ms);
            std::this_thread::sleep_for(std::chrono::milliseconds(m_pause_ms));
        }
    }

    std::function<bool(uint32_t)> m_one;
    int m_pause_ms;
    std::atomic<bool> m_stop{false};
    std::atomic<uint32_t> m_sent{0};
    std::atomic<uint32_t> m_answered{0};
    std::atomic<double> m_slowest_ms{0};
    std::thread m_thread;
};

} // namespace qel_test
