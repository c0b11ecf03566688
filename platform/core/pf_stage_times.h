// Where an order's time goes, for the benchmarks' per-stage breakdown. A build with
// QEL_STAGE_TIMES (cmake -DQEL_STAGE_TIMES=ON) keeps histograms of how long each thread
// works between its waits, how its waits end (ready at once, caught while spinning, after
// sleeping, timed out) and, through the shared queue, how long each record sits in each
// queue. SIGUSR2 asks for a dump: the next thread to finish a wait writes every histogram
// to "stage_times.txt" in the working folder (through a temporary file and a rename), and
// a benchmark takes the difference of two dumps. Without the option every call is empty
// and nothing is installed.
#pragma once

#include <atomic>
#include <cstdint>

enum
{
    PF_STAGE_BUCKETS = 320,
};

// Log-linear buckets of nanoseconds: exact below 16 ns, then eight per power of two.
struct pf_stage_histogram
{
    std::atomic<uint64_t> buckets[PF_STAGE_BUCKETS];
    std::atomic<uint64_t> count;
    std::atomic<uint64_t> sum_ns;
};

int pf_stage_bucket(int64_t ns);

enum pf_stage_wait_end_kind
{
    PF_STAGE_READY_AT_ONCE = 0,
    PF_STAGE_CAUGHT_SPINNING = 1,
    PF_STAGE_AFTER_SLEEP = 2,
    PF_STAGE_TIMED_OUT = 3,
    PF_STAGE_WAIT_END_KINDS = 4,
};

#ifdef QEL_STAGE_TIMES
// A histogram that lives as long as the process and is written in every dump under its
// name (a line "histogram <name> ..."). One writer at a time: its owner.
pf_stage_histogram *pf_stage_histogram_create(const char *name);
void pf_stage_histogram_add(pf_stage_histogram *h, int64_t ns);
// pf_wait's calls for the calling thread: a wait with a time-out begins, and it ends.
void pf_stage_wait_begin(int64_t now_ns);
// waited_ns: the whole wait; spun_ns: the part of it spent spinning.
void pf_stage_wait_end(int64_t now_ns, pf_stage_wait_end_kind kind, int64_t waited_ns, int64_t spun_ns);
#else
inline void pf_stage_wait_begin(int64_t) {}
inline void pf_stage_wait_end(int64_t, pf_stage_wait_end_kind, int64_t, int64_t) {}
#endif
