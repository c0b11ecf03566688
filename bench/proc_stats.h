// What a process costs, read from /proc by the benchmarks: per-thread processor time and
// time spent runnable but waiting for a processor (schedstat, in nanoseconds), and the
// resident size. The waiting time says how much of a figure the machine's other load took.
// Also its system calls (one counter per thread on the kernel's raw_syscalls:sys_enter
// tracepoint, through perf_event_open) and its context switches (/proc status).
#pragma once

#include <dirent.h>
#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct thread_times
{
    uint64_t run_ns = 0;  // on a processor
    uint64_t wait_ns = 0; // runnable, waiting for one
    uint64_t slices = 0;  // times it was put on a processor
};

// Every thread of the process but `leave_out` (a kernel thread id, 0 for none).
inline std::map<int, thread_times> proc_thread_times(int pid, int leave_out = 0)
{
    std::map<int, thread_times> times;
    std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return times;
    while (struct dirent *entry = readdir(dir))
    {
        int tid = atoi(entry->d_name);
        if (entry->d_name[0] == '.' || tid == leave_out)
            continue;
        std::ifstream stat(folder + "/" + entry->d_name + "/schedstat");
        thread_times t;
        if (stat >> t.run_ns >> t.wait_ns >> t.slices)
            times[tid] = t;
    }
    closedir(dir);
    return times;
}

struct process_load
{
    double cpu_seconds = 0;  // all threads
    double wait_seconds = 0; // runnable but not running, all threads
    double busiest_core = 0; // the busiest thread's share of one core
    uint64_t slices = 0;     // times its threads were put on a processor, all threads
    double cores(double seconds) const { return seconds > 0 ? cpu_seconds / seconds : 0; }
};

inline process_load proc_load_between(const std::map<int, thread_times> &before,
                                      const std::map<int, thread_times> &after, double seconds)
{
    process_load load;
    for (const auto &t : after)
    {
        auto was = before.find(t.first);
        thread_times start = was == before.end() ? thread_times() : was->second;
        double run = static_cast<double>(t.second.run_ns - start.run_ns) / 1e9;
        load.cpu_seconds += run;
        load.wait_seconds += static_cast<double>(t.second.wait_ns - start.wait_ns) / 1e9;
        load.slices += t.second.slices - start.slices;
        if (seconds > 0)
            load.busiest_core = std::max(load.busiest_core, run / seconds);
    }
    return load;
}

// Resident set size in kB (VmRSS), 0 when the process is gone.
inline uint64_t proc_resident_kb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, 6, "VmRSS:") == 0)
            return strtoull(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// The machine's load average over the last minute, for the report's header.
inline double machine_load_average()
{
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return one;
}

struct switch_counts
{
    uint64_t syscalls = 0;
    uint64_t voluntary = 0;   // the thread slept
    uint64_t involuntary = 0; // the thread was preempted
};

// Counts a process's system calls and context switches between two takes. Threads are
// counted from the take that first sees them; a thread that ends keeps its system calls
// (the counter outlives it) but takes its context switches with it. System calls are not
// countable without the tracepoint (tracefs not mounted, or not allowed): counting() says.
class proc_switch_counter
{
  public:
    explicit proc_switch_counter(int pid, int leave_out = 0) : m_pid(pid), m_leave_out(leave_out)
    {
        for (const char *path : {"/sys/kernel/tracing/events/raw_syscalls/sys_enter/id",
                                 "/sys/kernel/debug/tracing/events/raw_syscalls/sys_enter/id"})
        {
            std::ifstream id(path);
            if (id >> m_tracepoint)
                break;
            m_tracepoint = -1;
        }
        take();
    }
    ~proc_switch_counter()
    {
        for (const auto &counter : m_counters)
            close(counter.second);
    }
    proc_switch_counter(const proc_switch_counter &) = delete;
    proc_switch_counter &operator=(const proc_switch_counter &) = delete;

    bool counting() const { return m_tracepoint >= 0 && !m_counters.empty() && !m_failed; }

    switch_counts take()
    {
        switch_counts counts;
        std::string folder = "/proc/" + std::to_string(m_pid) + "/task";
        DIR *dir = opendir(folder.c_str());
        if (dir == nullptr)
            return counts;
        while (struct dirent *entry = readdir(dir))
        {
            int tid = atoi(entry->d_name);
            if (entry->d_name[0] == '.' || tid == m_leave_out)
                continue;
            open_counter(tid);
            std::ifstream status(folder + "/" + entry->d_name + "/status");
            std::string line;
            while (std::getline(status, line))
            {
                if (line.compare(0, 24, "voluntary_ctxt_switches:") == 0)
                    counts.voluntary += strtoull(line.c_str() + 24, nullptr, 10);
                else if (line.compare(0, 27, "nonvoluntary_ctxt_switches:") == 0)
                    counts.involuntary += strtoull(line.c_str() + 27, nullptr, 10);
            }
        }
        closedir(dir);
        for (const auto &counter : m_counters)
        {
            uint64_t value = 0;
            if (read(counter.second, &value, sizeof value) == static_cast<ssize_t>(sizeof value))
                counts.syscalls += value;
        }
        return counts;
    }

  private:
    void open_counter(int tid)
    {
        if (m_tracepoint < 0 || m_counters.count(tid) != 0)
            return;
        perf_event_attr attr = {};
        attr.type = PERF_TYPE_TRACEPOINT;
        attr.size = sizeof attr;
        attr.config = static_cast<uint64_t>(m_tracepoint);
        long fd = syscall(SYS_perf_event_open, &attr, tid, -1, -1, PERF_FLAG_FD_CLOEXEC);
        if (fd < 0)
            m_failed = true;
        else
            m_counters[tid] = static_cast<int>(fd);
    }

    int m_pid;
    int m_leave_out;
    long long m_tracepoint = -1;
    bool m_failed = false;
    std::map<int, int> m_counters; // thread id -> counter descriptor
};

// The counts from `before` to `after`, per order.
struct switch_rates
{
    double syscalls = 0, voluntary = 0, involuntary = 0;
    bool syscalls_known = false;
};

inline switch_rates switch_rates_between(const switch_counts &before, const switch_counts &after,
                                         uint64_t orders, bool syscalls_known)
{
    switch_rates rates;
    if (orders == 0)
        return rates;
    auto per = [orders](uint64_t a, uint64_t b) { return b > a ? static_cast<double>(b - a) / orders : 0.0; };
    rates.syscalls = per(before.syscalls, after.syscalls);
    rates.voluntary = per(before.voluntary, after.voluntary);
    rates.involuntary = per(before.involuntary, after.involuntary);
    rates.syscalls_known = syscalls_known;
    return rates;
}
