// FIX peers that misbehave through no attack, measured on one or more builds of qel_ip
// in the same run (the current build and a change, say), each beside the same gateway's
// own figures before the fault:
//   - unread: a logged-on FIX client on 127.0.0.2 sends NewOrderSingles for a while and
//     never reads. The gateway's resident size at the start, its highest while the client
//     sends and after the client has gone; the orders the connection took; whether and
//     when the gateway ended the session; what the logs grew by; and, meanwhile, a FIX
//     client and a trader at a workstation on 127.0.0.1 trading at a steady pace: orders
//     answered and the slowest answer;
//   - status: twenty connections to the FIX engine's status page that send nothing, then
//     an operator's request for the page: how long it waited for its answer; then one
//     silent connection from each of 64 and of 2,000 addresses, each connecting again as
//     soon as it is dropped, and five requests of the operator from 127.0.0.2 beside them:
//     how many were answered and how long they took, the crowd's connects a second, and
//     the gateway's descriptors and resident size meanwhile;
//   - logons: twelve FIX clients logging on together: the lines of their acceptance in the
//     engine's global event log.
//
//   fix_peer_faults_bench [--seconds N] [--gateway PATH]... [unread] [status] [logons]
//
// Without --gateway the gateway of this build runs; without a section, all three.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/proc_stats.h"
#include "gateway/runtime/ea_socket.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_deaf_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/log_folder_figures.h"
#include "support/paced_requests.h"
#include "support/workstation_trader.h"

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const uint32_t kDeafUser = 1002;
const uint32_t kTraderUser = 3001;

double ms_since(steady::time_point t)
{
    return std::chrono::duration<double, std::milli>(steady::now() - t).count();
}

// The gateway's resident size, sampled until stopped: the highest seen.
class resident_watch
{
  public:
    explicit resident_watch(int pid) : m_pid(pid)
    {
        m_thread = std::thread(
            [this]
            {
                while (!m_stop)
                {
                    m_peak = std::max<uint64_t>(m_peak, proc_resident_kb(m_pid));
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
    }
    ~resident_watch() { stop(); }
    uint64_t stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_peak;
    }

  private:
    int m_pid;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_peak{0};
    std::thread m_thread;
};

void unread_section(const std::string &binary, uint32_t seconds)
{
    qel_test::fix_road road({kFixUser, kDeafUser}, qel_sim::box_options(), qel_sim::exchange_options(),
                            {{"SYSTEM_LOGGING_LEVEL", "EVENT"}}, "", false);
    road.start(binary);
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    qel_sim::workstation_client client;
    qel_sim::trader trader(client, kTraderUser);
    const bool signed_on =
        qel_test::sign_on_at_workstation(client, trader, road.workstation_port, kTimeoutMs);
    if (!road.listening || !fix || !signed_on)
    {
        std::printf("  unread: the road did not start (%s)\n", error.c_str());
        return;
    }
    qel_sim::fix_deaf_client deaf(
        road.client_options<qel_sim::fix_deaf_client_options>(kDeafUser, "127.0.0.2"));
    if (!deaf.log_on(&error))
    {
        std::printf("  unread: the client that stops reading did not log on (%s)\n", error.c_str());
        return;
    }

    // The others trade at a steady pace: for a while alone, then beside the fault.
    auto fix_orders = [&]
    { return new qel_test::paced_requests(qel_test::paced_order(*fix, kTimeoutMs), 50); };
    auto trader_orders = [&]
    { return new qel_test::paced_requests(qel_test::paced_trader_order(trader, kTimeoutMs), 50); };
    std::unique_ptr<qel_test::paced_requests> quiet_fix(fix_orders()), quiet_trader(trader_orders());
    std::this_thread::sleep_for(std::chrono::seconds(10));
    quiet_fix->stop();
    quiet_trader->stop();

    std::unique_ptr<qel_test::paced_requests> fault_fix(fix_orders()), fault_trader(trader_orders());
    const uint64_t start_kb = proc_resident_kb(road.gateway->pid());
    const std::map<std::string, long> sizes = qel_test::log_folder_sizes(road.dir);
    resident_watch watch(road.gateway->pid());
    const qel_sim::fix_deaf_client_outcome outcome = deaf.send_without_reading(seconds * 1000);
    const uint64_t peak_kb = watch.stop();
    deaf.close();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const uint64_t end_kb = proc_resident_kb(road.gateway->pid());
    fault_fix->stop();
    fault_trader->stop();
    std::string by_file;
    const long grown = qel_test::log_folder_growth(sizes, qel_test::log_folder_sizes(road.dir), &by_file);
    size_t pending_events = 0;
    for (const qel_test::console_event &e : qel_test::day_console_events(road.dir))
        pending_events += e.reason == 11012 ? 1 : 0;

    std::printf("  unread: %llu orders taken in %u s; ended by the gateway: %s",
                static_cast<unsigned long long>(outcome.orders_sent), seconds,
                outcome.ended_by_gateway ? "yes" : "no");
    if (outcome.ended_by_gateway)
        std::printf(" after %.1f s", outcome.ended_after_seconds);
    std::printf("; console events 11012: %zu\n", pending_events);
    std::printf(
        "    resident size: start %llu kB, highest %llu kB (+%lld), 3 s after the client went %llu kB "
        "(+%lld)\n",
        static_cast<unsigned long long>(start_kb), static_cast<unsigned long long>(peak_kb),
        static_cast<long long>(peak_kb) - static_cast<long long>(start_kb),
        static_cast<unsigned long long>(end_kb),
        static_cast<long long>(end_kb) - static_cast<long long>(start_kb));
    std::printf("    logs grew %ld bytes:%s\n", grown, by_file.c_str());
    auto report = [](const char *phase, const qel_test::paced_requests &f, const qel_test::paced_requests &t)
    {
        std::printf(
            "    %s: FIX client %u of %u orders answered, slowest %.1f ms; trader %u of %u, slowest %.1f ms\n",
            phase, f.answered(), f.sent(), f.slowest_ms(), t.answered(), t.sent(), t.slowest_ms());
    };
    report("alone for 10 s", *quiet_fix, *quiet_trader);
    report("beside the client that reads nothing", *fault_fix, *fault_trader);
    fix->stop();
    road.stop();
}

// One request for the status page: milliseconds to its whole answer (-1 when none), and
// the answer's status line.
double page_request(uint16_t port, std::string *status_line, const char *from = nullptr,
                    uint32_t wait_ms = 120000)
{
    const auto began = steady::now();
    qel_sim::raw_peer peer;
    if (!peer.connect(port, from) || !peer.send_all("GET / HTTP/1.0\r\n\r\n", kTimeoutMs) ||
        !peer.wait_closed(wait_ms))
        return -1;
    *status_line = peer.received().substr(0, peer.received().find("\r\n"));
    return ms_since(began);
}

size_t open_descriptors(int pid)
{
    std::error_code error;
    size_t count = 0;
    for (std::filesystem::directory_iterator i("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && i != end; i.increment(error))
        ++count;
    return count;
}

// One silent connection from each of `addresses` addresses, each connecting again as soon
// as it is dropped, and five requests of the operator from its own address beside them.
void page_beside_crowd(const qel_test::fix_road &road, uint16_t http_port, uint32_t addresses)
{
    qel_sim::slot_holding how;
    how.addresses = qel_sim::attacker_addresses(addresses);
    how.silent = true;
    qel_sim::reconnecting_slot_holders holders;
    holders.start(http_port, addresses, how);
    const auto started = steady::now();
    while (holders.reconnects() < addresses && ms_since(started) < 30000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const uint32_t reconnects_before = holders.reconnects();
    const auto began = steady::now();
    int answered = 0;
    double slowest = 0;
    std::vector<double> times;
    size_t descriptors = 0;
    for (int i = 0; i < 5; ++i)
    {
        std::string status_line;
        const double ms = page_request(http_port, &status_line, "127.0.0.2", 15000);
        descriptors = std::max(descriptors, open_descriptors(road.gateway->pid()));
        if (ms >= 0 && status_line == "HTTP/1.1 200 OK")
        {
            ++answered;
            slowest = std::max(slowest, ms);
        }
        times.push_back(ms);
    }
    const double seconds = ms_since(began) / 1000;
    const uint32_t reconnects = holders.reconnects() - reconnects_before;
    holders.stop();
    std::printf("  status beside %u addresses reconnecting: %d of 5 answered", addresses, answered);
    if (answered > 0)
        std::printf(", slowest %.0f ms", slowest);
    std::printf(" (each ended after");
    for (double ms : times)
        std::printf(ms < 0 ? " none" : " %.0f", ms);
    std::printf(" ms); the crowd connected %.0f times a second; the gateway held up to %zu descriptors, "
                "%llu kB\n",
                reconnects / std::max(seconds, 0.001), descriptors,
                static_cast<unsigned long long>(proc_resident_kb(road.gateway->pid())));
}

void status_section(const std::string &binary)
{
    qel_test::gateway_config ports;
    const uint16_t http_port = ports.reserve_port();
    qel_test::fix_road road({kFixUser}, qel_sim::box_options(), qel_sim::exchange_options(), {},
                            "HttpAcceptPort=" + std::to_string(http_port) + "\n", false);
    road.start(binary);
    std::string status_line;
    double alone = 0;
    for (int i = 0; i < 10; ++i)
        alone = std::max(alone, page_request(http_port, &status_line));
    std::vector<std::unique_ptr<qel_sim::raw_peer>> silent;
    for (int i = 0; i < 20; ++i)
    {
        silent.emplace_back(new qel_sim::raw_peer);
        silent.back()->connect(http_port);
    }
    const double beside = page_request(http_port, &status_line);
    std::printf(
        "  status: the page alone, slowest of 10: %.0f ms; beside 20 silent connections %.0f ms (%s)\n",
        alone, beside, status_line.c_str());
    silent.clear();
    // The crowd of 2,000 holds that many descriptors here.
    rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 4096 &&
        (limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= 4096))
    {
        limit.rlim_cur = 4096;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    for (uint32_t addresses : {64u, 2000u})
        page_beside_crowd(road, http_port, addresses);
    road.stop();
}

void logons_section(const std::string &binary)
{
    const uint32_t kClients = 12;
    std::vector<uint32_t> users;
    for (uint32_t i = 0; i < kClients; ++i)
        users.push_back(5001 + i);
    users.push_back(kFixUser);
    qel_sim::box_options box;
    box.max_users = 16;
    qel_test::fix_road road(users, box, qel_sim::exchange_options(),
                            {{"SYSTEM_LOGGING_LEVEL", "EVENT"}, {"MAX_TWS_CLIENTS", "16"}}, "", false);
    road.start(binary);
    // The box is up before they come, as at any time of the day but its start.
    std::string error;
    std::unique_ptr<qel_sim::fix_client> first = road.ready_client(kFixUser, kTimeoutMs, &error);
    std::vector<std::unique_ptr<qel_sim::fix_client>> clients;
    const uint32_t ready =
        road.log_on_together({users.begin(), users.begin() + kClients}, "127.0.0.2", kTimeoutMs, &clients);
    const std::string events_file = road.global_event_log();
    const std::string accepted = " : Accepted connection from 127.0.0.2 ";
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const size_t lines = qel_test::count_of(qel_test::read_file(events_file), accepted);
    std::printf("  logons: %u of %u clients logged on; %zu acceptance lines in the engine's event log\n",
                ready, kClients, lines);
    for (auto &c : clients)
        if (c)
            c->stop();
    if (first)
        first->stop();
    road.stop();
}

} // namespace

int main(int argc, char *argv[])
{
    uint32_t seconds = 60;
    std::vector<std::string> gateways;
    std::vector<std::string> sections;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--gateway") == 0 && i + 1 < argc)
            gateways.push_back(argv[++i]);
        else
            sections.push_back(argv[i]);
    }
    if (gateways.empty())
        gateways.push_back(QEL_IP_BINARY);
    if (sections.empty())
        sections = {"unread", "status", "logons"};
    char failure_text[256];
    uint32_t failure_size = sizeof failure_text;
    if (ea_socket_init(failure_text, &failure_size) != EA_SUCCESS)
        return 1;
    std::printf("load average %.2f\n", machine_load_average());
    for (const std::string &section : sections)
        for (const std::string &gateway : gateways)
        {
            std::printf("%s on %s\n", section.c_str(), gateway.c_str());
            if (section == "unread")
                unread_section(gateway, seconds);
            else if (section == "status")
                status_section(gateway);
            else if (section == "logons")
                logons_section(gateway);
            std::fflush(stdout);
        }
    return 0;
}
