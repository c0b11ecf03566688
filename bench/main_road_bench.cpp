// The main road's round trip under load. Traders at workstations enter orders through a
// running qel_ip (its own process) to the simulated exchange host and count every answer;
// the same client code runs in the same process against a direct responder that speaks
// the workstation framing and confirms each order at once, so the gateway's share of the
// round trip shows as a ratio. Measurements, each beside its baseline where it has one:
//   - one order in flight from one trader: latency p50, p99, p99.9, max (and, from a
//     gateway built with QEL_STAGE_TIMES, where its time goes hop by hop);
//   - rising load: 1, 2, 4, 8 traders, each on its own thread and connection, each keeping
//     several orders in flight (as many as one invitation allows);
//   - the highest sustained order rate with the exchange's rate control at its highest
//     base rate, with the gateway's processor time per order and its busiest thread;
//   - 30,000 orders a second (92% of what one host link may carry at that base rate),
//     kept at that pace by eight traders: latency, processor time per order;
//   - the gateway idle for 10 s after the traffic stops, its traders signed on: its share
//     of one core.
// Beside each section's latencies: the gateway's system calls and context switches per
// order, counted for its process alone.
// Every order must come back confirmed or rejected with a reason; anything else is counted
// as lost, on the trader's side and on the host's. Figures are printed and written to a
// file (bench_results/main_road.txt under the build folder, or the path given).
//
//   main_road_bench [output file] [sections]
// sections: a comma-separated choice of idle, single, load, peak, paced (all by default).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/main_road_support.h"
#include "bench/proc_stats.h"
#include "bench/stage_report.h"

using namespace main_road;

namespace
{
// The workstation road through the gateway: request out, reply back, and the host link's
// pull notices that let the next packet go.
const std::vector<stage_hop> k_workstation_road = {
    {0, "workstation network -> receive validator"},   {1, "receive validator -> user session"},
    {4, "user session -> request processing"},         {5, "request processing -> host session"},
    {8, "host session -> host send validator"},        {11, "host send validator -> host network"},
    {12, "host network -> host receive validator"},    {13, "host receive validator -> host session"},
    {6, "host session -> response processing"},        {7, "response processing -> user session"},
    {2, "user session -> workstation send validator"}, {3, "send validator -> workstation network"},
    {17, "host network -> request processing (pull)"},
};

const double kPacedRate = 30000;

class report : public main_road_report
{
  public:
    // The gateway's processor time over a run, per order, and its busiest thread.
    void cost(const process_load &gateway, const process_load &bench, const run_result &r)
    {
        uint32_t orders = r.confirmed + r.rejected;
        line("  gateway  %.2f cores, %.1f us of processor time per order, busiest thread %.0f%% of a core;",
             gateway.cores(r.seconds), orders == 0 ? 0 : gateway.cpu_seconds * 1e6 / orders,
             gateway.busiest_core * 100);
        line("           its threads waited %.2f s for a processor (the machine's other load); the benchmark",
             gateway.wait_seconds);
        line("           (traders, simulated host) used %.2f cores, its busiest thread %.0f%%",
             bench.cores(r.seconds), bench.busiest_core * 100);
    }

    void switches(const switch_rates &r)
    {
        if (r.syscalls_known)
            line("  gateway  %.1f system calls and %.1f context switches per order (%.1f of them preempted)",
                 r.syscalls, r.voluntary + r.involuntary, r.involuntary);
        else
            line(
                "  gateway  %.1f context switches per order (%.1f of them preempted); system calls not countable here",
                r.voluntary + r.involuntary, r.involuntary);
    }
};
} // namespace

int main(int argc, char *argv[])
{
    std::string output = argc > 1 ? argv[1] : bench_default_output("main_road.txt");
    const std::string sections =
        argc > 2 ? "," + std::string(argv[2]) + "," : ",idle,single,load,peak,paced,";
    auto wanted = [&](const char *section)
    { return sections.find("," + std::string(section) + ",") != std::string::npos; };
    const uint32_t single_orders = 10000, load_orders = 4000, peak_orders = 10000, traders = 8;
    const uint32_t paced_orders = 25000;
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
    const int gateway_pid = road.gateway->pid();
    const int self_tid = static_cast<int>(gettid());
    proc_switch_counter gateway_switches(gateway_pid);
    // Runs the road through the gateway, counting its system calls and context switches.
    switch_rates switched;
    auto counted = [&](const std::function<run_result()> &road_run)
    {
        switch_counts before = gateway_switches.take();
        run_result r = road_run();
        switched = switch_rates_between(before, gateway_switches.take(), r.confirmed + r.rejected,
                                        gateway_switches.counting());
        return r;
    };

    report out;
    out.line("main road: workstation -> qel_ip -> simulated exchange host -> back, beside a direct");
    out.line("responder (same client code, workstation framing, each order confirmed at once).");
    out.line("FLOW_CONTROL_COUNT %u; exchange base rate %d records/s per link (its largest: the",
             kInvitationCount, kWideOpenRate);
    out.line("box parameters carry it as a signed 16-bit count, so one host link cannot pass more");
    out.line("than %d weighted records a second however fast the gateway is).", kWideOpenRate);
    out.line("machine: %u processors, load average %.1f at the start", std::thread::hardware_concurrency(),
             machine_load_average());

    // Warm both roads up.
    run(road.via_clients, road.via_traders, 1, 200, 1);
    run(road.direct_clients, road.direct_traders, 1, 200, 1);
    road.host->clear_received();

    // Idle: the traffic has just stopped; spinning must stop with it.
    if (wanted("idle"))
    {
        auto before = proc_thread_times(gateway_pid);
        steady::time_point start = steady::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        process_load idle = proc_load_between(before, proc_thread_times(gateway_pid),
                                              std::chrono::duration<double>(steady::now() - start).count());
        out.blank();
        out.line(
            "idle for 10 s right after traffic, %u traders signed on: gateway %.2f%% of one core, busiest",
            traders, idle.cores(10) * 100);
        out.line(
            "  thread %.2f%% (aim: under 2%% of one core); its threads ran %.0f times a second, %.1f us each",
            idle.busiest_core * 100, idle.slices / 10.0,
            idle.slices == 0 ? 0 : idle.cpu_seconds * 1e6 / idle.slices);
    }

    bool lost = false;
    auto record_both = [&](const run_result &via, const run_result &direct)
    {
        uint32_t seen = host_orders(*road.host);
        road.host->clear_received();
        out.records("gateway", via, seen);
        out.records("direct", direct, -1);
        lost = lost || via.lost() != 0 || direct.lost() != 0 || via.unexplained != 0 ||
               direct.unexplained != 0 || seen != via.sent || !via.failures.empty() ||
               !direct.failures.empty();
    };

    run_result via, direct;
    double single_p50 = 0, single_p99 = 0, peak_rate = 0, paced_rate = 0, paced_tail_ms = 0;
    switch_rates single_switches;
    if (wanted("single"))
    {
        out.blank();
        out.line("one order in flight, one trader, %u orders:", single_orders);
        stage_dump stages_before = stage_dump_take(gateway_pid, road.dir.path());
        via = counted([&] { return run(road.via_clients, road.via_traders, 1, single_orders, 1); });
        single_switches = switched;
        stage_dump stages_after = stage_dump_take(gateway_pid, road.dir.path());
        direct = run(road.direct_clients, road.direct_traders, 1, single_orders, 1);
        out.latency("gateway", via);
        out.latency("direct", direct);
        out.ratios(via, direct);
        out.switches(switched);
        record_both(via, direct);
        single_p50 = direct.at(0.50) > 0 ? via.at(0.50) / direct.at(0.50) : 0;
        single_p99 = direct.at(0.99) > 0 ? via.at(0.99) / direct.at(0.99) : 0;
        stage_breakdown single_stages(stages_before, stages_after);
        if (!single_stages.empty())
        {
            out.line(
                "  where the gateway's time goes (an instrumented build; queue: time a record waits in it,");
            out.line("  work: its consumer's time per pass, then how that thread's waits ended):");
            double inside = single_stages.print(out, k_workstation_road);
            out.line(
                "  sum of the medians along the road: %.1f us of the %.1f us round trip; the rest is the",
                inside, via.at(0.50));
            out.line("  trader, the loopback connections and the simulated host");
        }
    }

    for (uint32_t n : {1u, 2u, 4u, 8u})
    {
        if (!wanted("load"))
            break;
        out.blank();
        out.line(
            "%u trader(s), each on its own connection and thread, %u orders each, up to %u in flight each:",
            n, load_orders, kLoadWindow);
        via = counted([&] { return run(road.via_clients, road.via_traders, n, load_orders, kLoadWindow); });
        direct = run(road.direct_clients, road.direct_traders, n, load_orders, kLoadWindow);
        out.latency("gateway", via);
        out.latency("direct", direct);
        out.ratios(via, direct);
        out.switches(switched);
        record_both(via, direct);
    }

    if (wanted("peak"))
    {
        out.blank();
        out.line(
            "highest sustained rate, rate control at its highest base rate: %u traders, %u orders each, up to %u",
            traders, peak_orders, static_cast<uint32_t>(kInvitationCount));
        out.line("in flight each:");
        auto gateway_before = proc_thread_times(gateway_pid);
        auto bench_before = proc_thread_times(getpid(), self_tid);
        via = counted(
            [&] { return run(road.via_clients, road.via_traders, traders, peak_orders, kInvitationCount); });
        process_load peak_gateway =
            proc_load_between(gateway_before, proc_thread_times(gateway_pid), via.seconds);
        process_load peak_bench =
            proc_load_between(bench_before, proc_thread_times(getpid(), self_tid), via.seconds);
        direct = run(road.direct_clients, road.direct_traders, traders, peak_orders, kInvitationCount);
        out.latency("gateway", via);
        out.latency("direct", direct);
        out.ratios(via, direct);
        out.switches(switched);
        record_both(via, direct);
        out.cost(peak_gateway, peak_bench, via);
        peak_rate = via.rate();
    }

    if (wanted("paced"))
    {
        out.blank();
        out.line(
            "%.0f orders/s kept up by %u traders (%u orders each), %.0f%% of what one link may carry at base",
            kPacedRate, traders, paced_orders, 100.0 * kPacedRate / kWideOpenRate);
        out.line("rate %d:", kWideOpenRate);
        auto gateway_before = proc_thread_times(gateway_pid);
        auto bench_before = proc_thread_times(getpid(), self_tid);
        stage_dump stages_before = stage_dump_take(gateway_pid, road.dir.path());
        via = counted(
            [&] { return run_paced(road.via_clients, road.via_traders, traders, paced_orders, kPacedRate); });
        stage_dump stages_after = stage_dump_take(gateway_pid, road.dir.path());
        process_load paced_gateway =
            proc_load_between(gateway_before, proc_thread_times(gateway_pid), via.seconds);
        process_load paced_bench =
            proc_load_between(bench_before, proc_thread_times(getpid(), self_tid), via.seconds);
        direct = run_paced(road.direct_clients, road.direct_traders, traders, paced_orders, kPacedRate);
        out.latency("gateway", via);
        out.latency("direct", direct);
        out.ratios(via, direct);
        out.switches(switched);
        record_both(via, direct);
        out.cost(paced_gateway, paced_bench, via);
        stage_breakdown paced_stages(stages_before, stages_after);
        if (!paced_stages.empty())
        {
            out.line("  where the gateway's time goes at this pace:");
            paced_stages.print(out, k_workstation_road);
        }
        paced_rate = via.rate();
        paced_tail_ms = via.at(0.999) / 1000;
    }

    out.blank();
    out.line(
        "aims: one order in flight, median within 3x of the direct one (%.2fx) and p99 within 5x (%.2fx);",
        single_p50, single_p99);
    if (single_switches.syscalls_known)
        out.line("      one order in flight, at most 50 gateway system calls per order (%.1f)",
                 single_switches.syscalls);
    out.line(
        "      at least 30000 orders/s through one host link with p99.9 under 10 ms (%.0f orders/s, p99.9 %.1f ms);",
        paced_rate, paced_tail_ms);
    out.line("      highest sustained rate %.0f orders/s (one link's ceiling at base rate %d: %d/s)",
             peak_rate, kWideOpenRate, kWideOpenRate);

    qel_test::process_result ended = road.stop();
    out.blank();
    if (road.responder.check_failures() != 0)
        out.line("direct responder: %llu frames failed its checks",
                 static_cast<unsigned long long>(road.responder.check_failures()));
    out.line("records lost: %s; gateway exit code %d%s", lost ? "YES (see above)" : "none", ended.exit_code,
             ended.timed_out ? " (timed out)" : "");
    if (out.write(output))
        printf("written to %s\n", output.c_str());
    else
        fprintf(stderr, "cannot write %s\n", output.c_str());
    ea_socket_cleanup();
    return lost ? 2 : 0;
}
