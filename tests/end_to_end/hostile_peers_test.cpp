// Hostile and broken peers against the running gateway: while a trader at a workstation
// and a FIX client trade, a signed-on workstation user sends the box's own records and
// signs on again for other users, connections take every free workstation slot with one
// byte, a console floods the interactive port and goes away unread, a FIX connection
// announces a huge message, and the FIX status page is asked to disable every session.
// Every order of the well-behaved peers is answered, the host sees one connection and
// no box record from a user, the gateway's memory stays bounded, each attacker is refused
// or cut off with its log line, and the slots, the console port and the FIX sessions are
// there for the next honest user.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/console/console_client.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/fix_session_race.h"
#include "support/log_folder_figures.h"
#include "support/sanitizer_build.h"
#include "support/workstation_trader.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const int kAttackSeconds = 8;
const uint32_t kTraderUser = 2001;
const uint32_t kHostileUser = 3001;
const uint32_t kFixUser = 1001;
// MAX_TWS_CLIENTS of the test configuration, less the trader and the hostile user.
const uint32_t kFreeSlots = 8;
// How much the gateway's resident size may grow under the attacks (it runs in under
// 10 MB; a flood that it kept would take it past 100 MB within seconds). A sanitizer's
// shadow memory and quarantine grow with every allocation, so under one the bound is wider.
const long kMemoryGrowthKb = 48 * 1024 * (qel_test::k_under_sanitizer ? 8 : 1);

qel_sim::fix_client_fields fix_order(uint32_t id)
{
    return qel_sim::sample_new_order(std::to_string(id), qel_sim::utc_timestamp());
}

// A field of /proc/<pid>/status in kB, -1 when absent.
long status_kb(int pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Every log file of a gateway thread, one text.
std::string thread_logs(const qel_test::temp_dir &dir, const std::string &logger)
{
    std::string text;
    for (const std::string &name : dir.list("logs"))
        if (name.compare(0, logger.size(), logger) == 0)
            text += qel_test::read_file(dir.file("logs/" + name));
    return text;
}
} // namespace

TEST(HostilePeers, AttacksRepeatWhileTradersTradeAndEachAttackerIsCutOff)
{
    qel_test::reserved_port http_reservation; // held until the server binds it
    const uint16_t http_port = http_reservation.number();
    qel_test::fix_road road({kFixUser, kFixUser + 1}, qel_sim::box_options(), qel_sim::exchange_options(), {},
                            "HttpAcceptPort=" + std::to_string(http_port) + "\n");
    ASSERT_TRUE(road.listening);
    const uint16_t interactive = road.config.port("INTERFACE_INTERACTIVE_PORT_NUMBER");

    qel_sim::workstation_client trader_client;
    qel_sim::trader trader(trader_client, kTraderUser);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(trader_client, trader, road.workstation_port, kTimeoutMs));
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    qel_sim::hostile_workstation hostile(road.workstation_port, kHostileUser);
    ASSERT_TRUE(hostile.sign_on(kTimeoutMs));
    const long resident_before_kb = status_kb(road.gateway->pid(), "VmRSS");

    // The attacks run on their own threads while the two honest users trade.
    std::atomic<bool> stop{false};
    qel_sim::slot_holders holders;
    const uint32_t held = holders.open(road.workstation_port, kFreeSlots);
    const auto holders_connected = std::chrono::steady_clock::now();
    uint32_t hostile_rounds = 0, console_floods = 0, fix_floods = 0, fix_cut = 0, http_asked = 0,
             http_refused = 0;
    uint64_t fix_bytes_before_cut = 0;
    std::vector<std::thread> attackers;
    attackers.emplace_back(
        [&]
        {
            while (!stop && hostile.attack_round(90000 + hostile_rounds, kTimeoutMs))
                ++hostile_rounds;
        });
    attackers.emplace_back(
        [&]
        {
            while (!stop)
                console_floods += qel_sim::console_request_and_vanish(interactive, 2000) ? 1 : 0;
        });
    attackers.emplace_back(
        [&]
        {
            while (!stop)
            {
                qel_sim::fix_flood_result r = qel_sim::fix_flood(road.fix_port, 64u << 20, 5000);
                ++fix_floods;
                fix_cut += r.cut ? 1 : 0;
                fix_bytes_before_cut = std::max(fix_bytes_before_cut, r.bytes_sent);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    attackers.emplace_back(
        [&]
        {
            while (!stop)
            {
                ++http_asked;
                http_refused +=
                    qel_sim::http_status(http_port, "/disableSessions?confirm=1", 5000).find(" 403 ") !=
                            std::string::npos
                        ? 1
                        : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });

    uint32_t orders = 0, trader_answered = 0, fix_orders = 0;
    long peak_kb = 0;
    const auto attack_end = std::chrono::steady_clock::now() + std::chrono::seconds(kAttackSeconds);
    while (std::chrono::steady_clock::now() < attack_end)
    {
        qel_sim::trader_order order;
        ++orders;
        qel_sim::trader_reply reply = trader.enter(order, kTimeoutMs);
        trader_answered += reply.arrived && reply.transcode == 2073 ? 1 : 0;
        ASSERT_TRUE(fix->send_new_order_single(fix_order(++fix_orders)));
        EXPECT_TRUE(fix->wait_for_messages("8", fix_orders, kTimeoutMs)) << "FIX order " << fix_orders;
        peak_kb = std::max(peak_kb, status_kb(road.gateway->pid(), "VmRSS"));
    }
    stop = true;
    for (std::thread &t : attackers)
        t.join();

    // Every order of the honest users was answered, each exactly once.
    EXPECT_GT(orders, 10u);
    EXPECT_EQ(trader_answered, orders);
    EXPECT_EQ(fix->received().size() >= fix_orders, true);
    EXPECT_TRUE(fix->wait_for_messages("8", fix_orders, kTimeoutMs));
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);

    // The host saw one connection, one box sign-on, no relogon and no box record of a user.
    EXPECT_EQ(road.host->connections_accepted(), 1u);
    qel_sim::box_session_state box = road.box->state();
    EXPECT_EQ(box.sign_ons, 1u);
    EXPECT_EQ(box.relogons, 0u);
    EXPECT_TRUE(road.box->session_faults().empty());
    EXPECT_FALSE(road.box->user_signed_on(90000));

    // The hostile workstation was refused every time and kept its own session.
    const qel_sim::hostile_workstation_counts &counts = hostile.counts();
    EXPECT_GT(hostile_rounds, 0u);
    EXPECT_EQ(counts.already_signed_on_answers, counts.second_sign_ons_sent);
    EXPECT_EQ(counts.other_answers, 0u);
    EXPECT_TRUE(hostile.connected());
    const std::string user_log = thread_logs(road.dir, "user_session_thread");
    EXPECT_NE(user_log.find("Refused the message with transcode [23000] from user [3001]"),
              std::string::npos);
    EXPECT_NE(user_log.find("Refused the message with transcode [2300] from user [3001]"), std::string::npos);

    // Every flooding FIX connection was cut at once, with its line in the engine's log.
    EXPECT_GT(fix_floods, 0u);
    EXPECT_EQ(fix_cut, fix_floods);
    EXPECT_LT(fix_bytes_before_cut, 16u << 20);
    EXPECT_NE(qel_test::read_file(road.global_event_log())
                  .find("passes the largest message size, connection dropped"),
              std::string::npos);

    // The status page refused every change; the sessions still take logons.
    EXPECT_GT(http_asked, 0u);
    EXPECT_EQ(http_refused, http_asked);
    std::unique_ptr<qel_sim::fix_client> second = road.ready_client(kFixUser + 1, kTimeoutMs, &error);
    EXPECT_TRUE(second) << error;

    // The console that went away unread was dropped at its first failed reply; the next
    // console is served at once.
    EXPECT_GT(console_floods, 0u);
    EXPECT_NE(thread_logs(road.dir, "interface_thread").find("as it has reset or closed the connection"),
              std::string::npos);
    sim_console::console_client console;
    ASSERT_TRUE(qel_test::wait_until([&] { return console.connect(interactive); }, 2000));
    sim_console::packet version;
    ASSERT_EQ(console.receive(&version, 2000), sim_console::receive_result::packet);
    EXPECT_EQ(version.transcode(), sim_console::TC_VERSION_CHECK);
    ASSERT_TRUE(console.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    sim_console::packet header;
    ASSERT_EQ(console.receive(&header, 2000), sim_console::receive_result::packet);
    EXPECT_EQ(header.transcode(), sim_console::TC_USER_INFORMATION_HEADER);
    console.close();

    // The connections that held the free slots are closed 30 s after they came, and the
    // next trader gets a slot.
    EXPECT_EQ(held, kFreeSlots);
    const auto since = std::chrono::steady_clock::now() - holders_connected;
    const uint32_t waited_ms =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    EXPECT_EQ(holders.wait_closed(waited_ms < 40000 ? 40000 - waited_ms : 0), held);
    EXPECT_GE(std::chrono::steady_clock::now() - holders_connected, std::chrono::seconds(29));
    EXPECT_NE(thread_logs(road.dir, "tws_network_handler_thread").find("did not sign on within [30000] ms"),
              std::string::npos);
    qel_sim::workstation_client next_client;
    ASSERT_TRUE(next_client.connect("127.0.0.1", road.workstation_port));
    qel_sim::trader next(next_client, kTraderUser + 1);
    EXPECT_TRUE(next.sign_on(kTimeoutMs).arrived);

    // The gateway's memory stayed bounded, and the console heard of every refusal.
    peak_kb = std::max(peak_kb, status_kb(road.gateway->pid(), "VmHWM"));
    EXPECT_LT(peak_kb - resident_before_kb, kMemoryGrowthKb)
        << "resident before the attacks " << resident_before_kb << " kB";
    // The events travel through the session layer and the interface thread to the event
    // log, so they may still be on their way. The holders never signed on, so their events
    // are folded: one stands for itself, the others carry the count of those they fold.
    const uint32_t refusals = counts.host_link_records_sent + counts.second_sign_ons_sent;
    uint32_t refused_events = 0, slot_events = 0;
    qel_test::wait_until(
        [&]
        {
            refused_events = 0;
            slot_events = 0;
            for (const qel_test::console_event &event : qel_test::day_console_events(road.dir))
            {
                refused_events += event.reason == 11029 ? 1 : 0;
                if (event.reason == 11027 || event.reason == 11028)
                    slot_events += event.extra == -1 ? 1u : static_cast<uint32_t>(event.extra);
            }
            return refused_events >= refusals && slot_events >= held;
        },
        5000);
    EXPECT_EQ(refused_events, refusals);
    EXPECT_EQ(slot_events, held);

    fix->stop();
    second->stop();
    EXPECT_TRUE(trader.sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
    std::cout << "trader orders " << orders << ", FIX orders " << fix_orders << ", hostile rounds "
              << hostile_rounds << ", console floods " << console_floods << ", FIX floods " << fix_floods
              << ", status page requests " << http_asked << ", resident " << resident_before_kb
              << " kB before, " << peak_kb << " kB at the peak\n";
}
