// The attack run: a trader at a workstation and a FIX client trade through a running
// qel_ip (its own process) to the simulated exchange host, first alone (the baseline),
// then while every hostile peer of sim/hostile repeats its attack beside them: a signed-on
// user sending the box's records and second sign-ons, connections holding the free
// workstation slots with one byte, a console flooding the interactive port and vanishing
// unread, a FIX connection announcing a huge message and sending filler, and requests to
// the FIX status page to disable every session. For each phase it reports the honest
// users' orders sent and answered with their latencies, the gateway's CPU and memory, the
// host connections and box sign-ons, the bytes of log written, and what the attackers got.
// Three more items each run a gateway of their own, the trader and the FIX client trading
// alone first (the item's baseline) and then beside one attack: (1) about 950 connections
// to the FIX port that send nothing or half a logon, (2) a flood of connects to a full
// workstation port, with a console that connects after it and takes the day's events, and
// (5) slot holders on every free workstation slot that connect again at once whenever
// they are dropped, while a newcomer trader tries to sign on.
// Figures are printed and written to bench_results/hostile_peers.txt under the build
// folder (or the file given). A gateway binary other than this build's may be given, to
// measure a build without the mends on the same machine in the same way; the items to run
// may be chosen (default "0125", 0 being the attacks together).
//
//   hostile_peers_bench [seconds per phase] [output file] [qel_ip binary] [items]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "sim/console/console_client.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t kAnswerMs = 2000; // an order not answered within this counts as unanswered
const uint32_t kTraderUser = 2001;
const uint32_t kHostileUser = 3001;
const uint32_t kFixUser = 1001;
const uint32_t kMaxClients = 10;
const uint32_t kFreeSlots = kMaxClients - 2;
// Threads of the connect flood: each connect that meets a full backlog waits for its retry.
const int kFlooders = 64;

double since_ms(steady::time_point start)
{
    return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

qel_sim::fix_client_fields fix_order(uint32_t id)
{
    return qel_sim::sample_new_order(std::to_string(id), qel_sim::utc_timestamp());
}

// What /proc says of the gateway: CPU seconds so far, resident and peak resident kB.
struct process_sample
{
    double cpu_seconds = 0;
    long rss_kb = 0;
    long peak_kb = 0;
};

process_sample sample(int pid)
{
    process_sample s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    if (close != std::string::npos)
    {
        std::vector<std::string> fields;
        size_t at = close + 2;
        while (at < text.size())
        {
            size_t end = text.find(' ', at);
            fields.push_back(text.substr(at, end - at));
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
        // utime and stime are the 14th and 15th fields, 12th and 13th after the name.
        if (fields.size() > 12)
            s.cpu_seconds =
                (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, 6, "VmRSS:") == 0)
            s.rss_kb = std::stol(line.substr(6));
        if (line.compare(0, 6, "VmHWM:") == 0)
            s.peak_kb = std::stol(line.substr(6));
    }
    return s;
}

// Open descriptors of the gateway.
long descriptors(int pid)
{
    long count = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return count;
}

uint64_t folder_bytes(const std::string &folder)
{
    uint64_t total = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder, error))
        if (entry.is_regular_file(error))
            total += entry.file_size(error);
    return total;
}

// Latencies of one honest user in one phase.
struct orders
{
    uint32_t sent = 0;
    uint32_t answered = 0;
    std::vector<double> millis;
    void add(bool ok, double ms)
    {
        ++sent;
        if (!ok)
            return;
        ++answered;
        millis.push_back(ms);
    }
    double at(double q)
    {
        std::sort(millis.begin(), millis.end());
        return bench_percentile(millis, q);
    }
};

struct attack_counts
{
    std::atomic<uint32_t> hostile_rounds{0}, console_floods{0}, fix_floods{0}, fix_cut{0}, http_asked{0},
        http_refused{0};
    std::atomic<uint64_t> fix_bytes{0};
    uint32_t slots_held = 0, slots_closed = 0;
};

// The gateway with the simulated host, a workstation port, a FIX port and its status page.
struct gateway_run
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0, fix_port = 0, http_port = 0, interactive_port = 0, realtime_port = 0;

    explicit gateway_run(const std::string &binary, uint32_t max_clients = kMaxClients)
    {
        qel_sim::host_options options;
        options.lifetime_ms = 3600 * 1000;
        host.reset(new qel_sim::sim_host(options));
        host->start();
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box_options.max_users = static_cast<int16_t>(max_clients);
        box.reset(new qel_sim::sim_box_host(*host, box_options));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        config.values["MAX_TWS_CLIENTS"] = std::to_string(max_clients);
        config.values["SYSTEM_LOGGING_LEVEL"] = "EVENT";
        workstation_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        interactive_port =
            static_cast<uint16_t>(std::stoi(config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]));
        realtime_port = static_cast<uint16_t>(std::stoi(config.values["INTERFACE_REALTIME_PORT_NUMBER"]));
        std::string path = config.write(dir);
        fix_port = config.fix_port; // the configuration holds both until the gateway binds them
        http_port = config.reserve_port();
        dir.write(config.values["FIX_FILE_PATH"],
                  "[DEFAULT]\nConnectionType=acceptor\nNicIpAddress=127.0.0.1\nSocketAcceptPort=" +
                      std::to_string(fix_port) + "\nHttpAcceptPort=" + std::to_string(http_port) +
                      "\nFileStorePath=fix_store\nFileLogPath=logs\nStartTime=00:00:00\nEndTime=00:00:00\n"
                      "HeartBtInt=30\n[SESSION]\nBeginString=FIX.4.2\nSenderCompID=QEL\nTargetCompID=" +
                      std::to_string(kFixUser) + ",MEMBR,1\n");
        gateway.reset(new qel_test::child_process({binary, "-c", path}, dir.path()));
    }
    ~gateway_run()
    {
        if (gateway)
        {
            gateway->signal(SIGTERM);
            gateway->wait(20000);
        }
        host->stop();
    }
};

// The honest users: each keeps one order in flight on its own thread, filing the
// latencies under the phase that is running.
struct honest_users
{
    std::atomic<int> phase{0};
    std::atomic<bool> stop{false};
    orders trader_orders[2], fix_orders[2];
    std::atomic<uint32_t> fix_reports{0};
    std::atomic<uint32_t> fix_refusals[2] = {{0}, {0}}; // business rejects among the answers
    std::mutex lock;
    std::thread trader_thread, fix_thread;

    // The FIX user trades only when there is one.
    void start(qel_sim::trader &trader, qel_sim::fix_client *fix_client)
    {
        trader_thread = std::thread(
            [&]
            {
                while (!stop)
                {
                    qel_sim::trader_order order;
                    int at = phase;
                    auto begin = steady::now();
                    qel_sim::trader_reply reply = trader.enter(order, kAnswerMs);
                    std::lock_guard<std::mutex> guard(lock);
                    trader_orders[at].add(reply.arrived && reply.transcode == 2073, since_ms(begin));
                }
            });
        if (fix_client == nullptr)
            return;
        qel_sim::fix_client &fix = *fix_client;
        fix.on_message(
            [this](const qel_sim::fix_client_message &m)
            {
                // An execution report, or a reject of the order: either answers it.
                if (!m.administrative && !m.poss_resend && m.type != "h")
                    ++fix_reports;
                if (m.type == "j")
                    ++fix_refusals[phase];
            });
        fix_thread = std::thread(
            [&]
            {
                uint32_t id = 0;
                uint32_t refusals_seen = 0;
                while (!stop)
                {
                    int at = phase;
                    auto begin = steady::now();
                    // An order counts as answered when its report (or a late one's) arrives in time.
                    uint32_t wanted = fix_reports + 1;
                    bool ok = fix.send_new_order_single(fix_order(++id));
                    while (ok && fix_reports < wanted && since_ms(begin) < kAnswerMs)
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                    ok = ok && fix_reports >= wanted;
                    {
                        std::lock_guard<std::mutex> guard(lock);
                        fix_orders[at].add(ok, since_ms(begin));
                    }
                    // A member's order system refused for now tries again a little later.
                    if (fix_refusals[0] + fix_refusals[1] != refusals_seen)
                    {
                        refusals_seen = fix_refusals[0] + fix_refusals[1];
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                }
            });
    }
    void finish()
    {
        stop = true;
        trader_thread.join();
        if (fix_thread.joinable())
            fix_thread.join();
    }
};

void run_attackers(gateway_run &run, attack_counts &counts, std::atomic<bool> &stop,
                   std::vector<std::thread> &threads, qel_sim::hostile_workstation &hostile)
{
    threads.emplace_back(
        [&]
        {
            uint32_t other = 90000;
            while (!stop && hostile.attack_round(other++, kAnswerMs))
                ++counts.hostile_rounds;
        });
    threads.emplace_back(
        [&]
        {
            while (!stop)
            {
                counts.console_floods +=
                    qel_sim::console_request_and_vanish(run.interactive_port, 2000) ? 1 : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    threads.emplace_back(
        [&]
        {
            while (!stop)
            {
                // One connection floods for as long as the gateway takes it, up to a second.
                qel_sim::fix_flood_result r = qel_sim::fix_flood(run.fix_port, 1ull << 40, 1000);
                ++counts.fix_floods;
                counts.fix_cut += r.cut ? 1 : 0;
                counts.fix_bytes += r.bytes_sent;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    threads.emplace_back(
        [&]
        {
            while (!stop)
            {
                ++counts.http_asked;
                std::string status = qel_sim::http_status(run.http_port, "/disableSessions?confirm=1", 2000);
                counts.http_refused += status.find(" 403 ") != std::string::npos ? 1 : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
}

struct phase_figures
{
    process_sample start, end;
    uint32_t connections_start = 0, connections_end = 0, sign_ons_start = 0, sign_ons_end = 0,
             relogons_start = 0, relogons_end = 0;
    uint64_t log_start = 0, log_end = 0;
    long peak_rss = 0, peak_fds = 0;
    double seconds = 0;
};

void report_phase(bench_report &report, const char *name, phase_figures &f, orders &trader, orders &fix,
                  uint32_t fix_refusals)
{
    report.line("%s (%.0f s):", name, f.seconds);
    report.line("  trader orders   sent %6u  answered %6u  p50 %8.2f ms  p99 %8.2f ms", trader.sent,
                trader.answered, trader.at(0.5), trader.at(0.99));
    report.line("  FIX orders      sent %6u  answered %6u  p50 %8.2f ms  p99 %8.2f ms  (%u of the answers "
                "business rejects)",
                fix.sent, fix.answered, fix.at(0.5), fix.at(0.99), fix_refusals);
    report.line(
        "  gateway CPU     %.1f %% of one core;  resident %ld kB at the end, peak %ld kB (VmHWM %ld kB)",
        f.seconds > 0 ? 100.0 * (f.end.cpu_seconds - f.start.cpu_seconds) / f.seconds : 0, f.end.rss_kb,
        f.peak_rss, f.end.peak_kb);
    report.line("  host            connections %u (%u since the start), box sign-ons %u, relogons %u",
                f.connections_end - f.connections_start, f.connections_end, f.sign_ons_end - f.sign_ons_start,
                f.relogons_end - f.relogons_start);
    report.line("  logs written    %.1f MB (%.2f MB/min);  descriptors at the peak %ld",
                (f.log_end - f.log_start) / 1e6,
                f.seconds > 0 ? (f.log_end - f.log_start) / 1e6 * 60 / f.seconds : 0, f.peak_fds);
}

// Runs a phase of `seconds`, sampling the gateway every 100 ms.
void run_phase(gateway_run &run, phase_figures &f, int seconds)
{
    int pid = run.gateway->pid();
    f.start = sample(pid);
    f.connections_start = run.host->connections_accepted();
    f.sign_ons_start = run.box->state().sign_ons;
    f.relogons_start = run.box->state().relogons;
    f.log_start = folder_bytes(run.dir.file("logs"));
    auto begin = steady::now();
    while (since_ms(begin) < seconds * 1000.0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        f.peak_rss = std::max(f.peak_rss, sample(pid).rss_kb);
        f.peak_fds = std::max(f.peak_fds, descriptors(pid));
    }
    f.seconds = since_ms(begin) / 1000.0;
    f.end = sample(pid);
    f.connections_end = run.host->connections_accepted();
    f.sign_ons_end = run.box->state().sign_ons;
    f.relogons_end = run.box->state().relogons;
    f.log_end = folder_bytes(run.dir.file("logs"));
}

// The honest trader at a workstation and the FIX client, signed on and ready.
struct honest_pair
{
    qel_sim::workstation_client trader_client;
    std::unique_ptr<qel_sim::trader> trader;
    std::unique_ptr<qel_sim::fix_client> fix;

    bool start(gateway_run &run, bool with_fix = true)
    {
        if (!qel_test::wait_until([&] { return trader_client.connect("127.0.0.1", run.workstation_port); },
                                  10000))
        {
            fprintf(stderr, "hostile_peers_bench: the gateway does not listen\n");
            return false;
        }
        trader.reset(new qel_sim::trader(trader_client, kTraderUser));
        if (!trader->sign_on(10000).arrived || !trader->system_information(10000).arrived)
        {
            fprintf(stderr, "hostile_peers_bench: the trader could not sign on\n");
            return false;
        }
        if (!with_fix)
            return true;
        qel_sim::fix_client_options options;
        options.port = run.fix_port;
        options.sender_comp_id = std::to_string(kFixUser) + ",MEMBR,1";
        options.target_comp_id = "QEL";
        fix.reset(new qel_sim::fix_client(options));
        std::string error;
        if (!fix->start(&error) || !fix->wait_for_state(qel_sim::fix_client_state::logged_on, 10000) ||
            !fix->request_journal({}) || !fix->wait_for_state(qel_sim::fix_client_state::ready, 10000))
        {
            fprintf(stderr, "hostile_peers_bench: the FIX client is not ready: %s\n", error.c_str());
            return false;
        }
        return true;
    }
};

// Item 0: every attack of sim/hostile at once.
int run_together(bench_report &report, int seconds, const std::string &binary)
{
    report.line("item 0, the attacks together: %d s alone, then %d s under attack", seconds, seconds);
    gateway_run run(binary);
    honest_pair pair;
    if (!pair.start(run))
        return 1;
    qel_sim::trader &trader = *pair.trader;
    qel_sim::fix_client &fix = *pair.fix;
    qel_sim::hostile_workstation hostile(run.workstation_port, kHostileUser);
    if (!hostile.sign_on(10000))
    {
        fprintf(stderr, "hostile_peers_bench: the hostile user could not sign on\n");
        return 1;
    }

    honest_users users;
    users.start(trader, &fix);
    phase_figures alone, attacked;
    run_phase(run, alone, seconds);

    users.phase = 1;
    attack_counts counts;
    std::atomic<bool> stop{false};
    std::vector<std::thread> attackers;
    qel_sim::slot_holders holders;
    counts.slots_held = holders.open(run.workstation_port, kFreeSlots);
    run_attackers(run, counts, stop, attackers, hostile);
    run_phase(run, attacked, seconds);
    stop = true;
    users.finish();
    for (std::thread &t : attackers)
        t.join();
    counts.slots_closed =
        holders.wait_closed(seconds > 30 ? 1000 : static_cast<uint32_t>(31 - seconds) * 1000 + 1000);

    report_phase(report, "alone", alone, users.trader_orders[0], users.fix_orders[0], users.fix_refusals[0]);
    report_phase(report, "under attack", attacked, users.trader_orders[1], users.fix_orders[1],
                 users.fix_refusals[1]);
    const qel_sim::hostile_workstation_counts &h = hostile.counts();
    report.line("attackers:");
    report.line(
        "  workstation user  rounds %u: host link records %u, second sign-ons %u, answered as already "
        "signed on %u, other answers %u, still connected %s",
        counts.hostile_rounds.load(), h.host_link_records_sent, h.second_sign_ons_sent,
        h.already_signed_on_answers, h.other_answers, hostile.connected() ? "yes" : "no");
    report.line("  slot holders      %u connected, %u closed by the gateway within 31 s of connecting",
                counts.slots_held, counts.slots_closed);
    report.line("  console floods    %u (2000 requests each, gone unread)", counts.console_floods.load());
    report.line("  FIX floods        %u connections, %u cut by the gateway, %.1f MB sent in all",
                counts.fix_floods.load(), counts.fix_cut.load(), counts.fix_bytes.load() / 1e6);
    report.line("  status page       %u requests to disable every session, %u refused",
                counts.http_asked.load(), counts.http_refused.load());
    report.line(
        "attack / alone: trader p50 %.2fx, FIX p50 %.2fx, gateway CPU %.2fx, logs %.2fx",
        users.trader_orders[0].at(0.5) > 0 ? users.trader_orders[1].at(0.5) / users.trader_orders[0].at(0.5)
                                           : 0,
        users.fix_orders[0].at(0.5) > 0 ? users.fix_orders[1].at(0.5) / users.fix_orders[0].at(0.5) : 0,
        alone.end.cpu_seconds > alone.start.cpu_seconds
            ? (attacked.end.cpu_seconds - attacked.start.cpu_seconds) /
                  (alone.end.cpu_seconds - alone.start.cpu_seconds)
            : 0,
        alone.log_end > alone.log_start
            ? static_cast<double>(attacked.log_end - attacked.log_start) / (alone.log_end - alone.log_start)
            : 0);
    fix.stop();
    return 0;
}

// An item of its own gateway: the honest pair trades alone (the baseline), then beside the
// attack, which runs its phase through `phase` and says what it saw in `notes`.
template <typename Attack>
int run_item(bench_report &report, const char *title, int seconds, const std::string &binary,
             uint32_t max_clients, bool with_fix, Attack attack)
{
    report.blank();
    report.line("%s: %d s alone, then under attack", title, seconds);
    gateway_run run(binary, max_clients);
    honest_pair pair;
    if (!pair.start(run, with_fix))
        return 1;
    honest_users users;
    users.start(*pair.trader, pair.fix.get());
    phase_figures alone, attacked;
    run_phase(run, alone, seconds);
    users.phase = 1;
    std::vector<std::string> notes;
    attack(run, attacked, notes);
    users.finish();
    report_phase(report, "alone", alone, users.trader_orders[0], users.fix_orders[0], users.fix_refusals[0]);
    report_phase(report, "under attack", attacked, users.trader_orders[1], users.fix_orders[1],
                 users.fix_refusals[1]);
    for (const std::string &note : notes)
        report.line("  %s", note.c_str());
    // Phases may differ in length: orders are compared as answers a second.
    auto per_second = [](const orders &o, const phase_figures &f)
    { return f.seconds > 0 ? o.answered / f.seconds : 0; };
    auto ratio = [](double attack, double baseline) { return baseline > 0 ? attack / baseline : 0; };
    report.line(
        "attack / alone: trader answers a second %.2fx, FIX answers a second %.2fx, peak resident %.2fx, "
        "descriptors %.2fx",
        ratio(per_second(users.trader_orders[1], attacked), per_second(users.trader_orders[0], alone)),
        ratio(per_second(users.fix_orders[1], attacked), per_second(users.fix_orders[0], alone)),
        ratio(static_cast<double>(attacked.peak_rss), static_cast<double>(alone.peak_rss)),
        ratio(static_cast<double>(attacked.peak_fds), static_cast<double>(alone.peak_fds)));
    if (pair.fix)
        pair.fix->stop();
    return 0;
}

std::string format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Item 1: connections to the FIX port that send nothing, or half a logon, and stay.
void idle_fix_connections(gateway_run &run, phase_figures &f, std::vector<std::string> &notes, int seconds)
{
    const uint32_t wanted = 950;
    const std::string half_logon = std::string("8=FIX.4.2\x01") + "9=72\x01" + "35=A\x01" + "34=1\x01";
    std::vector<std::unique_ptr<qel_sim::raw_peer>> idle;
    for (uint32_t i = 0; i < wanted; ++i)
    {
        std::unique_ptr<qel_sim::raw_peer> peer(new qel_sim::raw_peer);
        if (!peer->connect(run.fix_port))
            continue;
        if (i % 2 == 1)
            peer->send_all(half_logon, 200);
        idle.push_back(std::move(peer));
    }
    run_phase(run, f, seconds);
    uint32_t closed = 0;
    for (std::unique_ptr<qel_sim::raw_peer> &peer : idle)
        closed += peer->closed_by_peer() ? 1 : 0;
    notes.push_back(format("idle FIX connections  %zu opened (every other one with half a logon), %u of them "
                           "closed by the gateway by the end of the phase",
                           idle.size(), closed));
}

// Item 2: a full workstation port (the trader and a second user on its two slots) takes a
// flood of connects; then a console connects to the realtime port and takes what the
// gateway sends it, while the gateway's memory is watched. The box allows no more users
// than the port has slots and a FIX user counts among them, so a port full of signed-on
// users leaves no FIX user: this item runs without one.
void refused_connect_flood(gateway_run &run, phase_figures &f, std::vector<std::string> &notes, int seconds)
{
    qel_sim::workstation_client second_client;
    qel_sim::trader second(second_client, kHostileUser);
    if (!second_client.connect("127.0.0.1", run.workstation_port) || !second.sign_on(10000).arrived)
    {
        notes.push_back("refused-connect flood  the second user could not sign on; no flood");
        return;
    }
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> connects{0};
    std::vector<std::thread> flooders;
    for (int i = 0; i < kFlooders; ++i)
        flooders.emplace_back(
            [&]
            {
                while (!stop)
                {
                    qel_sim::raw_peer peer;
                    connects += peer.connect(run.workstation_port) ? 1 : 0;
                }
            });
    run_phase(run, f, seconds);
    stop = true;
    for (std::thread &t : flooders)
        t.join();

    int pid = run.gateway->pid();
    long before_kb = sample(pid).rss_kb, peak_kb = before_kb;
    sim_console::console_client console;
    uint32_t events = 0, refusal_events = 0, drop_notices = 0;
    uint64_t refusals_counted = 0, drops_counted = 0;
    auto begin = steady::now();
    if (console.connect(run.realtime_port))
    {
        // Everything the gateway sends until it has been quiet for 3 s (at most 120 s).
        sim_console::packet packet;
        auto last = steady::now();
        while (since_ms(last) < 3000 && since_ms(begin) < 120000)
        {
            if (console.receive(&packet, 100) != sim_console::receive_result::packet)
            {
                peak_kb = std::max(peak_kb, sample(pid).rss_kb);
                continue;
            }
            last = steady::now();
            if ((events & 1023) == 0)
                peak_kb = std::max(peak_kb, sample(pid).rss_kb);
            if (packet.transcode() != 10000)
                continue;
            ++events;
            int32_t extra = static_cast<int32_t>(packet.u32(38));
            if (packet.u16(36) == 11013)
            {
                ++refusal_events;
                refusals_counted += extra == -1 ? 1 : static_cast<uint32_t>(extra);
            }
            if (packet.u16(36) == 13003)
            {
                ++drop_notices;
                drops_counted += static_cast<uint32_t>(extra);
            }
        }
    }
    notes.push_back(format("refused-connect flood  %u connects in %.0f s (%.0f a second)", connects.load(),
                           f.seconds, f.seconds > 0 ? connects / f.seconds : 0));
    notes.push_back(format("late console  received %u events in %.1f s: %u refusal events counting %llu "
                           "refusals, %u drop notices counting %llu events",
                           events, since_ms(begin) / 1000.0 - 3, refusal_events,
                           static_cast<unsigned long long>(refusals_counted), drop_notices,
                           static_cast<unsigned long long>(drops_counted)));
    notes.push_back(format("late console  gateway resident %ld kB before it connected, %ld kB at the peak of "
                           "its replay",
                           before_kb, peak_kb));
    second.sign_off(2000);
}

// Item 5: holders on every free slot (and one more) that connect again at once when
// dropped, and a newcomer trader who tries to sign on (connect, wait up to 1 s for the
// answer, 100 ms pause) until it succeeds or the phase ends.
void reconnecting_holders(gateway_run &run, phase_figures &f, std::vector<std::string> &notes, int seconds,
                          uint32_t holder_count)
{
    qel_sim::reconnecting_slot_holders holders;
    holders.start(run.workstation_port, holder_count);
    // There is one holder more than free slots: once one is refused again and again, the
    // holders have taken every slot.
    qel_test::wait_until([&] { return holders.reconnects() >= 50; }, 20000);
    std::atomic<bool> stop{false};
    double waited_ms = -1;
    uint32_t attempts = 0;
    bool dropped_later = false;
    std::thread newcomer(
        [&]
        {
            auto begin = steady::now();
            while (!stop)
            {
                ++attempts;
                qel_sim::workstation_client client;
                qel_sim::trader trader(client, kHostileUser);
                if (client.connect("127.0.0.1", run.workstation_port))
                {
                    qel_sim::trader_reply reply = trader.sign_on(1000);
                    if (reply.arrived && reply.error_code == 0)
                    {
                        waited_ms = since_ms(begin);
                        // Signed on: it keeps its connection for the rest of the phase.
                        while (!stop)
                            std::this_thread::sleep_for(std::chrono::milliseconds(100));
                        dropped_later = client.peer_closed() || !trader.system_information(2000).arrived;
                        trader.sign_off(2000);
                        return;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    run_phase(run, f, seconds);
    stop = true;
    newcomer.join();
    holders.stop();
    if (waited_ms >= 0)
        notes.push_back(
            format("reconnecting holders  %u on %u free slots, %u reconnects; the newcomer signed on after "
                   "%.1f s (%u attempts) and %s its connection to the end",
                   holder_count, holder_count - 1, holders.reconnects(), waited_ms / 1000.0, attempts,
                   dropped_later ? "lost" : "kept"));
    else
        notes.push_back(
            format("reconnecting holders  %u on %u free slots, %u reconnects; the newcomer did not sign on "
                   "within %.0f s (%u attempts)",
                   holder_count, holder_count - 1, holders.reconnects(), f.seconds, attempts));
}
} // namespace

int main(int argc, char *argv[])
{
    const int seconds = argc > 1 ? atoi(argv[1]) : 20;
    const std::string output = argc > 2 ? argv[2] : bench_default_output("hostile_peers.txt");
    const std::string binary = argc > 3 ? argv[3] : QEL_IP_BINARY;
    const std::string items = argc > 4 ? argv[4] : "0125";
    bench_report report;
    report.line("hostile_peers_bench: items %s, %d s a phase; gateway %s", items.c_str(), seconds,
                binary.c_str());
    int status = 0;
    if (items.find('0') != std::string::npos)
        status |= run_together(report, seconds, binary);
    if (items.find('1') != std::string::npos)
        status |= run_item(report, "item 1, idle FIX connections", seconds, binary, kMaxClients, true,
                           [&](gateway_run &run, phase_figures &f, std::vector<std::string> &notes)
                           { idle_fix_connections(run, f, notes, seconds); });
    if (items.find('2') != std::string::npos)
        status |=
            run_item(report, "item 2, refused-connect flood and a late console", seconds, binary, 2, false,
                     [&](gateway_run &run, phase_figures &f, std::vector<std::string> &notes)
                     { refused_connect_flood(run, f, notes, seconds); });
    // Idle holders were cut after 30 s before the mend, so this phase lasts at least 45 s.
    const uint32_t holders = 50; // on 49 free slots
    if (items.find('5') != std::string::npos)
        status |= run_item(report, "item 5, reconnecting slot holders", seconds, binary, holders, true,
                           [&](gateway_run &run, phase_figures &f, std::vector<std::string> &notes)
                           { reconnecting_holders(run, f, notes, std::max(seconds, 45), holders); });
    if (!report.write(output))
        fprintf(stderr, "hostile_peers_bench: cannot write %s\n", output.c_str());
    return status;
}
