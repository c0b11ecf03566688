// The per-stage breakdown of an order's time inside a running gateway built with
// QEL_STAGE_TIMES (platform/core/pf_stage_times.h): the benchmark asks the gateway for a dump
// (SIGUSR2) before and after a measurement, and prints the difference hop by hop along
// the road: how long records sat in each shared queue, how long each thread worked per
// pass and how its waits ended. A gateway built without the option writes no dump, and
// the breakdown says so.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"

struct stage_histogram
{
    uint64_t count = 0;
    uint64_t sum_ns = 0;
    std::map<int, uint64_t> buckets;

    // The middle of the bucket that holds quantile q, in microseconds.
    double at_us(double q) const
    {
        if (count == 0)
            return 0;
        uint64_t rank = static_cast<uint64_t>(q * static_cast<double>(count));
        uint64_t seen = 0;
        for (const auto &b : buckets)
        {
            seen += b.second;
            if (seen > rank)
                return bucket_middle_ns(b.first) / 1000.0;
        }
        return bucket_middle_ns(buckets.rbegin()->first) / 1000.0;
    }
    double mean_us() const { return count == 0 ? 0 : static_cast<double>(sum_ns) / count / 1000.0; }

    static double bucket_middle_ns(int b)
    {
        if (b < 16)
            return b;
        int exponent = (b - 16) / 8 + 4;
        int sub = (b - 16) % 8;
        double width = static_cast<double>(uint64_t(1) << (exponent - 3));
        return (8 + sub) * width + width / 2;
    }

    stage_histogram minus(const stage_histogram &before) const
    {
        stage_histogram d;
        d.count = count - before.count;
        d.sum_ns = sum_ns - before.sum_ns;
        for (const auto &b : buckets)
        {
            auto was = before.buckets.find(b.first);
            uint64_t n = b.second - (was == before.buckets.end() ? 0 : was->second);
            if (n != 0)
                d.buckets[b.first] = n;
        }
        return d;
    }
};

typedef std::map<std::string, stage_histogram> stage_dump;

// Asks the gateway for a dump and reads it; empty when none came within two seconds, and
// at once when this build has no stage times (a gateway without them would die of the
// signal).
inline stage_dump stage_dump_take(int pid, const std::string &folder)
{
#ifndef QEL_STAGE_TIMES
    (void)pid;
    (void)folder;
    return stage_dump();
#endif
    const std::string path = folder + "/stage_times.txt";
    unlink(path.c_str());
    kill(pid, SIGUSR2);
    stage_dump dump;
    for (int i = 0; i < 200; ++i)
    {
        std::ifstream in(path);
        if (in)
        {
            std::string line;
            bool complete = false;
            while (std::getline(in, line))
            {
                if (line == "end")
                {
                    complete = true;
                    break;
                }
                // histogram <name words...> count N sum_ns S buckets b:n ...
                size_t at_count = line.find(" count ");
                if (line.compare(0, 10, "histogram ") != 0 || at_count == std::string::npos)
                    continue;
                stage_histogram &h = dump[line.substr(10, at_count - 10)];
                std::istringstream rest(line.substr(at_count + 1));
                std::string word;
                rest >> word >> h.count >> word >> h.sum_ns >> word;
                while (rest >> word)
                {
                    size_t colon = word.find(':');
                    h.buckets[atoi(word.substr(0, colon).c_str())] =
                        strtoull(word.c_str() + colon + 1, nullptr, 10);
                }
            }
            if (complete)
                return dump;
            dump.clear();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return dump;
}

// The gateway's hops in road order: a shared queue's index and what it carries.
struct stage_hop
{
    int queue;
    const char *what;
};

class stage_breakdown
{
  public:
    stage_breakdown(const stage_dump &before, const stage_dump &after)
    {
        for (const auto &h : after)
        {
            auto was = before.find(h.first);
            m_diff[h.first] = was == before.end() ? h.second : h.second.minus(was->second);
        }
    }

    bool empty() const { return m_diff.empty(); }

    // One line per hop: time in the queue, then the consuming thread's work per pass and
    // how its waits ended. Returns the sum of the medians along the road (queue + work).
    double print(bench_report &out, const std::vector<stage_hop> &road) const
    {
        out.line("  %-44s %9s %9s %9s | %-9s %9s %9s | %6s %6s %6s %6s",
                 "hop (shared queue, then its consumer)", "q p50 us", "q p99 us", "records", "thread",
                 "work p50", "work p99", "at once", "spun", "slept", "t/out");
        double sum = 0;
        for (const stage_hop &hop : road)
        {
            std::string consumer;
            const stage_histogram *dwell = queue(hop.queue, &consumer);
            if (dwell == nullptr)
            {
                out.line("  q%-3d %-39s (no records)", hop.queue, hop.what);
                continue;
            }
            const stage_histogram *work = find("thread " + consumer + " work");
            uint64_t ends[4] = {};
            const char *kinds[4] = {"ready_at_once", "caught_spinning", "after_sleep", "timed_out"};
            uint64_t total = 0;
            for (int k = 0; k < 4; ++k)
            {
                const stage_histogram *w = find("thread " + consumer + " wait " + kinds[k]);
                ends[k] = w == nullptr ? 0 : w->count;
                total += ends[k];
            }
            auto share = [&](int k) { return total == 0 ? 0.0 : 100.0 * ends[k] / total; };
            double work50 = work == nullptr ? 0 : work->at_us(0.50);
            out.line("  q%-3d %-39s %9.1f %9.1f %9llu | %-9s %9.1f %9.1f | %5.0f%% %5.0f%% %5.0f%% %5.0f%%",
                     hop.queue, hop.what, dwell->at_us(0.50), dwell->at_us(0.99),
                     static_cast<unsigned long long>(dwell->count), consumer.c_str(), work50,
                     work == nullptr ? 0 : work->at_us(0.99), share(0), share(1), share(2), share(3));
            sum += dwell->at_us(0.50) + work50;
        }
        return sum;
    }

  private:
    const stage_histogram *find(const std::string &name) const
    {
        auto it = m_diff.find(name);
        return it == m_diff.end() ? nullptr : &it->second;
    }

    // "queue <n> consumer <tid> dwell"
    const stage_histogram *queue(int number, std::string *consumer) const
    {
        const std::string prefix = "queue " + std::to_string(number) + " consumer ";
        for (const auto &h : m_diff)
        {
            if (h.first.compare(0, prefix.size(), prefix) == 0 && h.second.count > 0)
            {
                *consumer = h.first.substr(prefix.size(), h.first.size() - prefix.size() - 6);
                return &h.second;
            }
        }
        return nullptr;
    }

    stage_dump m_diff;
};
