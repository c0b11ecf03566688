// The termination handler only stores into a lock-free atomic, which is safe in a
// signal handler; the threads see the flag on their next poll.
#include "platform/pf_signal.h"

#include <csignal>

static std::atomic<uint16_t> *pf_stop_flag = nullptr;

static void pf_on_termination(int)
{
    if (pf_stop_flag != nullptr)
        pf_stop_flag->store(1);
}

void pf_stop_on_termination_signal(std::atomic<uint16_t> *flag)
{
    static_assert(std::atomic<uint16_t>::is_always_lock_free, "the stop flag must be lock-free");
    pf_stop_flag = flag;
    struct sigaction action = {};
    action.sa_handler = pf_on_termination;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
