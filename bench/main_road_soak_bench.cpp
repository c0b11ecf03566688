// Memory over a long run of the main road: eight traders send 1,000,000 orders through a
// running qel_ip to the simulated exchange host, keeping up to an invitation's worth in
// flight each, and the gateway's resident size is read from /proc after every 100,000. It
// must end within 5% of its size after the first 100,000: nothing may grow with the
// number of orders. Takes minutes; not part of the test suite. Figures are printed and
// written to bench_results/main_road_soak.txt under the build folder (or the path given).
//
//   main_road_soak_bench [output file] [orders]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/main_road_support.h"
#include "bench/proc_stats.h"

using namespace main_road;

int main(int argc, char *argv[])
{
    std::string output = argc > 1 ? argv[1] : bench_default_output("main_road_soak.txt");
    const uint32_t total = argc > 2 ? static_cast<uint32_t>(atol(argv[2])) : 1000000;
    const uint32_t traders = 8, step = 100000;
    char failure_text[256];
    uint32_t failure_size = sizeof failure_text;
    if (ea_socket_init(failure_text, &failure_size) != EA_SUCCESS)
        return 1;
    roads road(traders, kWideOpenRate);
    if (!road.failure.empty())
    {
        fprintf(stderr, "%s\n", road.failure.c_str());
        return 1;
    }
    const int pid = road.gateway->pid();

    main_road_report out;
    out.line("main road soak: %u orders through qel_ip by %u traders, up to %u in flight each, rate control",
             total, traders, static_cast<uint32_t>(kInvitationCount));
    out.line("at base rate %d; the gateway's resident size after every %u orders.", kWideOpenRate, step);
    out.line("  start (signed on, no orders yet): %llu kB",
             static_cast<unsigned long long>(proc_resident_kb(pid)));

    bool lost = false;
    uint64_t first_kb = 0, last_kb = 0, peak_kb = 0;
    uint32_t done = 0;
    while (done < total)
    {
        uint32_t each = std::min(step, total - done) / traders;
        run_result r = run(road.via_clients, road.via_traders, traders, each, kInvitationCount);
        uint32_t seen = host_orders(*road.host);
        road.host->clear_received();
        done += r.sent;
        lost = lost || r.lost() != 0 || r.unexplained != 0 || seen != r.sent || !r.failures.empty() ||
               r.sent == 0;
        last_kb = proc_resident_kb(pid);
        peak_kb = std::max(peak_kb, last_kb);
        if (first_kb == 0)
            first_kb = last_kb;
        out.line(
            "  after %7u orders: %7llu kB resident (%+.1f%% of the size after the first %u); %6.0f orders/s, "
            "p50 %.0f us, p99.9 %.0f us%s",
            done, static_cast<unsigned long long>(last_kb),
            first_kb == 0 ? 0 : 100.0 * (static_cast<double>(last_kb) - first_kb) / first_kb, step, r.rate(),
            r.at(0.50), r.at(0.999), r.lost() != 0 || seen != r.sent ? " -- RECORDS LOST" : "");
        if (r.sent == 0)
            break;
    }
    double growth = first_kb == 0 ? 0 : 100.0 * (static_cast<double>(last_kb) - first_kb) / first_kb;
    out.blank();
    out.line(
        "resident size at the end %+.1f%% of the size after the first %u orders (aim: within 5%%); peak %llu kB",
        growth, step, static_cast<unsigned long long>(peak_kb));
    qel_test::process_result ended = road.stop();
    out.line("records lost: %s; gateway exit code %d%s", lost ? "YES" : "none", ended.exit_code,
             ended.timed_out ? " (timed out)" : "");
    if (out.write(output))
        printf("written to %s\n", output.c_str());
    ea_socket_cleanup();
    return lost ? 2 : 0;
}
