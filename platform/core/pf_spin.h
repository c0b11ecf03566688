// How long a waiting thread spins before it sleeps. Waking a sleeping thread costs a
// system call on each side and the scheduler's wake-up, several microseconds on a virtual
// machine, and an order crosses a dozen threads each way; a thread that is still awake
// when its next record comes takes it in well under a microsecond.
//
// The policy is per thread and adapts to its traffic: it keeps a running estimate of how
// long this thread's waits last before something is ready, and spins only while that
// estimate is short (about twice the estimate, never longer than the limit). A time-out
// means traffic has stopped and ends spinning at once, so an idle thread only sleeps.
// A spinner also gives the processor up now and then; when it finds it has been off the
// processor for a while (the machine has more runnable threads than processors), spinning
// only takes processor time from threads with work, so it stops for a few milliseconds.
#pragma once

#include <cstdint>

// The longest a thread spins in one wait, and the estimate beyond which it does not spin.
constexpr int64_t PF_SPIN_LIMIT_NS = 200000;

// A spinner that sees the clock jump by this much between two looks has been preempted.
constexpr int64_t PF_SPIN_PREEMPTED_NS = 50000;

// Spin budget in ns for a wait beginning at now_ns that found nothing ready (0: sleep).
int64_t pf_spin_budget_ns(int64_t now_ns);
// The spin was preempted at now_ns: no spinning for a while.
void pf_spin_note_preempted(int64_t now_ns);
// A wait with a time-out ended: something was ready `waited_ns` after the wait began, or
// nothing was before the time-out.
void pf_spin_note_ready(int64_t waited_ns);
void pf_spin_note_timeout();

// One step of a busy wait: tells the processor that this is a spin loop.
inline void pf_spin_pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}
