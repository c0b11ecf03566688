// The stage histograms of a QEL_STAGE_TIMES build: a registry of named histograms that is
// never shrunk, per-thread wait figures, and the dump asked for by SIGUSR2. Counters are
// relaxed atomics with one writer each, so that the dumping thread reads them while their
// owners go on counting.
#include "platform/core/pf_stage_times.h"

int pf_stage_bucket(int64_t ns)
{
    if (ns < 16)
    {
        return ns < 0 ? 0 : static_cast<int>(ns);
    }
    int exponent = 63 - __builtin_clzll(static_cast<uint64_t>(ns));
    int sub = static_cast<int>((static_cast<uint64_t>(ns) >> (exponent - 3)) & 7);
    int bucket = 16 + (exponent - 4) * 8 + sub;
    return bucket < PF_STAGE_BUCKETS ? bucket : PF_STAGE_BUCKETS - 1;
}

#ifdef QEL_STAGE_TIMES

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/pf_thread.h"

namespace
{
struct named_histogram
{
    std::string name;
    pf_stage_histogram histogram{};
};

struct thread_figures
{
    uint32_t id = 0;
    int64_t last_end_ns = 0; // 0: the last wait took nothing
    pf_stage_histogram *work = nullptr;
    pf_stage_histogram *waits[PF_STAGE_WAIT_END_KINDS] = {};
    pf_stage_histogram *spins = nullptr;
};

std::mutex g_registry_lock;
std::vector<std::unique_ptr<named_histogram>> g_histograms; // under g_registry_lock
std::atomic<bool> g_dump_asked{false};
std::once_flag g_handler_once;

void ask_for_dump(int)
{
    g_dump_asked.store(true, std::memory_order_relaxed);
}

void install_handler()
{
    struct sigaction action = {};
    action.sa_handler = ask_for_dump;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR2, &action, nullptr);
}

void write_histogram(FILE *out, const named_histogram &h)
{
    fprintf(out, "histogram %s count %llu sum_ns %llu buckets", h.name.c_str(),
            static_cast<unsigned long long>(h.histogram.count.load(std::memory_order_relaxed)),
            static_cast<unsigned long long>(h.histogram.sum_ns.load(std::memory_order_relaxed)));
    for (int b = 0; b < PF_STAGE_BUCKETS; ++b)
    {
        uint64_t n = h.histogram.buckets[b].load(std::memory_order_relaxed);
        if (n != 0)
        {
            fprintf(out, " %d:%llu", b, static_cast<unsigned long long>(n));
        }
    }
    fprintf(out, "\n");
}

void write_dump()
{
    FILE *out = fopen("stage_times.tmp", "w");
    if (out == nullptr)
    {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(g_registry_lock);
        for (const std::unique_ptr<named_histogram> &h : g_histograms)
        {
            write_histogram(out, *h);
        }
    }
    fprintf(out, "end\n");
    fclose(out);
    rename("stage_times.tmp", "stage_times.txt");
}

thread_figures &figures()
{
    thread_local thread_figures t;
    if (t.work == nullptr)
    {
        t.id = pf_thread_current_id();
        std::string prefix = "thread " + std::to_string(t.id) + " ";
        static const char *const kinds[PF_STAGE_WAIT_END_KINDS] = {"ready_at_once", "caught_spinning",
                                                                   "after_sleep", "timed_out"};
        t.work = pf_stage_histogram_create((prefix + "work").c_str());
        for (int k = 0; k < PF_STAGE_WAIT_END_KINDS; ++k)
        {
            t.waits[k] = pf_stage_histogram_create((prefix + "wait " + kinds[k]).c_str());
        }
        t.spins = pf_stage_histogram_create((prefix + "spin").c_str());
    }
    return t;
}
} // namespace

pf_stage_histogram *pf_stage_histogram_create(const char *name)
{
    std::call_once(g_handler_once, install_handler);
    std::unique_ptr<named_histogram> h(new named_histogram);
    h->name = name;
    std::lock_guard<std::mutex> guard(g_registry_lock);
    g_histograms.push_back(std::move(h));
    return &g_histograms.back()->histogram;
}

void pf_stage_histogram_add(pf_stage_histogram *h, int64_t ns)
{
    std::atomic<uint64_t> &bucket = h->buckets[pf_stage_bucket(ns)];
    bucket.store(bucket.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    h->count.store(h->count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    h->sum_ns.store(h->sum_ns.load(std::memory_order_relaxed) + static_cast<uint64_t>(ns < 0 ? 0 : ns),
                    std::memory_order_relaxed);
}

void pf_stage_wait_begin(int64_t now_ns)
{
    thread_figures &t = figures();
    if (t.last_end_ns != 0)
    {
        pf_stage_histogram_add(t.work, now_ns - t.last_end_ns);
    }
}

void pf_stage_wait_end(int64_t now_ns, pf_stage_wait_end_kind kind, int64_t waited_ns, int64_t spun_ns)
{
    thread_figures &t = figures();
    pf_stage_histogram_add(t.waits[kind], waited_ns);
    if (spun_ns > 0)
    {
        pf_stage_histogram_add(t.spins, spun_ns);
    }
    t.last_end_ns = kind == PF_STAGE_TIMED_OUT ? 0 : now_ns;
    if (g_dump_asked.exchange(false, std::memory_order_relaxed))
    {
        write_dump();
    }
}

#endif
