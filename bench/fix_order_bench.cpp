// FIX orders through the gateway, beside the engine alone. A FIX client (an initiator of
// the same engine) logs on to a running qel_ip (its own process) in front of the simulated
// exchange host, and sends NewOrderSingles that travel to the exchange and come back as
// ExecutionReports. The same client code in the same process then trades with a plain
// acceptor of the same engine that answers each NewOrderSingle with an ExecutionReport
// itself, so the gateway's share shows as a ratio. Two measurements, each beside its
// baseline:
//   - one order in flight: NewOrderSingle to ExecutionReport round trip, p50, p99, p99.9, max;
//   - the highest sustained order rate: several orders kept in flight, the best of a few
//     window sizes, with the exchange's base rate at its highest (32767 records a second);
//     the gateway's processor time per order and the busiest threads of both processes
//     say what caps it, and the refusals of the gateway's flow control are counted.
// Each run through the gateway also counts its system calls and context switches per order.
// A gateway built with QEL_STAGE_TIMES also says where its time goes, hop by hop.
// Every order must come back as an ExecutionReport; anything else is counted.
// Figures are printed and written to bench_results/fix_order.txt under the build folder
// (or the path given).
//
//   fix_order_bench [output file]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/bench_report.h"
#include "bench/proc_stats.h"
#include "bench/stage_report.h"
#include "gateway/runtime/ea_socket.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_echo_acceptor.h"
#include "sim/fix_client/fix_sample_order.h"
#include "support/fix_road.h"

namespace
{
typedef std::chrono::steady_clock steady;

// The exchange's highest base rate (a signed 16-bit count of records a second and link).
const int16_t kBaseRate = 32767;
// Requests a FIX client may send while the host link withholds its invitation (the same
// allowance the main-road benchmark gives a workstation).
const uint32_t kFlowControlCount = 16;
const uint32_t kFixUser = 1001;
const uint32_t kTimeoutMs = 15000;
const uint32_t kSingleOrders = 10000;
const uint32_t kRateOrders = 20000;
const uint32_t kWindows[] = {16, 64, 256};

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now().time_since_epoch()).count();
}

// One side of the comparison: a logged-on client and the timing of its orders.
class order_road
{
  public:
    explicit order_road(qel_sim::fix_client &client) : m_client(client)
    {
        m_sent.reset(new std::atomic<int64_t>[kMaxOrders]);
        m_micros.assign(kMaxOrders, -1);
        m_client.on_message([this](const qel_sim::fix_client_message &m) { take(m); });
    }
    ~order_road() { m_client.on_message(nullptr); }

    struct result
    {
        uint32_t sent = 0, reported = 0, other = 0;
        double seconds = 0;
        std::vector<double> micros; // sorted
        std::string other_kinds;    // what the other answers were
        uint32_t lost() const { return sent - reported - other; }
        double rate() const { return seconds > 0 ? reported / seconds : 0; }
        double at(double q) const { return bench_percentile(micros, q); }
        double max() const { return micros.empty() ? 0 : micros.back(); }
    };

    // `count` orders, at most `window` of them unanswered at a time.
    result run(uint32_t count, uint32_t window)
    {
        result r;
        const uint32_t first = m_next;
        if (first + count >= kMaxOrders)
            return r;
        const int64_t start = now_ns();
        // The run gives up when no answer has come for kTimeoutMs.
        const int64_t patience = static_cast<int64_t>(kTimeoutMs) * 1000000;
        int64_t last_progress = start;
        uint32_t last_answered = 0;
        auto stalled = [&]
        {
            const uint32_t now_answered = answered() - answered_before();
            const int64_t now = now_ns();
            if (now_answered != last_answered)
            {
                last_answered = now_answered;
                last_progress = now;
            }
            return now - last_progress > patience;
        };
        uint32_t sent = 0;
        while (sent < count && !stalled())
        {
            if (sent - (answered() - answered_before()) >= window)
            {
                std::this_thread::yield();
                continue;
            }
            const uint32_t id = first + sent;
            m_sent[id].store(now_ns(), std::memory_order_release);
            if (!m_client.send_new_order_single(order(id)))
                break;
            ++sent;
        }
        m_next = first + sent;
        while (answered() - answered_before() < sent && !stalled())
            std::this_thread::yield();
        r.seconds = static_cast<double>(now_ns() - start) / 1e9;
        r.sent = sent;
        r.reported = m_reports.load(std::memory_order_acquire) - m_reports_at_start;
        r.other = m_other.load(std::memory_order_acquire) - m_other_at_start;
        for (uint32_t id = first; id < first + sent; ++id)
            if (m_micros[id] >= 0)
                r.micros.push_back(m_micros[id]);
        std::sort(r.micros.begin(), r.micros.end());
        {
            std::lock_guard<std::mutex> lock(m_kinds_mutex);
            for (const auto &kind : m_kinds)
                r.other_kinds += " " + std::to_string(kind.second) + " x (" + kind.first + ")";
            m_kinds.clear();
        }
        mark();
        return r;
    }

  private:
    static const uint32_t kMaxOrders = 200000;

    uint32_t answered() const
    {
        return m_reports.load(std::memory_order_acquire) + m_other.load(std::memory_order_acquire);
    }
    uint32_t answered_before() const { return m_reports_at_start + m_other_at_start; }
    void mark()
    {
        m_reports_at_start = m_reports.load(std::memory_order_acquire);
        m_other_at_start = m_other.load(std::memory_order_acquire);
    }

    // Runs on the client's engine thread, under the client's lock.
    void take(const qel_sim::fix_client_message &m)
    {
        if (m.administrative || m.poss_resend || m.type == "h")
            return;
        const int64_t arrived = now_ns();
        if (m.type == "8" && qel_test::fix_field(m.text, 150) == "0")
        {
            const long id = atol(qel_test::fix_field(m.text, 11).c_str());
            if (id > 0 && static_cast<uint32_t>(id) < kMaxOrders)
                m_micros[static_cast<size_t>(id)] =
                    static_cast<double>(arrived - m_sent[id].load(std::memory_order_acquire)) / 1000.0;
            m_reports.fetch_add(1, std::memory_order_release);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_kinds_mutex);
            std::string kind = "35=" + m.type;
            if (m.type == "8")
                kind += " 150=" + qel_test::fix_field(m.text, 150);
            const std::string text = qel_test::fix_field(m.text, 58);
            if (!text.empty())
                kind += " 58=" + text;
            ++m_kinds[kind];
        }
        m_other.fetch_add(1, std::memory_order_release);
    }

    // A firm's day limit order, the same for both sides but its ClOrdID.
    qel_sim::fix_client_fields order(uint32_t id) const
    {
        return qel_sim::sample_new_order(std::to_string(id), m_time);
    }

    qel_sim::fix_client &m_client;
    std::unique_ptr<std::atomic<int64_t>[]> m_sent;
    std::vector<double> m_micros; // written by the engine thread, read after the answers counted
    std::atomic<uint32_t> m_reports{0}, m_other{0};
    std::mutex m_kinds_mutex;
    std::map<std::string, uint32_t> m_kinds;
    uint32_t m_reports_at_start = 0, m_other_at_start = 0;
    uint32_t m_next = 1;
    std::string m_time = qel_sim::utc_timestamp();
};

// The FIX road through the gateway: the acceptor thread's record to the user session,
// then the workstation road's hops to the host and back, and the reply to the FIX send
// thread.
const std::vector<stage_hop> k_fix_road = {
    {20, "FIX acceptor -> user session"},
    {4, "user session -> request processing"},
    {5, "request processing -> host session"},
    {8, "host session -> host send validator"},
    {11, "host send validator -> host network"},
    {12, "host network -> host receive validator"},
    {13, "host receive validator -> host session"},
    {6, "host session -> response processing"},
    {7, "response processing -> user session"},
    {21, "user session -> FIX send thread"},
    {17, "host network -> request processing (pull)"},
};

class report : public bench_report
{
  public:
    void records(const char *who, const order_road::result &r)
    {
        line("  %-8s %u sent, %u ExecutionReports, %u other answers, %u unanswered%s%s", who, r.sent,
             r.reported, r.other, r.lost(), r.other_kinds.empty() ? "" : ":", r.other_kinds.c_str());
    }
};

std::string default_output()
{
    return bench_default_output("fix_order.txt");
}

bool complete(const order_road::result &r)
{
    return r.sent > 0 && r.lost() == 0;
}
} // namespace

int main(int argc, char *argv[])
{
    std::string output = argc > 1 ? argv[1] : default_output();
    char failure_text[256];
    uint32_t failure_size = sizeof failure_text;
    if (ea_socket_init(failure_text, &failure_size) != EA_SUCCESS)
        return 1;

    // The gateway with the exchange's base rate raised, its logging at business errors only.
    qel_sim::box_options box;
    box.base_rate = kBaseRate;
    qel_test::fix_road road({kFixUser}, box, qel_sim::exchange_options(),
                            {{"SYSTEM_LOGGING_LEVEL", "BUSINESS_ERROR"},
                             {"SYSTEM_BINARY_LOGGING_ENABLED", "FALSE"},
                             {"FIX_LOGGING", "N"},
                             {"FLOW_CONTROL_COUNT", std::to_string(kFlowControlCount)}});
    std::string error;
    std::unique_ptr<qel_sim::fix_client> via =
        road.listening ? road.ready_client(kFixUser, kTimeoutMs, &error) : nullptr;
    if (!via)
    {
        fprintf(stderr, "the FIX client did not reach the ready state through the gateway: %s\n",
                error.c_str());
        return 1;
    }

    // The plain acceptor of the same engine, and the same client code against it.
    qel_sim::fix_echo_acceptor_options plain_options;
    qel_test::reserved_port plain_port;
    plain_options.port = plain_port.number();
    // The engine keeps its sessions in one table per process: the plain side has its own ids.
    plain_options.sender_comp_id = "PLAIN";
    plain_options.clients = {"1001,MEMBR,2"};
    qel_sim::fix_echo_acceptor plain(plain_options);
    if (!plain.start(&error))
    {
        fprintf(stderr, "the plain acceptor cannot listen: %s\n", error.c_str());
        return 1;
    }
    qel_sim::fix_client_options client_options;
    client_options.port = plain_options.port;
    client_options.sender_comp_id = plain_options.clients[0];
    client_options.target_comp_id = plain_options.sender_comp_id;
    qel_sim::fix_client direct(client_options);
    if (!direct.start(&error) || !direct.wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs) ||
        !direct.request_journal({}) || !direct.wait_for_state(qel_sim::fix_client_state::ready, kTimeoutMs))
    {
        fprintf(stderr, "the FIX client did not reach the ready state at the plain acceptor (%s): %s %s\n",
                qel_sim::fix_client_state_name(direct.state()), error.c_str(), direct.logout_text().c_str());
        for (const qel_sim::fix_client_message &m : direct.received())
            fprintf(stderr, "  received %s\n", m.text.c_str());
        return 1;
    }

    order_road gateway_road(*via);
    order_road plain_road(direct);
    report out;
    out.line("FIX orders: FIX client -> qel_ip -> simulated exchange host -> back as ExecutionReport,");
    out.line("beside a plain acceptor of the same FIX engine that answers each NewOrderSingle with an");
    out.line("ExecutionReport itself (same client code, same process, same machine, loopback).");
    out.line("exchange base rate %d records/s per link; FLOW_CONTROL_COUNT %u; gateway logging at business",
             kBaseRate, kFlowControlCount);
    out.line("errors, no binary logs; requests beyond the flow-control allowance are refused by the gateway");
    out.line("(BusinessMessageReject) and counted as other answers, not in the rate.");

    // Warm both roads up.
    gateway_road.run(500, 1);
    plain_road.run(500, 1);

    bool failed = false;
    const int gateway_pid = road.gateway->pid();
    const int self_tid = static_cast<int>(gettid());
    proc_switch_counter gateway_switches(gateway_pid);
    // The gateway's system calls and context switches per answer over a run through it.
    auto switches = [&](const switch_counts &before, const switch_counts &after, const order_road::result &r)
    {
        switch_rates rates = switch_rates_between(before, after, r.reported, gateway_switches.counting());
        if (rates.syscalls_known)
            out.line(
                "  gateway  %.1f system calls and %.1f context switches per order (%.1f of them preempted)",
                rates.syscalls, rates.voluntary + rates.involuntary, rates.involuntary);
        else
            out.line("  gateway  %.1f context switches per order (%.1f of them preempted)",
                     rates.voluntary + rates.involuntary, rates.involuntary);
    };
    out.line("machine: %u processors, load average %.1f at the start", std::thread::hardware_concurrency(),
             machine_load_average());
    out.line("%s", "");
    out.line("NewOrderSingle to ExecutionReport, one order in flight, %u orders:", kSingleOrders);
    stage_dump stages_before = stage_dump_take(gateway_pid, road.dir.path());
    switch_counts switches_before = gateway_switches.take();
    order_road::result g = gateway_road.run(kSingleOrders, 1);
    switch_counts switches_after = gateway_switches.take();
    stage_dump stages_after = stage_dump_take(gateway_pid, road.dir.path());
    order_road::result p = plain_road.run(kSingleOrders, 1);
    out.latency("gateway", g);
    out.latency("plain", p);
    out.ratios(g, p);
    switches(switches_before, switches_after, g);
    out.records("gateway", g);
    out.records("plain", p);
    failed = failed || !complete(g) || !complete(p);
    const double single_p50 = p.at(0.50) > 0 ? g.at(0.50) / p.at(0.50) : 0;
    stage_breakdown single_stages(stages_before, stages_after);
    if (!single_stages.empty())
    {
        out.line("  where the gateway's time goes (an instrumented build; queue: time a record waits in it,");
        out.line("  work: its consumer's time per pass, then how that thread's waits ended):");
        double inside = single_stages.print(out, k_fix_road);
        out.line(
            "  sum of the medians along the road: %.1f us of the %.1f us round trip; the rest is the FIX",
            inside, g.at(0.50));
        out.line("  engine on both sides, the loopback connections and the simulated host");
    }

    order_road::result best_g, best_p;
    uint32_t best_g_window = 0, best_p_window = 0;
    process_load best_g_gateway, best_g_bench;
    for (uint32_t window : kWindows)
    {
        out.line("%s", "");
        out.line("sustained rate, %u orders, up to %u in flight:", kRateOrders, window);
        auto gw_before = proc_thread_times(gateway_pid);
        auto self_before = proc_thread_times(getpid(), self_tid);
        switches_before = gateway_switches.take();
        g = gateway_road.run(kRateOrders, window);
        switches_after = gateway_switches.take();
        process_load gw = proc_load_between(gw_before, proc_thread_times(gateway_pid), g.seconds);
        process_load self = proc_load_between(self_before, proc_thread_times(getpid(), self_tid), g.seconds);
        p = plain_road.run(kRateOrders, window);
        out.latency("gateway", g);
        out.latency("plain", p);
        out.ratios(g, p);
        switches(switches_before, switches_after, g);
        out.records("gateway", g);
        out.records("plain", p);
        out.line(
            "  gateway %.2f cores, %.1f us of processor time per order, busiest thread %.0f%% of a core; its",
            gw.cores(g.seconds), g.reported == 0 ? 0 : gw.cpu_seconds * 1e6 / g.reported,
            gw.busiest_core * 100);
        out.line(
            "  threads waited %.2f s for a processor; client and simulated host %.2f cores, busiest thread %.0f%%",
            gw.wait_seconds, self.cores(g.seconds), self.busiest_core * 100);
        out.line("  refused by the gateway's flow control: %.3f%% of the orders",
                 g.sent == 0 ? 0 : 100.0 * g.other / g.sent);
        failed = failed || !complete(g) || !complete(p);
        if (g.rate() > best_g.rate())
        {
            best_g = g;
            best_g_window = window;
            best_g_gateway = gw;
            best_g_bench = self;
        }
        if (p.rate() > best_p.rate())
        {
            best_p = p;
            best_p_window = window;
        }
    }

    out.line("%s", "");
    out.line(
        "highest sustained rate: gateway %.0f orders/s (window %u), plain acceptor %.0f orders/s (window %u), ratio %.2fx",
        best_g.rate(), best_g_window, best_p.rate(), best_p_window,
        best_p.rate() > 0 ? best_g.rate() / best_p.rate() : 0);
    std::string cap;
    const int gateway_busiest = static_cast<int>(best_g_gateway.busiest_core * 100);
    const int load_busiest = static_cast<int>(best_g_bench.busiest_core * 100);
    if (best_g.rate() >= 0.95 * kBaseRate)
        cap = "the exchange's rate control (base rate " + std::to_string(kBaseRate) + "/s)";
    else if (best_g.other > 0)
        cap =
            "the gateway's flow control toward the host link: while the link's invitation is withheld a client may send " +
            std::to_string(kFlowControlCount) + " requests, and " + std::to_string(best_g.other) +
            " were refused (\"System is not ready to accept requests.\"); the busiest gateway thread ran at " +
            std::to_string(gateway_busiest) + "% of a core, the busiest load-side thread at " +
            std::to_string(load_busiest) + "%";
    else if (best_g_gateway.busiest_core >= 0.9)
        cap = "one gateway thread, busy " + std::to_string(gateway_busiest) + "% of a core";
    else if (best_g_bench.busiest_core >= 0.9)
        cap = "the load side: a thread of the client or the simulated host, busy " +
              std::to_string(load_busiest) + "% of a core";
    else
        cap = "the hand-offs between the gateway's threads: no thread is saturated (gateway " +
              std::to_string(gateway_busiest) + "%, load side " + std::to_string(load_busiest) + "%)";
    out.line("what caps it: %s; rate control at %d/s is %.0f%% used.", cap.c_str(), kBaseRate,
             100.0 * best_g.rate() / kBaseRate);
    out.line("%s", "");
    out.line(
        "aims: one order in flight, median within 2.5x of the plain acceptor's (%.2fx); sustained at least",
        single_p50);
    out.line(
        "      30000 orders/s or the plain acceptor's rate if lower (%.0f of %.0f orders/s), refusals under 0.1%%",
        best_g.rate(), std::min(30000.0, best_p.rate()));
    out.line("      (%.3f%%)", best_g.sent == 0 ? 0 : 100.0 * best_g.other / best_g.sent);

    direct.stop();
    plain.stop();
    via->stop();
    qel_test::process_result ended = road.stop();
    out.line("%s", "");
    out.line("every order answered (ExecutionReport, or a refusal counted above): %s; gateway exit code %d%s",
             failed ? "NO" : "yes", ended.exit_code, ended.timed_out ? " (timed out)" : "");
    if (out.write(output))
        printf("written to %s\n", output.c_str());
    else
        fprintf(stderr, "cannot write %s\n", output.c_str());
    ea_socket_cleanup();
    return failed ? 2 : 0;
}
