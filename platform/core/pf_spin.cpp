// The spin policy: an exponentially weighted estimate, per thread, of how long its waits
// last. Each gap counts a quarter, so a burst switches spinning on within a few records
// and a pause switches it off within a few waits; a time-out switches it off at once.
#include "platform/core/pf_spin.h"

#include <algorithm>
#include <cstdlib>

namespace
{
// Gaps count at most this much, so that one long pause is forgotten as fast as a burst
// is learned.
const int64_t k_gap_cap_ns = 4 * PF_SPIN_LIMIT_NS;
// A spin shorter than this catches nothing a sleep would not.
const int64_t k_spin_floor_ns = 5000;

int64_t spin_limit_ns()
{
    static const int64_t limit = []
    {
        const char *text = getenv("QEL_SPIN_LIMIT_US");
        return text != nullptr ? atoll(text) * 1000 : PF_SPIN_LIMIT_NS;
    }();
    return limit;
}

// How long a preempted spinner sleeps at once in every wait.
const int64_t k_backoff_ns = 20000000;

// A new thread has seen no traffic: it sleeps until it has.
thread_local int64_t t_gap_estimate_ns = k_gap_cap_ns;
thread_local int64_t t_no_spin_until_ns = 0;
} // namespace

int64_t pf_spin_budget_ns(int64_t now_ns)
{
    const int64_t limit = spin_limit_ns();
    if (t_gap_estimate_ns > limit || now_ns < t_no_spin_until_ns)
    {
        return 0;
    }
    return std::min(limit, std::max(k_spin_floor_ns, 2 * t_gap_estimate_ns));
}

void pf_spin_note_ready(int64_t waited_ns)
{
    int64_t gap = std::min(std::max<int64_t>(waited_ns, 0), std::max(k_gap_cap_ns, 4 * spin_limit_ns()));
    t_gap_estimate_ns = (3 * t_gap_estimate_ns + gap) / 4;
}

void pf_spin_note_preempted(int64_t now_ns)
{
    t_no_spin_until_ns = now_ns + k_backoff_ns;
}

void pf_spin_note_timeout()
{
    t_gap_estimate_ns = std::max(k_gap_cap_ns, 4 * spin_limit_ns());
}
