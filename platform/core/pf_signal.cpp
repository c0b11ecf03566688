// The termination handler only stores into a lock-free atomic, which is safe in a
// signal handler; the threads see the flag on their next poll. Until the gateway gives its
// flag, the handler stores into a flag of this file's, which is handed on with the first.
#include "platform/core/pf_signal.h"

static std::atomic<uint16_t> pf_held_request{0};
static std::atomic<std::atomic<uint16_t> *> pf_stop_flag{&pf_held_request};

static void pf_on_termination(int)
{
    pf_stop_flag.load()->store(1);
}

void pf_catch_termination_signals(void (*handler)(int), struct sigaction *old_actions)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < PF_TERMINATION_SIGNAL_COUNT; ++i)
    {
        const int number = pf_termination_signals[i];
        struct sigaction before = {};
        sigaction(number, nullptr, &before);
        if (old_actions != nullptr)
            old_actions[i] = before;
        if (number == SIGHUP && before.sa_handler == SIG_IGN)
            continue;
        sigaction(number, &action, nullptr);
    }
}

void pf_restore_termination_signals(const struct sigaction *old_actions)
{
    for (int i = 0; i < PF_TERMINATION_SIGNAL_COUNT; ++i)
        sigaction(pf_termination_signals[i], &old_actions[i], nullptr);
}

static void pf_catch_termination()
{
    static_assert(std::atomic<uint16_t>::is_always_lock_free, "the stop flag must be lock-free");
    static_assert(std::atomic<std::atomic<uint16_t> *>::is_always_lock_free,
                  "the flag pointer must be lock-free");
    pf_catch_termination_signals(pf_on_termination, nullptr);
}

void pf_hold_termination_signal()
{
    pf_catch_termination();
}

void pf_stop_on_termination_signal(std::atomic<uint16_t> *flag)
{
    pf_stop_flag.store(flag);
    pf_catch_termination();
    // A request that came while the held flag was in place is passed on; one that comes
    // from now on lands in the gateway's flag itself.
    if (pf_held_request.exchange(0) != 0)
        flag->store(1);
}
