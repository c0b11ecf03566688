// What a process costs, read from /proc by the benchmarks: per-thread processor time and
// time spent runnable but waiting for a processor (schedstat, in nanoseconds), and the
// resident size. The waiting time says how much of a figure the machine's other load took.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

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
