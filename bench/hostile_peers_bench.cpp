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
// Five items more, lettered, put the party each defence protects on 127.0.0.2 (the trader,
// the FIX client and whoever tries to get in) and the attackers on 127.0.0.1, and try what
// that party tries in the baseline phase too:
//   (a) reconnecting holders on every free slot, while a newcomer's sign-on frame arrives
//       in two parts 0.8 s apart (and, for comparison, 0.2 s apart): sign-ons out of tries;
//   (b) five more reconnecting holders than free slots, while a newcomer signs on with a
//       whole frame: sign-ons out of tries and the time each took;
//   (c) silent connects to the FIX port from one thread, as fast as the gateway takes them
//       in, while a FIX client sends its Logon 100 ms after its connect (a new session each
//       time): Logons out of tries, connects a second, and the FIX engine's logs;
//   (d) connections to the workstation port that never sign on (closing at once, closing
//       after their invitation, a bad frame after it, reconnecting holders), one attack after
//       another after a lost host link: the console events a second that a console on the
//       realtime port receives, the log bytes a second they add (every log of the gateway,
//       the FIX engine's included), and whether a console that connects after them all
//       still sees the lost host link;
//   (e) the log folder full (a small tmpfs filled by the bench, or the gateway's file size
//       limit where mounting is not allowed), then freed: orders answered, console events
//       13004 and 13005, and the gateway's standard error;
//   (f) five more reconnecting holders than free slots, spread over 2 and 10 addresses
//       (one byte each, 50 slots) and 60 addresses (silent, 60 slots), from 127.1.0.1 on,
//       while a newcomer signs on: sign-ons out of tries and the time each took;
//   (g) sign-ons that never get through, one flood after another: for no user (8 threads),
//       with a wrong password for a user the host knows (4 threads), a second sign-on of a
//       signed-on user (8 threads): the honest pair's answers a second against the
//       baseline's, the console events and log bytes a second, the sign-ons that reached
//       the host;
//   (h) the start of a day: 10 and 50 traders signing on together to a quiet gateway, from
//       127.0.0.2 alone and from five addresses, connecting in turn (and, to show the listen
//       queue's limit, in one instant): how many were invited, signed on and traded, how
//       long their sign-ons took, and how many of their "Incoming client connection" lines
//       and sign-on request and response records the logs kept;
//   (i) sixty silent holders on the 49 free slots of 50 that take the next address of a
//       pool of 200, 1,000 or 10,000 (from 127.1.0.1 on) for every connection, while a
//       newcomer signs on from 127.0.0.2, and from 127.0.0.3 where no trader ever signed on:
//       sign-ons out of tries and the time each took;
//   (j) wrong passwords for a user the host knows (8 threads), each connection from the
//       next address of a pool of 200 and of 1,000: as in item g;
//   (k) 100 traders of one address with the host answering users' sign-ons 3 s late, 50
//       with it at 6 s, 40 with it at 1 s from one address and from five, each crowd first
//       with the host answering at once: how many signed on, were cut at the gateway's 30 s
//       for a sign-on, and when the last signed on;
//   (l) 45 traders signing on together to a box of 10 users, from one address and from
//       five: the refused users the console names, and those counted with refusals not
//       their own;
//   (m) honest traders signing on once a second from 127.0.0.2 beside a workstation of the
//       same address retrying a wrong password on 1 and on 4 connections: sign-ons out of
//       tries and their p50, p90 and max.
//   (n) a host that is down, a trader trying to sign on once a second, alone and then beside
//       peers that connect and close at once as fast as they can; between them the host
//       returns and goes for good, after them it returns beside the flood, and another
//       gateway's host is back 5 s after a loss: the gateway's connects to the host, the
//       console events and log bytes a second, the first sign-on after each return, the box
//       logoff after the loss of a host gone for good and the recovery of one back in 5 s.
// Figures are printed and written to bench_results/hostile_peers.txt under the build
// folder (or the file given). A gateway binary other than this build's may be given (a
// gateway built from another tree, to compare), and is measured in the same way on the
// same machine; what it lacks shows as what happened (a refusal, no event, an exit), not
// as an end of the run. The items to run may be chosen (default "0125abcdefghijklmn", 0 being
// the attacks together).
//
//   hostile_peers_bench [seconds per phase] [output file] [qel_ip binary ("": this build's)] [items]
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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
#include "sim/workstation/trader_crowd.h"
#include "support/binary_log.h"
#include "support/full_log_folder.h"
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"
#include "support/test_support.h"

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t kAnswerMs = 2000; // an order not answered within this counts as unanswered
const uint32_t kTraderUser = 2001;
const uint32_t kHostileUser = 3001;
const uint32_t kFixUser = 1001;
const uint32_t kLateFixUser = 4000;  // the sessions of Logons tried one after another are 4001 and on
const uint32_t kNewcomerUser = 5000; // newcomers at a workstation sign on as 5001 and on
const uint32_t kKnownUser = 6000;    // a user whose password the host knows
const uint32_t kCrowdUser = 7000;    // traders of a crowd sign on as 7001 and on
const uint32_t kMaxClients = 10;
const uint32_t kFreeSlots = kMaxClients - 2;
const uint32_t kSlotsBesideTheTrader = kMaxClients - 1; // the honest trader holds one
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

// The fields of /proc/<pid>/stat after the process's name: its state first. None once the
// process is gone.
std::vector<std::string> stat_fields(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::vector<std::string> fields;
    size_t close = text.rfind(')');
    if (close == std::string::npos)
        return fields;
    size_t at = close + 2;
    while (at < text.size())
    {
        size_t end = text.find(' ', at);
        fields.push_back(text.substr(at, end - at));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return fields;
}

process_sample sample(int pid)
{
    process_sample s;
    const std::vector<std::string> fields = stat_fields(pid);
    // utime and stime are the 14th and 15th fields, 12th and 13th after the name.
    if (fields.size() > 12)
        s.cpu_seconds =
            (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
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

// How an item's gateway is set up.
struct gateway_options
{
    uint32_t max_clients = kMaxClients; // workstation slots, and users the box allows
    // FIX sessions beside the honest client's, one for each Logon a probe tries:
    // kLateFixUser + 1 and on.
    uint32_t late_fix_users = 0;
    // A log folder that can fill, mounted before the gateway starts (size of the tmpfs).
    std::string full_folder_size;
    // Users the host knows, with their passwords (it signs any other user on).
    std::vector<qel_sim::exchange_user> known_users;
    uint32_t box_users = 0; // users the box allows when not max_clients
};

// The gateway with the simulated host, a workstation port, a FIX port and its status page.
struct gateway_run
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_test::full_log_folder> full_folder;
    std::unique_ptr<qel_test::gateway_stderr> standard_error;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0, fix_port = 0, http_port = 0, interactive_port = 0, realtime_port = 0;

    explicit gateway_run(const std::string &binary, const gateway_options &o = gateway_options())
    {
        qel_sim::host_options options;
        options.lifetime_ms = 3600 * 1000;
        host.reset(new qel_sim::sim_host(options));
        host->start();
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box_options.max_users = static_cast<int16_t>(o.box_users != 0 ? o.box_users : o.max_clients);
        qel_sim::exchange_options exchange;
        exchange.users = o.known_users;
        box.reset(new qel_sim::sim_box_host(*host, box_options, exchange));
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        config.values["MAX_TWS_CLIENTS"] = std::to_string(o.max_clients);
        config.values["SYSTEM_LOGGING_LEVEL"] = "EVENT";
        workstation_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        interactive_port =
            static_cast<uint16_t>(std::stoi(config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]));
        realtime_port = static_cast<uint16_t>(std::stoi(config.values["INTERFACE_REALTIME_PORT_NUMBER"]));
        std::string path = config.write(dir);
        fix_port = config.fix_port; // the configuration holds both until the gateway binds them
        http_port = config.reserve_port();
        std::string sessions = session(kFixUser);
        for (uint32_t i = 1; i <= o.late_fix_users; ++i)
            sessions += session(kLateFixUser + i);
        dir.write(config.values["FIX_FILE_PATH"],
                  "[DEFAULT]\nConnectionType=acceptor\nNicIpAddress=127.0.0.1\nSocketAcceptPort=" +
                      std::to_string(fix_port) + "\nHttpAcceptPort=" + std::to_string(http_port) +
                      "\nFileStorePath=fix_store\nFileLogPath=logs\nStartTime=00:00:00\nEndTime=00:00:00\n"
                      "HeartBtInt=30\n" +
                      sessions);
        if (!o.full_folder_size.empty())
        {
            full_folder.reset(new qel_test::full_log_folder(dir.file("logs"), o.full_folder_size));
            standard_error.reset(
                new qel_test::gateway_stderr(dir.file("qel_text_log_default.txt"), !full_folder->mounted()));
        }
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

    static std::string session(uint32_t user)
    {
        return "[SESSION]\nBeginString=FIX.4.2\nSenderCompID=QEL\nTargetCompID=" + std::to_string(user) +
               ",MEMBR,1\n";
    }
};

// The most phases an item has: its baseline and the phases of its attacks.
const int kPhases = 6;

// The honest users: each keeps one order in flight on its own thread (with a pause after
// each answer when one is given), filing the latencies under the phase that is running.
struct honest_users
{
    std::atomic<int> phase{0};
    std::atomic<bool> stop{false};
    uint32_t pause_ms = 0;
    orders trader_orders[kPhases], fix_orders[kPhases];
    std::atomic<uint32_t> fix_reports{0};
    std::atomic<uint32_t> fix_refusals[kPhases] = {}; // business rejects among the answers
    std::mutex lock;
    std::thread trader_thread, fix_thread;

    uint32_t all_refusals() const
    {
        uint32_t sum = 0;
        for (const std::atomic<uint32_t> &r : fix_refusals)
            sum += r;
        return sum;
    }
    void pause() const
    {
        if (pause_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }

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
                    {
                        std::lock_guard<std::mutex> guard(lock);
                        trader_orders[at].add(reply.arrived && reply.transcode == 2073, since_ms(begin));
                    }
                    pause();
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
                    pause();
                    // A member's order system refused for now tries again a little later.
                    if (all_refusals() != refusals_seen)
                    {
                        refusals_seen = all_refusals();
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

// The honest trader at a workstation and the FIX client, signed on and ready, from the
// local address `from` when one is given. What went wrong is in `error` (and on stderr).
struct honest_pair
{
    qel_sim::workstation_client trader_client;
    std::unique_ptr<qel_sim::trader> trader;
    std::unique_ptr<qel_sim::fix_client> fix;
    std::string error;

    // The trader tries to connect and sign on for up to `wait_ms` (the gateway may be
    // starting, or signing its box on to the host again).
    bool start(gateway_run &run, bool with_fix = true, const std::string &from = "", int wait_ms = 10000)
    {
        trader.reset(new qel_sim::trader(trader_client, kTraderUser));
        bool listening = false;
        const bool signed_on = qel_test::wait_until(
            [&]
            {
                trader_client.close();
                if (!trader_client.connect("127.0.0.1", run.workstation_port, from))
                    return false;
                listening = true;
                qel_sim::trader_reply reply = trader->sign_on(10000);
                return reply.arrived && reply.error_code == 0 && trader->system_information(10000).arrived;
            },
            wait_ms);
        if (!signed_on)
            return failed(listening ? "the trader could not sign on" : "the gateway does not listen");
        return !with_fix || start_fix(run, from, wait_ms);
    }

    // The FIX client logs on, trying again for up to `wait_ms`.
    bool start_fix(gateway_run &run, const std::string &from, int wait_ms = 10000)
    {
        qel_sim::fix_client_options options;
        options.port = run.fix_port;
        options.local_address = from;
        options.sender_comp_id = std::to_string(kFixUser) + ",MEMBR,1";
        options.target_comp_id = "QEL";
        std::string why;
        auto begin = steady::now();
        do
        {
            fix.reset(new qel_sim::fix_client(options));
            why.clear();
            if (fix->start(&why) && fix->wait_for_state(qel_sim::fix_client_state::logged_on, 10000) &&
                fix->request_journal({}) && fix->wait_for_state(qel_sim::fix_client_state::ready, 10000))
                return true;
            why += fix->logout_text();
            fix->stop();
        } while (since_ms(begin) < wait_ms);
        return failed("the FIX client is not ready: " + (why.empty() ? std::string("no Logon answer") : why));
    }

    bool failed(const std::string &why)
    {
        error = why;
        fprintf(stderr, "hostile_peers_bench: %s\n", why.c_str());
        return false;
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
    gateway_options options;
    options.max_clients = max_clients;
    gateway_run run(binary, options);
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
            if (packet.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
                continue;
            ++events;
            const sim_console::log_event event = sim_console::decode_log_event(packet);
            int32_t extra = static_cast<int32_t>(event.extra_info);
            if (event.reason_code == 11013)
            {
                ++refusal_events;
                refusals_counted += extra == -1 ? 1 : static_cast<uint32_t>(extra);
            }
            if (event.reason_code == 13003)
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
// The lettered items: the party a defence protects is on this address, the attackers on
// 127.0.0.1.
const char *const kHonestAddress = "127.0.0.2";
const uint32_t kHonestPauseMs = 20; // the honest pair's pause after each answer

// True while the process runs (a zombie has ended).
bool alive(int pid)
{
    const std::vector<std::string> fields = stat_fields(pid);
    return !fields.empty() && fields[0] != "Z";
}

void report_gateway(bench_report &report, gateway_run &run)
{
    report.line("  gateway         %s at the end of the item",
                alive(run.gateway->pid()) ? "still running" : "had ended");
}

// The end of an item that could not be measured: why, and whether the gateway still runs.
int not_measured(bench_report &report, gateway_run &run, const std::string &why)
{
    report.line("  not measured: %s", why.c_str());
    report_gateway(report, run);
    return 1;
}

// The size of each file under a folder, by its name with every run of digits written as
// '#', so that a family of files (dated, numbered, one per session) counts as one.
std::map<std::string, uint64_t> file_families(const std::string &folder)
{
    std::map<std::string, uint64_t> sizes;
    std::error_code error;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder, error))
    {
        if (!entry.is_regular_file(error))
            continue;
        std::string name, path = entry.path().lexically_relative(folder).string();
        for (size_t i = 0; i < path.size(); ++i)
            if (!isdigit(static_cast<unsigned char>(path[i])) || name.empty() || name.back() != '#')
                name += isdigit(static_cast<unsigned char>(path[i])) ? '#' : path[i];
        sizes[name] += entry.file_size(error);
    }
    return sizes;
}

// The families that grew most between two looks, with their growth.
std::string grown_most(const std::map<std::string, uint64_t> &before,
                       const std::map<std::string, uint64_t> &after, size_t most = 3)
{
    std::vector<std::pair<uint64_t, std::string>> grown;
    for (const auto &entry : after)
    {
        auto old = before.find(entry.first);
        uint64_t was = old == before.end() ? 0 : old->second;
        if (entry.second > was)
            grown.push_back({entry.second - was, entry.first});
    }
    std::sort(grown.rbegin(), grown.rend());
    std::string text;
    for (size_t i = 0; i < grown.size() && i < most; ++i)
        text += format("%s%s %.1f kB", i == 0 ? "" : ", ", grown[i].second.c_str(), grown[i].first / 1e3);
    return text.empty() ? "none" : text;
}

// How many happenings a console event stands for: one, or the count that a folded one
// carries as its extra info. The event of a sign-on the host refused (11005) carries the
// host's error code there instead (16000 and up), never a count that large.
uint64_t stands_for(uint16_t reason, int32_t extra)
{
    if (extra == -1 || (reason == 11005 && extra >= 16000))
        return 1;
    return static_cast<uint32_t>(extra);
}

// A console on the realtime port that reads everything the gateway sends on a thread of
// its own and files each console event under the phase that is running.
class console_watch
{
  public:
    struct events
    {
        uint32_t count = 0;
        std::map<uint16_t, uint32_t> by_reason;
        std::map<uint16_t, uint64_t> counted;           // per reason: the events and the counts they carry
        std::vector<std::pair<uint16_t, int32_t>> kept; // reason and extra info of the kept reasons
    };

    ~console_watch() { stop(); }

    // Connects and takes the day's replay (until the gateway is quiet for a second), then
    // watches. Events of the reasons in `keep` are kept one by one.
    bool start(uint16_t port, const std::vector<uint16_t> &keep = {})
    {
        m_keep = keep;
        if (!m_console.connect(port))
            return false;
        sim_console::packet packet;
        auto begin = steady::now();
        while (since_ms(begin) < 30000 &&
               m_console.receive(&packet, 1000) == sim_console::receive_result::packet)
        {
        }
        m_thread = std::thread([this] { watch(); });
        return true;
    }
    void set_phase(int phase) { m_phase = phase; }
    // Stops watching and closes the connection (a gateway may serve one console at a time).
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        m_console.close();
    }
    events at(int phase)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events[phase];
    }
    bool dropped() const { return m_dropped; }

    static std::string top_reasons(const events &e, size_t most = 5)
    {
        std::vector<std::pair<uint32_t, uint16_t>> sorted;
        for (const auto &r : e.by_reason)
            sorted.push_back({r.second, r.first});
        std::sort(sorted.rbegin(), sorted.rend());
        std::string text;
        for (size_t i = 0; i < sorted.size() && i < most; ++i)
        {
            auto c = e.counted.find(sorted[i].second);
            text += format("%s%u x%u (counting %llu)", i == 0 ? "" : ", ", sorted[i].second, sorted[i].first,
                           static_cast<unsigned long long>(c == e.counted.end() ? 0 : c->second));
        }
        return text.empty() ? "none" : text;
    }

  private:
    void watch()
    {
        sim_console::packet packet;
        while (!m_stop)
        {
            sim_console::receive_result r = m_console.receive(&packet, 100);
            if (r == sim_console::receive_result::closed)
            {
                m_dropped = true;
                return;
            }
            if (r != sim_console::receive_result::packet ||
                packet.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
                continue;
            const sim_console::log_event event = sim_console::decode_log_event(packet);
            const uint16_t reason = event.reason_code;
            const int32_t extra = static_cast<int32_t>(event.extra_info);
            std::lock_guard<std::mutex> guard(m_lock);
            events &e = m_events[m_phase];
            ++e.count;
            ++e.by_reason[reason];
            e.counted[reason] += stands_for(reason, extra);
            if (std::find(m_keep.begin(), m_keep.end(), reason) != m_keep.end())
                e.kept.push_back({reason, extra});
        }
    }

    sim_console::console_client m_console;
    std::vector<uint16_t> m_keep;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_dropped{false};
    std::atomic<int> m_phase{0};
    std::mutex m_lock;
    events m_events[kPhases];
};

// What a probe's tries came to in one phase, by outcome.
struct tries
{
    uint32_t count = 0;
    std::map<std::string, uint32_t> outcomes;
    std::vector<double> millis; // of the tries that succeeded

    std::string text(const char *success, bool p90 = false) const
    {
        auto ok = outcomes.find(success);
        std::string t = format("%u of %u %s", ok == outcomes.end() ? 0 : ok->second, count, success);
        for (const auto &o : outcomes)
            if (o.first != success)
                t += format(", %u %s", o.second, o.first.c_str());
        if (!millis.empty())
        {
            std::vector<double> sorted = millis;
            std::sort(sorted.begin(), sorted.end());
            if (p90)
                t += format("; those took p50 %.0f ms, p90 %.0f ms, max %.0f ms",
                            bench_percentile(sorted, 0.5), bench_percentile(sorted, 0.9), sorted.back());
            else
                t += format("; those took p50 %.0f ms, max %.0f ms", bench_percentile(sorted, 0.5),
                            sorted.back());
        }
        return t;
    }
};

// A newcomer at a workstation from kHonestAddress (or `from`): connects, signs on (the
// sign-on frame in two parts `split_ms` apart when not 0) and signs off again once in.
std::string newcomer_sign_on(uint16_t port, uint32_t user, uint32_t split_ms, double *ms,
                             const char *from = kHonestAddress)
{
    auto begin = steady::now();
    qel_sim::workstation_client client;
    client.faults().mid_frame_pause_ms = split_ms;
    qel_sim::trader newcomer(client, user);
    if (!client.connect("127.0.0.1", port, from))
        return "not connected";
    qel_sim::trader_reply reply = newcomer.sign_on(5000);
    if (reply.arrived && reply.error_code == 0)
    {
        *ms = since_ms(begin);
        newcomer.sign_off(5000);
        return "signed on";
    }
    if (reply.arrived)
        return format("refused (error %d)", reply.error_code);
    if (client.peer_closed())
        return client.invitations() == 0 ? "closed before the invitation" : "closed";
    return "not answered in 5 s";
}

// Runs a probe's tries again and again on a thread of its own, each at least
// `interval_ms` after the last one began, filing each under the phase that is running and
// the kind of try it was.
class prober
{
  public:
    std::atomic<int> phase{0};

    ~prober() { finish(); }

    // `attempt(n, &kind, &ms)` makes the n-th try (n from 0), says its kind when there are
    // several and names its outcome, with its time in ms when the outcome is `success`; an
    // empty outcome ends the tries.
    template <typename Attempt> void start(Attempt attempt, uint32_t interval_ms, const std::string &success)
    {
        m_thread = std::thread(
            [this, attempt, interval_ms, success]
            {
                for (uint32_t n = 0; !m_stop; ++n)
                {
                    auto begin = steady::now();
                    const int at = phase;
                    std::string kind;
                    double ms = 0;
                    std::string outcome = attempt(n, &kind, &ms);
                    if (outcome.empty())
                        return;
                    {
                        std::lock_guard<std::mutex> guard(m_lock);
                        tries &t = m_tries[at][kind];
                        ++t.count;
                        ++t.outcomes[outcome];
                        if (outcome == success)
                            t.millis.push_back(ms);
                    }
                    while (!m_stop && since_ms(begin) < interval_ms)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            });
    }
    void finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    tries at(int phase, const std::string &kind = "")
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_tries[phase][kind];
    }

  private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::map<std::string, tries> m_tries[kPhases];
};

// A phase's console events, and its log bytes: per honest order in the baseline, beyond the
// honest orders' own under an attack.
void report_console_and_logs(bench_report &report, const console_watch::events &e, double window,
                             uint64_t bytes, double per_order, double added, bool attacked)
{
    report.line("  console         %u events in %.1f s (%.1f a second): %s", e.count, window,
                e.count / window, console_watch::top_reasons(e).c_str());
    if (!attacked)
        report.line("  logs            %.1f kB in %.1f s, %.0f bytes an honest order", bytes / 1e3, window,
                    per_order);
    else
        report.line(
            "  logs            %.1f kB in %.1f s, %.1f kB beyond the honest orders' (%.2f kB a second)",
            bytes / 1e3, window, added / 1e3, added / 1e3 / window);
}

// A lettered item with a probe: what the party a defence protects tries, again and again,
// and the attack it is tried beside.
class probed_item
{
  public:
    virtual ~probed_item() = default;
    // One try (see prober::start).
    virtual std::string attempt(gateway_run &run, uint32_t n, std::string *kind, double *ms) = 0;
    // The attack starts, and is under way when this returns.
    virtual void start_attack(gateway_run &run) = 0;
    // The attack stops after `seconds` under way; what it made goes into `notes`.
    virtual void stop_attack(double seconds, std::vector<std::string> &notes) = 0;
    // The kinds of try, in the order to report them.
    virtual std::vector<std::string> kinds() const { return {""}; }
    // Whether the tries' times are reported with their 90th percentile.
    virtual bool p90() const { return false; }
    // Where the attackers connect from.
    virtual std::string attackers() const { return "127.0.0.1"; }
};

// Runs a probed item: the honest pair trades from kHonestAddress and a console watches,
// while the probe tries every `interval_ms`, alone first and then beside the attack.
int run_probed(bench_report &report, const char *title, int seconds, const std::string &binary,
               const gateway_options &options, probed_item &item, uint32_t interval_ms, const char *success)
{
    report.blank();
    report.line("%s: %d s alone, then under attack; the honest pair and the probe on %s, the attackers on %s",
                title, seconds, kHonestAddress, item.attackers().c_str());
    gateway_run run(binary, options);
    honest_pair pair;
    if (!pair.start(run, true, kHonestAddress))
    {
        return not_measured(report, run, pair.error);
    }
    console_watch console;
    const bool watching = console.start(run.realtime_port);
    honest_users users;
    users.pause_ms = kHonestPauseMs;
    users.start(*pair.trader, pair.fix.get());
    prober probe;
    probe.start([&](uint32_t n, std::string *kind, double *ms) { return item.attempt(run, n, kind, ms); },
                interval_ms, success);

    const std::string logs = run.dir.file("logs");
    std::map<std::string, uint64_t> log_sizes[3];
    phase_figures phase[2];
    log_sizes[0] = file_families(logs);
    run_phase(run, phase[0], seconds);
    log_sizes[1] = file_families(logs);
    // While the attack gets under way, what happens is filed apart.
    const int ramp = kPhases - 1;
    probe.phase = ramp;
    users.phase = ramp;
    console.set_phase(ramp);
    item.start_attack(run);
    probe.phase = 1;
    users.phase = 1;
    console.set_phase(1);
    const std::map<std::string, uint64_t> attack_start = file_families(logs);
    run_phase(run, phase[1], seconds);
    log_sizes[2] = file_families(logs);
    std::vector<std::string> notes;
    probe.finish();
    item.stop_attack(phase[1].seconds, notes);
    users.finish();
    console.stop();

    const char *names[2] = {"alone", "under attack"};
    for (int p = 0; p < 2; ++p)
    {
        report_phase(report, names[p], phase[p], users.trader_orders[p], users.fix_orders[p],
                     users.fix_refusals[p]);
        for (const std::string &kind : item.kinds())
            report.line("  %-15s %s", (kind.empty() ? "probe" : "probe " + kind).c_str(),
                        probe.at(p, kind).text(success, item.p90()).c_str());
        const console_watch::events e = console.at(p);
        if (watching)
            report.line("  console         %u events (%.1f a second): %s", e.count,
                        phase[p].seconds > 0 ? e.count / phase[p].seconds : 0,
                        console_watch::top_reasons(e).c_str());
        report.line("  logs grown most %s",
                    grown_most(p == 0 ? log_sizes[0] : attack_start, log_sizes[p + 1]).c_str());
    }
    for (const std::string &note : notes)
        report.line("  %s", note.c_str());
    if (!watching || console.dropped())
        report.line("  console         %s", watching ? "dropped by the gateway" : "could not connect");
    report_gateway(report, run);
    if (pair.fix)
        pair.fix->stop();
    return 0;
}

// Items a and b: reconnecting holders from 127.0.0.1 (on every free slot, and `surplus`
// more), while a newcomer from kHonestAddress signs on. For item a its sign-on frame comes
// in two parts, 0.8 s apart and 0.2 s apart in turn.
class holders_item : public probed_item
{
  public:
    holders_item(uint32_t free_slots, uint32_t surplus, bool split,
                 const qel_sim::slot_holding &how = qel_sim::slot_holding(),
                 const char *newcomer_address = kHonestAddress)
        : m_free(free_slots), m_surplus(surplus), m_split(split), m_how(how), m_from(newcomer_address)
    {
    }
    std::string attempt(gateway_run &run, uint32_t n, std::string *kind, double *ms) override
    {
        uint32_t split_ms = 0;
        if (m_split)
        {
            split_ms = n % 2 == 0 ? 800 : 200;
            *kind = n % 2 == 0 ? "0.8 s apart" : "0.2 s apart";
        }
        return newcomer_sign_on(run.workstation_port, kNewcomerUser + 1 + n % 1000, split_ms, ms, m_from);
    }
    void start_attack(gateway_run &run) override
    {
        m_holders.start(run.workstation_port, m_free + m_surplus, m_how);
        // Once some have been dropped or refused again and again, the holders have what
        // they can get (a gateway that takes them all makes none reconnect).
        qel_test::wait_until([&] { return m_holders.reconnects() >= 200; }, m_surplus > 0 ? 20000 : 3000);
        m_at_start = m_holders.reconnects();
    }
    void stop_attack(double seconds, std::vector<std::string> &notes) override
    {
        const uint32_t reconnects = m_holders.reconnects() - m_at_start;
        m_holders.stop();
        notes.push_back(format("reconnecting holders  %u on %u free slots from %zu address%s (%s%s): %u "
                               "reconnects in the phase (%.0f a second)",
                               m_free + m_surplus, m_free, std::max<size_t>(m_how.addresses.size(), 1),
                               m_how.addresses.size() > 1 ? "es" : "", m_how.silent ? "silent" : "one byte",
                               m_how.rotate ? ", a new address for each connection" : "", reconnects,
                               seconds > 0 ? reconnects / seconds : 0));
    }
    std::vector<std::string> kinds() const override
    {
        if (m_split)
            return {"0.8 s apart", "0.2 s apart"};
        return {""};
    }
    std::string attackers() const override
    {
        if (m_how.addresses.empty())
            return "127.0.0.1";
        return m_how.addresses.size() == 1 ? m_how.addresses[0] : m_how.addresses[0] + " on";
    }

  private:
    uint32_t m_free, m_surplus;
    bool m_split;
    qel_sim::slot_holding m_how;
    const char *m_from;
    qel_sim::reconnecting_slot_holders m_holders;
    uint32_t m_at_start = 0;
};

// Item c: silent connects to the FIX port from 127.0.0.1 on one thread, while a FIX client
// from kHonestAddress sends its Logon 100 ms after its connect, a new session each time
// (so that no try meets the last one's session). One thread, each connect as soon as the
// last is in, is the flood under which a bound that simply drops the oldest connection
// without a Logon shuts every late Logon out; four threads that each wait for the
// gateway's drops did not, at the pace this bench reaches beside its trading.
class late_logon_item : public probed_item
{
  public:
    explicit late_logon_item(uint32_t sessions) : m_sessions(sessions) {}
    std::string attempt(gateway_run &run, uint32_t n, std::string *, double *ms) override
    {
        if (n >= m_sessions)
            return "";
        qel_sim::fix_late_logon_options options;
        options.local_address = kHonestAddress;
        options.port = run.fix_port;
        options.sender_comp_id = std::to_string(kLateFixUser + 1 + n) + ",MEMBR,1";
        options.target_comp_id = "QEL";
        options.pause_ms = 100;
        options.timeout_ms = 15000;
        auto begin = steady::now();
        qel_sim::fix_late_logon_outcome outcome = qel_sim::fix_late_logon(options);
        *ms = since_ms(begin);
        return qel_sim::fix_late_logon_outcome_name(outcome);
    }
    void start_attack(gateway_run &run) override
    {
        m_flood.start("127.0.0.1", run.fix_port, 1, 0);
        qel_test::wait_until([&] { return m_flood.connects() >= 1000; }, 15000);
        m_at_start = m_flood.connects();
    }
    void stop_attack(double seconds, std::vector<std::string> &notes) override
    {
        const uint64_t connects = m_flood.connects() - m_at_start;
        m_flood.stop();
        notes.push_back(format("silent connects       one thread: %llu connects in the phase (%.0f a second)",
                               static_cast<unsigned long long>(connects),
                               seconds > 0 ? connects / seconds : 0));
    }

  private:
    uint32_t m_sessions;
    qel_sim::silent_connect_flood m_flood;
    uint64_t m_at_start = 0;
};

// Item d: connections to the workstation port from 127.0.0.1 that never sign on. The
// trader signs on from kHonestAddress (the box signs on with it), then the host link is
// lost (the host drops it and refuses connections until the gateway has told the
// console); the honest pair signs on again and trades at a pace, and each attack runs for
// a phase after the quiet baseline. The console events
// and log bytes of a phase are counted until 2.5 s after it, while the last folded
// counts go out; an attack's log bytes are what that window logged beyond the
// baseline's bytes per honest order.
int never_signed_on(bench_report &report, int seconds, const std::string &binary)
{
    report.blank();
    report.line(
        "item d, connections that never sign on: a lost host link, %d s of baseline, then four attacks "
        "of %d s; the honest pair on %s, the attackers on 127.0.0.1",
        seconds, seconds, kHonestAddress);
    gateway_run run(binary);
    console_watch console;
    const std::vector<uint16_t> link_reasons = {12002, 12003, 12004, 12005, 12006, 12007, 12008, 12009};
    honest_pair pair;
    // The box signs on with the first user.
    if (!pair.start(run, false, kHonestAddress))
    {
        return not_measured(report, run, pair.error);
    }
    if (!console.start(run.realtime_port, link_reasons))
    {
        return not_measured(report, run, "the console port refused");
    }

    // The lost host link: the real event that must stay in view.
    const int link_phase = kPhases - 1;
    console.set_phase(link_phase);
    run.host->refuse_connections(true);
    run.host->drop_connection();
    const bool told = qel_test::wait_until([&] { return !console.at(link_phase).kept.empty(); }, 60000);
    run.host->refuse_connections(false);
    uint16_t lost_reason = told ? console.at(link_phase).kept.front().first : 0;
    report.line("  lost host link  %s", told ? format("told the console as %u", lost_reason).c_str()
                                             : "not told to the console within 60 s");
    // The trader signs on again if the gateway let it go, once the gateway is back with the
    // host; then the FIX client logs on.
    const bool kept = !pair.trader_client.peer_closed() && pair.trader->system_information(5000).arrived;
    if (!(kept ? pair.start_fix(run, kHonestAddress, 90000) : pair.start(run, true, kHonestAddress, 90000)))
    {
        return not_measured(report, run, pair.error);
    }
    honest_users users;
    users.pause_ms = 100;
    users.start(*pair.trader, pair.fix.get());

    const uint16_t port = run.workstation_port;
    qel_sim::unsigned_connection_flood floods[3];
    qel_sim::reconnecting_slot_holders holders;
    struct attack
    {
        const char *name;
        std::function<void()> start, stop;
        std::function<std::string()> made;
    };
    const qel_sim::unsigned_connection_attack kinds[3] = {
        qel_sim::unsigned_connection_attack::close_at_once,
        qel_sim::unsigned_connection_attack::close_after_invitation,
        qel_sim::unsigned_connection_attack::bad_frame_after_invitation};
    const uint32_t threads[3] = {64, 4, 4};
    const char *names[3] = {"close at once (64 threads)", "close after the invitation (4 threads)",
                            "bad frame after the invitation (4 threads)"};
    std::vector<attack> attacks;
    for (int i = 0; i < 3; ++i)
        attacks.push_back(
            {names[i], [&, i] { floods[i].start(port, kinds[i], threads[i]); }, [&, i] { floods[i].stop(); },
             [&, i]
             {
                 return format("%u connections of %u tried, %u invited", floods[i].connections(),
                               floods[i].attempts(), floods[i].invited());
             }});
    attacks.push_back({"reconnecting holders (5 more than the free slots)",
                       [&] { holders.start(port, kSlotsBesideTheTrader + 5); }, [&] { holders.stop(); },
                       [&] { return format("%u reconnects", holders.reconnects()); }});

    const std::string logs = run.dir.file("logs");
    const double settle_s = 2.5;
    double per_order = 0; // log bytes of an honest order, from the baseline
    for (size_t p = 0; p <= attacks.size(); ++p)
    {
        const int at = static_cast<int>(p);
        attack *a = p == 0 ? nullptr : &attacks[p - 1];
        users.phase = at;
        console.set_phase(at);
        const std::map<std::string, uint64_t> before = file_families(logs);
        const uint64_t bytes_before = folder_bytes(logs);
        auto begin = steady::now();
        if (a != nullptr)
            a->start();
        phase_figures f;
        run_phase(run, f, seconds);
        if (a != nullptr)
            a->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(settle_s * 1000)));
        const double window = since_ms(begin) / 1000.0;
        const uint64_t bytes = folder_bytes(logs) - bytes_before;
        const std::map<std::string, uint64_t> after = file_families(logs);
        uint32_t honest_orders;
        {
            std::lock_guard<std::mutex> guard(users.lock);
            honest_orders = users.trader_orders[at].sent + users.fix_orders[at].sent;
        }
        if (a == nullptr)
            per_order = honest_orders > 0 ? static_cast<double>(bytes) / honest_orders : 0;
        const double added = static_cast<double>(bytes) - per_order * honest_orders;
        const console_watch::events e = console.at(at);
        report_phase(report, a == nullptr ? "baseline" : a->name, f, users.trader_orders[at],
                     users.fix_orders[at], users.fix_refusals[at]);
        if (a != nullptr)
            report.line("  attack          %s", a->made().c_str());
        report_console_and_logs(report, e, window, bytes, per_order, added, a != nullptr);
        report.line("  logs grown most %s", grown_most(before, after).c_str());
    }
    users.finish();
    const bool dropped = console.dropped();
    console.stop();

    // A console that connects now: does it still get the lost host link among the day's
    // events it is given? The realtime port takes one console at a time: until the gateway
    // has seen the watching console go, a new one is closed at once, so it tries again.
    sim_console::console_client late;
    uint32_t replayed = 0, lost = 0, drop_notices = 0;
    uint64_t left_out = 0;
    bool connected = false;
    for (int attempt = 0; attempt < 10 && replayed == 0; ++attempt)
    {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        late.close();
        if (!late.connect(run.realtime_port))
            continue;
        connected = true;
        sim_console::packet packet;
        auto begin = steady::now();
        while (since_ms(begin) < 60000 && late.receive(&packet, 2000) == sim_console::receive_result::packet)
        {
            if (packet.transcode() != sim_console::TC_KOVA_LOG_MESSAGE)
                continue;
            ++replayed;
            const sim_console::log_event event = sim_console::decode_log_event(packet);
            lost += told && event.reason_code == lost_reason ? 1 : 0;
            if (event.reason_code == 13003)
            {
                ++drop_notices;
                left_out += event.extra_info;
            }
        }
    }
    if (connected)
        report.line(
            "late console    %u events replayed (%u notices 13003 counting %llu left out); the lost host "
            "link %s",
            replayed, drop_notices, static_cast<unsigned long long>(left_out),
            !told      ? "was never told"
            : lost > 0 ? "among them"
                       : "NOT among them");
    else
        report.line("late console    could not connect");
    if (dropped)
        report.line("  the watching console was dropped by the gateway");
    report_gateway(report, run);
    if (pair.fix)
        pair.fix->stop();
    return 0;
}

// Item e: the log folder fills while the honest pair trades, and is freed again. Without
// the right to mount a small folder, the gateway's file size limit stands in and the FIX
// client stays away (the limit would fail its store, which is not a log).
int log_folder_full(bench_report &report, int seconds, const std::string &binary)
{
    report.blank();
    report.line("item e, a full log folder: %d s of baseline, %d s full, %d s freed; the honest pair on %s",
                seconds, seconds, std::max(5, seconds / 2), kHonestAddress);
    gateway_options options;
    options.full_folder_size = "64m";
    gateway_run run(binary, options);
    const bool mounted = run.full_folder->mounted();
    report.line("  log folder      %s", mounted ? "a 64 MB tmpfs, filled by a file of the bench's"
                                                : "the gateway's file size limit (mounting not allowed)");
    honest_pair pair;
    console_watch console;
    if (!pair.start(run, mounted, kHonestAddress) || !console.start(run.realtime_port, {13004, 13005}))
    {
        return not_measured(report, run, pair.error.empty() ? "the console port refused" : pair.error);
    }
    const size_t stderr_before = run.standard_error->text().size();
    honest_users users;
    users.pause_ms = kHonestPauseMs;
    users.start(*pair.trader, pair.fix.get());

    const int pid = run.gateway->pid();
    const char *names[3] = {"baseline", "folder full", "folder freed"};
    const int lengths[3] = {seconds, seconds, std::max(5, seconds / 2)};
    phase_figures f[3];
    std::string error;
    bool filled = false, freed = false;
    for (int p = 0; p < 3; ++p)
    {
        users.phase = p;
        console.set_phase(p);
        if (p == 1)
            filled = run.full_folder->fill(pid, &error);
        if (p == 2 && filled)
            freed = run.full_folder->free_space(pid, &error);
        run_phase(run, f[p], lengths[p]);
    }
    // The last counts of a spell go out a second after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    users.finish();
    console.stop();
    if (!filled || !freed)
        report.line("  the folder could not be %s: %s", filled ? "freed" : "filled", error.c_str());

    for (int p = 0; p < 3; ++p)
    {
        report_phase(report, names[p], f[p], users.trader_orders[p], users.fix_orders[p],
                     users.fix_refusals[p]);
        const console_watch::events e = console.at(p);
        std::string told;
        for (const auto &event : e.kept)
            told += format("%s%u (%d)", told.empty() ? "" : ", ", event.first, event.second);
        report.line("  console         %u events; 13004/13005 (extra info): %s", e.count,
                    told.empty() ? "none" : told.c_str());
    }
    // What the gateway said on its standard error meanwhile.
    const std::string said = run.standard_error->text();
    std::vector<std::string> lines;
    for (size_t at = stderr_before; at < said.size();)
    {
        size_t end = said.find('\n', at);
        lines.push_back(said.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? said.size() : end + 1;
    }
    report.line("  standard error  %zu lines while trading%s", lines.size(),
                lines.empty() ? "" : ", the first:");
    for (size_t i = 0; i < lines.size() && i < 4; ++i)
        report.line("    %.200s", lines[i].c_str());
    if (console.dropped())
        report.line("  the watching console was dropped by the gateway");
    report_gateway(report, run);
    if (pair.fix)
        pair.fix->stop();
    return 0;
}

// A flood of sign-ons that never get through, for items g and j: from 127.0.0.1, or (with a
// pool) each connection from the next of that many addresses from 127.1.0.1 on.
struct sign_on_flood_kind
{
    const char *name;
    qel_sim::sign_on_attack attack;
    uint32_t threads;
    uint32_t user;
    const char *password;
    uint32_t pool;
};

// Items g and j: sign-ons that never get through, one flood after another beside the honest
// pair on kHonestAddress trading at a pace. A flood's log bytes are what its window (its
// phase and 2.5 s after it) logged beyond the baseline's bytes per honest order; the host's
// sign-ons are the sign-on requests it received in the window.
int sign_on_floods(bench_report &report, int seconds, const std::string &binary, const std::string &title,
                   const std::vector<sign_on_flood_kind> &floods)
{
    report.blank();
    report.line("%s", title.c_str());
    gateway_options options;
    options.known_users.push_back({kKnownUser, "SECRET", 0});
    gateway_run run(binary, options);
    honest_pair pair;
    if (!pair.start(run, true, kHonestAddress))
        return not_measured(report, run, pair.error);
    console_watch console;
    if (!console.start(run.realtime_port))
        return not_measured(report, run, "the console port refused");
    honest_users users;
    users.pause_ms = 100;
    users.start(*pair.trader, pair.fix.get());

    auto host_sign_ons = [&run]
    {
        uint32_t count = 0;
        for (const std::string &line : run.box->lines())
            count += line.find("2300 sign-on user") != std::string::npos ? 1 : 0;
        return count;
    };
    const std::string logs = run.dir.file("logs");
    const double settle_s = 2.5;
    double per_order = 0;             // log bytes of an honest order, from the baseline
    double baseline_rate[2] = {0, 0}; // the trader's and the FIX client's answers a second
    for (size_t p = 0; p <= floods.size(); ++p)
    {
        const int at = static_cast<int>(p);
        const sign_on_flood_kind *f = p == 0 ? nullptr : &floods[p - 1];
        users.phase = at;
        console.set_phase(at);
        const std::map<std::string, uint64_t> before = file_families(logs);
        const uint64_t bytes_before = folder_bytes(logs);
        const uint32_t host_before = host_sign_ons();
        auto begin = steady::now();
        qel_sim::sign_on_flood attacker;
        bool started = true;
        if (f != nullptr)
        {
            qel_sim::sign_on_flood_options o;
            o.attack = f->attack;
            o.threads = f->threads;
            o.user_id = f->user;
            o.password = f->password;
            if (f->pool != 0)
            {
                o.addresses = qel_sim::attacker_addresses(f->pool);
                o.rotate = true;
            }
            started = attacker.start(run.workstation_port, o);
        }
        phase_figures figures;
        run_phase(run, figures, seconds);
        attacker.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(settle_s * 1000)));
        const double window = since_ms(begin) / 1000.0;
        const uint64_t bytes = folder_bytes(logs) - bytes_before;
        const uint32_t at_host = host_sign_ons() - host_before;
        uint32_t honest_orders;
        double rate[2];
        {
            std::lock_guard<std::mutex> guard(users.lock);
            honest_orders = users.trader_orders[at].sent + users.fix_orders[at].sent;
            rate[0] = figures.seconds > 0 ? users.trader_orders[at].answered / figures.seconds : 0;
            rate[1] = figures.seconds > 0 ? users.fix_orders[at].answered / figures.seconds : 0;
        }
        if (f == nullptr)
        {
            per_order = honest_orders > 0 ? static_cast<double>(bytes) / honest_orders : 0;
            baseline_rate[0] = rate[0];
            baseline_rate[1] = rate[1];
        }
        const double added = static_cast<double>(bytes) - per_order * honest_orders;
        const console_watch::events e = console.at(at);
        report_phase(report, f == nullptr ? "baseline" : f->name, figures, users.trader_orders[at],
                     users.fix_orders[at], users.fix_refusals[at]);
        if (f != nullptr && !started)
            report.line("  attack          the attacker's user could not sign on first; no flood");
        else if (f != nullptr)
        {
            std::string errors;
            for (const auto &refusal : attacker.refusals())
                errors += format(" %u with %d", refusal.second, refusal.first);
            report.line("  attack          %u connections of %u tried, %u sign-ons, %u refused (%s ), %u got "
                        "through",
                        attacker.connections(), attacker.attempts(), attacker.sign_ons(), attacker.refused(),
                        errors.c_str(), attacker.accepted());
        }
        report.line("  host            %u sign-ons received in %.1f s (%.1f a second)", at_host, window,
                    at_host / window);
        report_console_and_logs(report, e, window, bytes, per_order, added, f != nullptr);
        if (f != nullptr)
            report.line("  flood / baseline: trader answers a second %.2fx, FIX answers a second %.2fx",
                        baseline_rate[0] > 0 ? rate[0] / baseline_rate[0] : 0,
                        baseline_rate[1] > 0 ? rate[1] / baseline_rate[1] : 0);
        report.line("  logs grown most %s", grown_most(before, file_families(logs)).c_str());
    }
    users.finish();
    if (console.dropped())
        report.line("  the watching console was dropped by the gateway");
    console.stop();
    report_gateway(report, run);
    if (pair.fix)
        pair.fix->stop();
    return 0;
}

// Item h: the start of a day: a crowd of traders signs on together to a quiet gateway of
// its own (room for all, the shipped logging level), each entering one order; after the
// gateway's stop, what its logs kept of them.
int sign_on_crowds(bench_report &report, const std::string &binary)
{
    report.blank();
    report.line("item h, traders signing on together to a quiet gateway (logging at EVENT, binary logs on)");
    struct crowd
    {
        uint32_t count;
        std::vector<std::string> addresses;
        qel_sim::crowd_connects connects;
    };
    const std::vector<std::string> one = {kHonestAddress};
    const std::vector<std::string> five = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
    const qel_sim::crowd_connects in_turn = qel_sim::crowd_connects::in_turn;
    const qel_sim::crowd_connects at_once = qel_sim::crowd_connects::at_once;
    // The connects come one after another (each once the one before was invited), and
    // then, to show what the listen queue does with them, all in one instant.
    const crowd crowds[] = {{10, one, in_turn},  {10, five, in_turn}, {50, one, in_turn},
                            {50, five, in_turn}, {10, one, at_once},  {50, five, at_once}};
    for (const crowd &c : crowds)
    {
        gateway_options options;
        options.max_clients = c.count + 5;
        gateway_run run(binary, options);
        qel_sim::trader_crowd traders(run.workstation_port, kCrowdUser + 1, c.count, c.addresses);
        traders.connect(c.connects, 10000, 15000);
        traders.sign_on_together(15000);
        uint32_t invited = 0;
        for (const qel_sim::crowd_member &m : traders.members())
            invited += m.invited ? 1 : 0;
        std::vector<double> millis;
        for (const qel_sim::crowd_member &m : traders.members())
            if (m.signed_on)
                millis.push_back(m.sign_on_ms);
        std::sort(millis.begin(), millis.end());
        run.gateway->signal(SIGTERM);
        const qel_test::process_result ended = run.gateway->wait(20000);
        run.gateway.reset();

        const std::string logs = run.dir.file("logs");
        const char *thread = "tws_network_handler_thread";
        uint32_t incoming = 0, left_out = 0, requests = 0, responses = 0;
        for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(logs, thread))
        {
            incoming += line.text.compare(0, 26, "Incoming client connection") == 0 ? 1 : 0;
            left_out += line.text.compare(0, 8, "Left out") == 0 &&
                                line.text.find("binary log records") != std::string::npos
                            ? 1
                            : 0;
        }
        auto of_crowd = [&c](uint32_t user) { return user > kCrowdUser && user <= kCrowdUser + c.count; };
        for (const qel_test::binary_log_record &r : qel_test::binary_log_records(logs, thread, "request"))
            requests +=
                qel_test::frame_transcode(r) == 2300 && of_crowd(qel_test::frame_sign_on_user(r)) ? 1 : 0;
        for (const qel_test::binary_log_record &r : qel_test::binary_log_records(logs, thread, "response"))
            responses += qel_test::frame_transcode(r) == 2301 && of_crowd(qel_test::frame_user_id(r)) ? 1 : 0;
        report.line(
            "  %2u traders from %zu address%s, connecting %s: %u invited, %u signed on, %u traded; sign-ons "
            "took p50 %.0f ms, max %.0f ms; the logs kept %u of %u \"Incoming client connection\" lines, "
            "%u sign-on requests, %u sign-on responses; %u \"Left out\" lines about connections; the gateway "
            "exited with %d",
            c.count, c.addresses.size(), c.addresses.size() > 1 ? "es" : "",
            c.connects == in_turn ? "in turn" : "at once", invited, traders.signed_on(), traders.traded(),
            bench_percentile(millis, 0.5), millis.empty() ? 0 : millis.back(), incoming, c.count, requests,
            responses, left_out, ended.exit_code);
    }
    return 0;
}

// What a crowd's console events about a reason say (items k and l): the events, and the
// happenings they stand for, in all and naming each user.
struct crowd_events
{
    uint32_t events = 0;
    uint64_t counted = 0;
    std::map<uint32_t, uint64_t> by_user;

    crowd_events(const gateway_run &run, uint16_t reason)
    {
        for (const qel_test::console_event &e : qel_test::day_console_events(run.dir))
        {
            if (e.reason != reason)
                continue;
            const uint64_t n = stands_for(reason, e.extra);
            ++events;
            counted += n;
            by_user[e.user] += n;
        }
    }
};

// A crowd's sign-on times, in ms from the release of its sign-ons: those that signed on.
std::vector<double> sign_on_millis(const qel_sim::trader_crowd &crowd)
{
    std::vector<double> millis;
    for (const qel_sim::crowd_member &m : crowd.members())
        if (m.signed_on)
            millis.push_back(m.sign_on_ms);
    std::sort(millis.begin(), millis.end());
    return millis;
}

// Item k: a crowd of traders connects at once and signs on together to a quiet gateway
// whose host answers users' sign-ons late (the simulated host's own delay: the rest of the
// host link goes on meanwhile), against the same crowd with the host answering at once
// (the baseline, run just before): how many signed on and traded, how many were cut as not
// signed on in time (11027), and when the last signed on.
int slow_host_crowds(bench_report &report, const std::string &binary)
{
    report.blank();
    report.line(
        "item k, traders signing on together while the host answers users' sign-ons late (connecting at "
        "once; each crowd first with the host answering at once)");
    struct crowd
    {
        uint32_t count;
        std::vector<std::string> addresses;
        uint32_t delay_ms;
        uint32_t slots;
    };
    const std::vector<std::string> one = {kHonestAddress};
    const std::vector<std::string> five = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
    const crowd crowds[] = {
        {100, one, 3000, 105}, {50, one, 6000, 50}, {40, one, 1000, 50}, {40, five, 1000, 50}};
    for (const crowd &c : crowds)
    {
        for (const uint32_t delay : {0u, c.delay_ms})
        {
            gateway_options options;
            options.max_clients = c.slots;
            options.box_users = c.count;
            gateway_run run(binary, options);
            qel_sim::box_faults slow;
            slow.user_sign_on_delay_ms = delay;
            run.box->set_faults(slow);
            qel_sim::trader_crowd traders(run.workstation_port, kCrowdUser + 1, c.count, c.addresses);
            traders.connect(qel_sim::crowd_connects::at_once, 10000, 15000);
            // Longer than the gateway's 30 s for a sign-on, so that a cut shows as a cut.
            traders.sign_on_together(45000);
            const std::vector<double> millis = sign_on_millis(traders);
            // A cut's folded count goes out a second after the last cut.
            const uint32_t missing = c.count - traders.signed_on();
            if (missing > 0)
                qel_test::wait_until([&] { return crowd_events(run, 11027).counted >= missing; }, 5000);
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            const crowd_events cut(run, 11027);
            report.line(
                "  %3u traders from %zu address%s, the host at %.0f s: %u signed on, %u traded, %llu cut "
                "as not signed on in time (11027); sign-ons took p50 %.0f ms, the last %.0f ms",
                c.count, c.addresses.size(), c.addresses.size() > 1 ? "es" : "", delay / 1000.0,
                traders.signed_on(), traders.traded(), static_cast<unsigned long long>(cut.counted),
                bench_percentile(millis, 0.5), millis.empty() ? 0 : millis.back());
        }
    }
    return 0;
}

// Item l: 45 traders sign on together to a box of 10 users, from five addresses, and (the
// baseline) from one: the refused users the console names (11022), and the users whose
// events count more refusals than their own.
int refused_crowds(bench_report &report, const std::string &binary)
{
    report.blank();
    report.line(
        "item l, 45 traders signing on together to a box of 10 users (50 slots, connecting at once): the "
        "console's events about the refusals (11022)");
    const uint32_t count = 45, box_users = 10;
    const std::vector<std::string> one = {kHonestAddress};
    const std::vector<std::string> five = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
    for (const std::vector<std::string> *addresses : {&one, &five})
    {
        gateway_options options;
        options.max_clients = 50;
        options.box_users = box_users;
        gateway_run run(binary, options);
        qel_sim::trader_crowd traders(run.workstation_port, kCrowdUser + 1, count, *addresses);
        traders.connect(qel_sim::crowd_connects::at_once, 10000, 15000);
        traders.sign_on_together(15000);
        const uint32_t refused = count - traders.signed_on();
        // The folded counts go out a second after the last refusal.
        qel_test::wait_until([&] { return crowd_events(run, 11022).counted >= refused; }, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const crowd_events told(run, 11022);
        uint32_t named = 0, miscounted = 0, most = 0;
        for (const qel_sim::crowd_member &m : traders.members())
        {
            auto found = told.by_user.find(m.user);
            const uint64_t shown = found == told.by_user.end() ? 0 : found->second;
            named += !m.signed_on && shown > 0 ? 1 : 0;
            miscounted += shown > (m.signed_on ? 0u : 1u) ? 1 : 0;
            most = std::max(most, static_cast<uint32_t>(shown));
        }
        auto nobody = told.by_user.find(0);
        report.line(
            "  from %zu address%s: %u signed on, %u refused; %u events counting %llu refusals; %u of %u "
            "refused users named, %u users counted with refusals not their own (the most shown for one "
            "user: %u), %llu refusals counted under user 0",
            addresses->size(), addresses->size() > 1 ? "es" : "", traders.signed_on(), refused, told.events,
            static_cast<unsigned long long>(told.counted), named, refused, miscounted, most,
            static_cast<unsigned long long>(nobody == told.by_user.end() ? 0 : nobody->second));
    }
    return 0;
}

// Item m: honest traders of the office sign on once a second from kHonestAddress (a new user
// each time, signing off again), beside a workstation of the same address that retries a
// wrong password for a user the host knows as fast as it is answered, on `connections`
// connections at once.
class broken_workstation_item : public probed_item
{
  public:
    explicit broken_workstation_item(uint32_t connections) : m_connections(connections) {}
    std::string attempt(gateway_run &run, uint32_t n, std::string *, double *ms) override
    {
        return newcomer_sign_on(run.workstation_port, kNewcomerUser + 1 + n % 1000, 0, ms);
    }
    void start_attack(gateway_run &run) override
    {
        qel_sim::sign_on_flood_options o;
        o.attack = qel_sim::sign_on_attack::wrong_password;
        o.user_id = kKnownUser;
        o.password = "GUESSED";
        o.threads = m_connections;
        o.addresses = {kHonestAddress};
        m_broken.start(run.workstation_port, o);
        qel_test::wait_until([&] { return m_broken.refused() >= 3; }, 20000);
        m_at_start = m_broken.refused();
    }
    void stop_attack(double seconds, std::vector<std::string> &notes) override
    {
        const uint32_t refused = m_broken.refused() - m_at_start;
        m_broken.stop();
        notes.push_back(format("broken workstation  %u connection%s: %u wrong passwords refused in the phase "
                               "(%.1f a second), %u got through",
                               m_connections, m_connections > 1 ? "s" : "", refused,
                               seconds > 0 ? refused / seconds : 0, m_broken.accepted()));
    }
    bool p90() const override { return true; }
    std::string attackers() const override { return kHonestAddress; }

  private:
    uint32_t m_connections;
    qel_sim::sign_on_flood m_broken;
    uint32_t m_at_start = 0;
};

uint64_t host_connects(gateway_run &run)
{
    return qel_test::host_connects(run.dir.file("logs"));
}

// A trader from kHonestAddress who tries to sign on again each time the gateway refuses
// its connection, for up to `limit_ms`: how long it took (< 0: it did not get in) and how
// many tries. Signed on, it stays so on `client`.
double sign_on_when_possible(uint16_t port, qel_sim::workstation_client &client,
                             std::unique_ptr<qel_sim::trader> &user, uint32_t user_id, uint32_t limit_ms,
                             uint32_t *tries)
{
    auto begin = steady::now();
    *tries = 0;
    while (since_ms(begin) < limit_ms)
    {
        ++*tries;
        client.close();
        user.reset(new qel_sim::trader(client, user_id));
        if (!client.connect("127.0.0.1", port, kHonestAddress))
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        qel_sim::trader_reply reply = user->sign_on(5000);
        if (reply.arrived && reply.error_code == 0)
            return since_ms(begin) / 1000.0;
        if (reply.arrived)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// Waits for the console to see an event of `reason` in `phase`; the time it was seen.
bool console_sees(console_watch &console, int phase, uint16_t reason, int timeout_ms,
                  steady::time_point *seen)
{
    if (!qel_test::wait_until(
            [&]
            {
                const console_watch::events e = console.at(phase);
                return e.by_reason.find(reason) != e.by_reason.end();
            },
            timeout_ms))
        return false;
    *seen = steady::now();
    return true;
}

// Threads of item n's flood, and the workstation slots of its gateway (those of the shipped
// configuration).
const uint32_t kHostDownFlooders = 64;
const uint32_t kShippedMaxClients = 50;

// One phase of item n with the host down: the connects the gateway made to the host, the
// console's events (12009 with the connects they count) and the log bytes, each a second.
void report_host_down(bench_report &report, const char *name, const phase_figures &f,
                      const console_watch::events &e, uint64_t connects, const tries &t)
{
    auto c = e.counted.find(12009);
    auto n = e.by_reason.find(12009);
    report.line("%s (%.0f s):", name, f.seconds);
    report.line("  host connects   %llu (%.1f a second)", static_cast<unsigned long long>(connects),
                f.seconds > 0 ? connects / f.seconds : 0);
    report.line("  console         %u events (%.1f a second): %s; 12009: %u events counting %llu", e.count,
                f.seconds > 0 ? e.count / f.seconds : 0, console_watch::top_reasons(e).c_str(),
                n == e.by_reason.end() ? 0 : n->second,
                static_cast<unsigned long long>(c == e.counted.end() ? 0 : c->second));
    report.line("  logs            %.1f kB (%.1f kB a second)", (f.log_end - f.log_start) / 1e3,
                f.seconds > 0 ? (f.log_end - f.log_start) / 1e3 / f.seconds : 0);
    report.line("  gateway CPU     %.1f %% of one core; descriptors at the peak %ld",
                f.seconds > 0 ? 100.0 * (f.end.cpu_seconds - f.start.cpu_seconds) / f.seconds : 0,
                f.peak_fds);
    report.line("  trader          %s", t.text("signed on").c_str());
}

// Item i: a host that is down. The simulated host refuses every connect (it listens no
// more) from before the first client, while a trader from kHonestAddress tries to sign on
// once a second: alone, then beside peers from 127.0.0.1 that connect to the workstation
// port and close at once, as fast as they can (64 threads). Between the two, the host
// returns (the trader tries until it is in), and goes for good (the box is logged off);
// after the flood the host returns again with the flood still on. A second gateway has its
// host back 5 s after a loss (the session recovers). Figures: the gateway's connects to the
// host (host_connects), the console events a second that a console on the realtime port
// receives, the log bytes a second, the time from the host's return to the first sign-on,
// from a loss to the box logoff (12008) and to the recovery (12012).
int host_down(bench_report &report, int seconds, const std::string &binary)
{
    report.blank();
    report.line(
        "item n, a host that is down: %d s with a trader from %s trying once a second, then %d s beside "
        "close-at-once connects from 127.0.0.1 (%u threads); %u workstation slots",
        seconds, kHonestAddress, seconds, kHostDownFlooders, kShippedMaxClients);
    gateway_options options;
    options.max_clients = kShippedMaxClients;
    gateway_run run(binary, options);
    run.host->refuse_connections(true);
    console_watch console;
    if (!qel_test::wait_until([&] { return console.start(run.realtime_port, {12008, 12012}); }, 10000))
        return not_measured(report, run, "the console port refused");
    const uint16_t port = run.workstation_port;
    prober probe;
    probe.start([&](uint32_t n, std::string *, double *ms)
                { return newcomer_sign_on(port, kNewcomerUser + n, 0, ms); },
                1000, "signed on");

    // The trader alone while the host is down.
    phase_figures alone;
    uint64_t connects_before = host_connects(run);
    run_phase(run, alone, seconds);
    const uint64_t alone_connects = host_connects(run) - connects_before;
    probe.phase = 1;
    console.set_phase(1);
    probe.finish();

    // The host returns: the trader tries until it is in, and stays.
    qel_sim::workstation_client client;
    std::unique_ptr<qel_sim::trader> user;
    uint32_t tries = 0;
    run.host->refuse_connections(false);
    const double first_back = sign_on_when_possible(port, client, user, kTraderUser, 20000, &tries);
    report.line("  host back       the trader signed on %.2f s after the host's return (%u tries)",
                first_back, tries);

    // The host goes for good: its side of the box's connection closes and it refuses.
    console.set_phase(2);
    connects_before = host_connects(run);
    run.host->refuse_connections(true);
    const steady::time_point lost = steady::now();
    run.host->drop_connection();
    steady::time_point logged_off;
    if (first_back >= 0 && console_sees(console, 2, 12008, 40000, &logged_off))
        report.line("  host gone       box logged off (12008) %.2f s after the loss; %llu connects meanwhile",
                    std::chrono::duration<double>(logged_off - lost).count(),
                    static_cast<unsigned long long>(host_connects(run) - connects_before));
    else
        report.line("  host gone       no box logoff (12008) within 40 s of the loss");
    client.close();

    // The flood, the host still down.
    console.set_phase(3);
    prober flood_probe;
    flood_probe.phase = 3;
    flood_probe.start([&](uint32_t n, std::string *, double *ms)
                      { return newcomer_sign_on(port, kNewcomerUser + 1000 + n, 0, ms); },
                      1000, "signed on");
    qel_sim::unsigned_connection_flood flood;
    flood.start(port, qel_sim::unsigned_connection_attack::close_at_once, kHostDownFlooders);
    phase_figures flooded;
    connects_before = host_connects(run);
    run_phase(run, flooded, seconds);
    const uint64_t flood_connects = host_connects(run) - connects_before;
    flood_probe.phase = 4;
    console.set_phase(4);
    flood_probe.finish();
    const uint32_t flood_connections = flood.connections(), flood_attempts = flood.attempts();

    // The host returns beside the flood.
    run.host->refuse_connections(false);
    const double first_in_flood = sign_on_when_possible(port, client, user, kTraderUser, 20000, &tries);
    flood.stop();
    console.stop();

    report_host_down(report, "host down, the trader alone", alone, console.at(0), alone_connects,
                     probe.at(0));
    report_host_down(report, "host down, beside the flood", flooded, console.at(3), flood_connects,
                     flood_probe.at(3));
    report.line("  flood           %u connections of %u tried (%.0f a second)", flood_connections,
                flood_attempts, flooded.seconds > 0 ? flood_connections / flooded.seconds : 0);
    report.line("  host back       beside the flood, the trader signed on %.2f s after the host's return (%u "
                "tries)",
                first_in_flood, tries);
    report_gateway(report, run);

    // A second gateway: the host back 5 s after a loss.
    gateway_run second(binary, options);
    console_watch watch;
    qel_sim::workstation_client kept;
    std::unique_ptr<qel_sim::trader> kept_user;
    if (sign_on_when_possible(second.workstation_port, kept, kept_user, kTraderUser, 20000, &tries) < 0 ||
        !watch.start(second.realtime_port, {12012}))
        return not_measured(report, second, "the trader could not sign on, or the console port refused");
    watch.set_phase(1);
    second.host->refuse_connections(true);
    const steady::time_point cut = steady::now();
    second.host->drop_connection();
    std::this_thread::sleep_until(cut + std::chrono::seconds(5));
    second.host->refuse_connections(false);
    steady::time_point recovered;
    if (console_sees(watch, 1, 12012, 20000, &recovered))
        report.line("  host back in 5 s  session recovered (12012) %.2f s after the loss; the trader %s",
                    std::chrono::duration<double>(recovered - cut).count(),
                    kept_user->system_information(5000).arrived ? "still signed on" : "NOT answered");
    else
        report.line("  host back in 5 s  no recovery (12012) within 20 s of the host's return");
    watch.stop();
    report_gateway(report, second);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const int seconds = argc > 1 ? atoi(argv[1]) : 20;
    const std::string output = argc > 2 ? argv[2] : bench_default_output("hostile_peers.txt");
    // An empty binary is this build's, so that items can be chosen without naming one.
    const std::string binary = argc > 3 && argv[3][0] != '\0' ? argv[3] : QEL_IP_BINARY;
    const std::string items = argc > 4 ? argv[4] : "0125abcdefghijklmn";
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
    // A gateway that frees an idle holder's slot only at the 30 s sign-on limit lets the
    // newcomer in that late at the earliest, so this phase lasts at least 45 s.
    const uint32_t holders = 50; // on 49 free slots
    if (items.find('5') != std::string::npos)
        status |= run_item(report, "item 5, reconnecting slot holders", seconds, binary, holders, true,
                           [&](gateway_run &run, phase_figures &f, std::vector<std::string> &notes)
                           { reconnecting_holders(run, f, notes, std::max(seconds, 45), holders); });
    if (items.find('a') != std::string::npos)
    {
        holders_item item(kSlotsBesideTheTrader, 0, true);
        status |= run_probed(report,
                             "item a, a sign-on in two parts beside reconnecting holders on every free slot",
                             seconds, binary, gateway_options(), item, 100, "signed on");
    }
    if (items.find('b') != std::string::npos)
    {
        holders_item item(kSlotsBesideTheTrader, 5, false);
        status |=
            run_probed(report, "item b, a newcomer beside five more reconnecting holders than free slots",
                       seconds, binary, gateway_options(), item, 100, "signed on");
    }
    if (items.find('c') != std::string::npos)
    {
        // At most four tries a second, through both phases and the flood's start.
        const uint32_t sessions = 8 * static_cast<uint32_t>(seconds) + 80;
        gateway_options options;
        options.max_clients = 50;
        options.late_fix_users = sessions;
        late_logon_item item(sessions);
        status |= run_probed(report, "item c, a FIX Logon 100 ms after its connect beside silent connects",
                             seconds, binary, options, item, 250, "logged on");
    }
    if (items.find('d') != std::string::npos)
        status |= never_signed_on(report, seconds, binary);
    if (items.find('e') != std::string::npos)
        status |= log_folder_full(report, seconds, binary);
    if (items.find('f') != std::string::npos)
    {
        struct spread
        {
            uint32_t addresses;
            bool silent;
            uint32_t slots;
        };
        for (const spread &s : {spread{2, false, 50}, spread{10, false, 50}, spread{60, true, 60}})
        {
            qel_sim::slot_holding how;
            how.addresses = qel_sim::attacker_addresses(s.addresses);
            how.silent = s.silent;
            gateway_options options;
            options.max_clients = s.slots;
            holders_item item(s.slots - 1, 5, false, how);
            const std::string title =
                format("item f, a newcomer beside five more reconnecting holders than free slots, from %u "
                       "addresses (%s, %u slots)",
                       s.addresses, s.silent ? "silent" : "one byte each", s.slots);
            status |= run_probed(report, title.c_str(), seconds, binary, options, item, 100, "signed on");
        }
    }
    if (items.find('g') != std::string::npos)
        status |= sign_on_floods(
            report, seconds, binary,
            format(
                "item g, sign-ons that never get through: %d s of baseline, then three floods of %d s; the "
                "honest pair on %s, the attackers on 127.0.0.1",
                seconds, seconds, kHonestAddress),
            {{"sign-ons for user 0 (8 threads)", qel_sim::sign_on_attack::no_user, 8, 0, "", 0},
             {"wrong passwords for a user the host knows (4 threads)",
              qel_sim::sign_on_attack::wrong_password, 4, kKnownUser, "GUESSED", 0},
             {"second sign-ons of a signed-on user (8 threads)", qel_sim::sign_on_attack::second_sign_on, 8,
              kHostileUser, "", 0}});
    if (items.find('h') != std::string::npos)
        status |= sign_on_crowds(report, binary);
    if (items.find('i') != std::string::npos)
    {
        struct pool
        {
            uint32_t addresses;
            const char *newcomer;
        };
        for (const pool &p : {pool{200, kHonestAddress}, pool{1000, kHonestAddress},
                              pool{10000, kHonestAddress}, pool{1000, "127.0.0.3"}})
        {
            qel_sim::slot_holding how;
            how.addresses = qel_sim::attacker_addresses(p.addresses);
            how.silent = true;
            how.rotate = true;
            gateway_options options;
            options.max_clients = 50;
            holders_item item(49, 11, false, how, p.newcomer);
            const std::string title = format(
                "item i, a newcomer from %s beside 60 silent holders taking the next address of a pool of %u for "
                "each connection (50 slots)",
                p.newcomer, p.addresses);
            status |= run_probed(report, title.c_str(), seconds, binary, options, item, 100, "signed on");
        }
    }
    if (items.find('j') != std::string::npos)
        status |= sign_on_floods(
            report, seconds, binary,
            format(
                "item j, wrong passwords from pools of addresses, a new one for each connection: %d s of "
                "baseline, then two floods of %d s; the honest pair on %s, the attackers from 127.1.0.1 on",
                seconds, seconds, kHonestAddress),
            {{"wrong passwords from 200 addresses (8 threads)", qel_sim::sign_on_attack::wrong_password, 8,
              kKnownUser, "GUESSED", 200},
             {"wrong passwords from 1000 addresses (8 threads)", qel_sim::sign_on_attack::wrong_password, 8,
              kKnownUser, "GUESSED", 1000}});
    if (items.find('k') != std::string::npos)
        status |= slow_host_crowds(report, binary);
    if (items.find('l') != std::string::npos)
        status |= refused_crowds(report, binary);
    if (items.find('m') != std::string::npos)
    {
        for (const uint32_t connections : {1u, 4u})
        {
            gateway_options options;
            options.known_users.push_back({kKnownUser, "SECRET", 0});
            broken_workstation_item item(connections);
            const std::string title = format(
                "item m, honest sign-ons once a second beside a workstation of the same address retrying a "
                "wrong password on %u connection%s",
                connections, connections > 1 ? "s" : "");
            status |= run_probed(report, title.c_str(), seconds, binary, options, item, 1000, "signed on");
        }
    }
    if (items.find('n') != std::string::npos)
        status |= host_down(report, seconds, binary);
    if (!report.write(output))
        fprintf(stderr, "hostile_peers_bench: cannot write %s\n", output.c_str());
    return status;
}
