// A logged-on FIX client whose reader hangs while its sender runs, against the running
// gateway: the gateway reads its orders only while it takes their answers, so what it
// holds for the client stays small and the rest of the orders wait in the kernel; the
// client is ended at a bound, with a line in the log and a console event naming the user
// (11012, too many responses pending), and the gateway's resident size stays within a few
// MB of where it was, while a FIX client and a trader at a workstation, on another address,
// are answered every order; a second Logon of its user meanwhile is closed unanswered. With
// a small MAX_CLIENT_PENDING_MESG_COUNT, a client that takes nothing of its journal is
// ended at that bound; with its store full, a client that reads nothing is read no more
// once it is logged out, and ended at the Logout's time-out.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_deaf_client.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/fix_session_race.h"
#include "support/full_log_folder.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"
#include "support/paced_requests.h"
#include "support/sanitizer_build.h"
#include "support/workstation_trader.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const uint32_t kDeafUser = 1002;
const uint32_t kTraderUser = 3001;
// What the client that stops reading is given to send; the gateway ends it well before.
const uint32_t kSendingMs = 60000;
// A sanitizer's shadow memory and quarantine grow with every allocation, and the gateway
// works several times slower under one: the orders it reads before its answers fill the
// connection (thousands, with the kernel's own buffer sizes) would take it most of a
// minute there, with the others' orders queued behind them at the host link. Under a
// sanitizer the resident size may grow more, and the connections' buffers are small.
const bool kSanitized = qel_test::k_under_sanitizer;
// A few MB: the gateway holds what the client's connection does not take, and no more.
const long long kResidentGrowthKb = (kSanitized ? 64 : 8) * 1024;
const char *const kSmallBuffers = "SocketSendBufferSize=16384\nSocketReceiveBufferSize=16384\n";

// The resident size of a process in kB, 0 when it is gone.
long long resident_kb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::strtoll(line.c_str() + 6, nullptr, 10);
    return 0;
}

// The client that stops reading, on another address than the traders.
qel_sim::fix_deaf_client_options deaf_options(const qel_test::fix_road &road, uint32_t user)
{
    return road.client_options<qel_sim::fix_deaf_client_options>(user, "127.0.0.2");
}

// The console events of a reason, for a user.
std::vector<qel_test::console_event> events_of(const qel_test::temp_dir &dir, uint16_t reason, uint32_t user)
{
    std::vector<qel_test::console_event> found;
    for (const qel_test::console_event &e : qel_test::day_console_events(dir))
        if (e.reason == reason && e.user == user)
            found.push_back(e);
    return found;
}
} // namespace

TEST(FixUnreadOutput, AClientThatSendsWithoutReadingIsEndedAtABoundWhileOthersTrade)
{
    qel_test::fix_road road({kFixUser, kDeafUser}, qel_sim::box_options(), qel_sim::exchange_options(), {},
                            kSanitized ? kSmallBuffers : "");
    ASSERT_TRUE(road.listening);
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, kTraderUser);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(workstation, trader, road.workstation_port, kTimeoutMs));
    qel_sim::fix_deaf_client deaf(deaf_options(road, kDeafUser));
    ASSERT_TRUE(deaf.log_on(&error)) << error;

    // The others trade at a steady pace all along.
    qel_test::paced_requests fix_orders(qel_test::paced_order(*fix, kTimeoutMs), 50);
    qel_test::paced_requests trader_orders(qel_test::paced_trader_order(trader, kTimeoutMs), 50);

    // Meanwhile the user's second Logon is closed unanswered: the session is still there.
    std::string second_logon;
    std::thread second(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::seconds(10));
            qel_sim::fix_deaf_client again(deaf_options(road, kDeafUser));
            if (again.log_on(&second_logon))
                second_logon = "logged on";
        });
    const long long start_kb = resident_kb(road.gateway->pid());
    const qel_sim::fix_deaf_client_outcome outcome = deaf.send_without_reading(kSendingMs);
    const long long end_kb = resident_kb(road.gateway->pid());
    second.join();
    EXPECT_EQ(second_logon, "the gateway closed the connection");
    std::printf(
        "the client that reads nothing: %llu orders taken, ended %s after %.1f s; resident size %lld kB, "
        "then %lld kB\n",
        static_cast<unsigned long long>(outcome.orders_sent),
        outcome.ended_by_gateway ? "by the gateway" : "", outcome.ended_after_seconds, start_kb, end_kb);
    EXPECT_TRUE(outcome.ended_by_gateway);
    EXPECT_LE(end_kb - start_kb, kResidentGrowthKb);

    // Its end is told: a line in the log that says it took nothing for 30 s, and the
    // console event of too many responses pending, naming the user, with those 30 s as its
    // extra info (the console's one text for it speaks of the other bound).
    EXPECT_TRUE(
        qel_test::wait_until([&] { return events_of(road.dir, 11012, kDeafUser).size() == 1; }, kTimeoutMs));
    const std::vector<qel_test::console_event> ended = events_of(road.dir, 11012, kDeafUser);
    EXPECT_EQ(30, ended.empty() ? 0 : ended[0].extra);
    size_t told = 0;
    for (const qel_test::gateway_log_line &line :
         qel_test::gateway_log_lines(road.dir.file("logs"), "fix_network_handler_recv_thread"))
        told +=
            line.text.find("Disconnecting the client of session id [FIX.4.2:QEL->1002,MEMBR,1]") == 0 &&
                    line.text.find("as its output is held: [Nothing sent taken by the peer for 30 seconds") !=
                        std::string::npos
                ? 1
                : 0;
    EXPECT_EQ(1u, told);

    // The others were answered every order, and still are.
    fix_orders.stop();
    trader_orders.stop();
    std::printf("meanwhile: FIX client %u of %u orders answered, slowest %.0f ms; trader %u of %u, slowest "
                "%.0f ms\n",
                fix_orders.answered(), fix_orders.sent(), fix_orders.slowest_ms(), trader_orders.answered(),
                trader_orders.sent(), trader_orders.slowest_ms());
    EXPECT_GT(fix_orders.sent(), 0u);
    EXPECT_EQ(fix_orders.sent(), fix_orders.answered());
    EXPECT_GT(trader_orders.sent(), 0u);
    EXPECT_EQ(trader_orders.sent(), trader_orders.answered());
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);

    // The user may log on again.
    qel_sim::fix_deaf_client again(deaf_options(road, kDeafUser));
    EXPECT_TRUE(again.log_on(&error)) << error;
    again.close();

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

// The FIX store's disk fills under a client that sends orders and reads nothing: the first
// report the store cannot take logs the session out with a Logout that says why, and from
// then on the gateway reads nothing more of the client, so it takes no more of its orders
// however fast they come, and ends the session when the Logout times out. Its logs grow
// by little meanwhile, and a trader at a workstation trades all along.
TEST(FixUnreadOutput, AClientThatSendsWithoutReadingIsEndedSoonAfterTheStoreFills)
{
    const uint32_t kSendingBoundMs = 35000;
    qel_test::fix_road road({kDeafUser}, qel_sim::box_options(), qel_sim::exchange_options(), {}, "", false);
    const std::string store = road.dir.file("fix_store");
    ASSERT_EQ(mkdir(store.c_str(), 0700), 0);
    qel_test::full_log_folder disk(store, "4m");
    road.start();
    ASSERT_TRUE(road.listening);
    std::string error;
    qel_sim::workstation_client workstation;
    qel_sim::trader trader(workstation, kTraderUser);
    ASSERT_TRUE(qel_test::sign_on_at_workstation(workstation, trader, road.workstation_port, kTimeoutMs));
    qel_sim::fix_deaf_client deaf(deaf_options(road, kDeafUser));
    ASSERT_TRUE(deaf.log_on(&error)) << error;
    qel_test::paced_requests trader_orders(qel_test::paced_trader_order(trader, kTimeoutMs), 50);

    const std::string session = "FIX.4.2-QEL-" + road.session_of(kDeafUser);
    struct stat body;
    ASSERT_EQ(stat((store + "/" + session + ".body").c_str(), &body), 0);
    const std::map<std::string, long> before = qel_test::log_folder_sizes(road.dir);
    const long said_before = static_cast<long>(road.dir.read("qel_text_log_default.txt").size());
    ASSERT_TRUE(disk.fill(road.gateway->pid(), &error, static_cast<rlim_t>(body.st_size))) << error;
    const qel_sim::fix_deaf_client_outcome outcome = deaf.send_without_reading(kSendingBoundMs);
    const std::map<std::string, long> after = qel_test::log_folder_sizes(road.dir);
    const long said_after = static_cast<long>(road.dir.read("qel_text_log_default.txt").size());
    trader_orders.stop();

    // The orders the gateway read are those its message log holds.
    size_t taken = 0;
    std::string events;
    for (const std::string &name : road.dir.list("logs"))
    {
        if (name.compare(0, session.size() + 10, session + ".messages.") == 0)
            taken += qel_test::count_of(road.dir.read("logs/" + name), "\x01"
                                                                       "35=D\x01");
        if (name.compare(0, session.size() + 7, session + ".event.") == 0)
            events += road.dir.read("logs/" + name);
    }
    std::string by_file;
    const long grown = qel_test::log_folder_growth(before, after, &by_file) + (said_after - said_before);
    std::printf("the client that reads nothing, its store full: %llu orders sent, %zu taken, ended %s after "
                "%.1f s; logs grew %ld bytes:%s, standard error %ld\n",
                static_cast<unsigned long long>(outcome.orders_sent), taken,
                outcome.ended_by_gateway ? "by the gateway" : "not", outcome.ended_after_seconds, grown,
                by_file.c_str(), said_after - said_before);
    EXPECT_TRUE(outcome.ended_by_gateway);
    EXPECT_LE(taken, 5000u) << "a few thousand at most";
    EXPECT_LE(grown, 10L * 1024 * 1024);
    EXPECT_NE(events.find("Message not stored, logging out"), std::string::npos) << events;
    EXPECT_NE(events.find("Timed out waiting for logout response"), std::string::npos) << events;
    EXPECT_TRUE(
        qel_test::wait_until([&] { return events_of(road.dir, 13004, kDeafUser).size() == 1; }, kTimeoutMs));
    EXPECT_GT(trader_orders.sent(), 0u);
    EXPECT_EQ(trader_orders.sent(), trader_orders.answered()) << "the trader traded all along";

    deaf.close();
    ASSERT_TRUE(disk.free_space(road.gateway->pid(), &error)) << error;
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

// The user's journal holds far more orders than MAX_CLIENT_PENDING_MESG_COUNT, and the
// client asks for it and reads nothing: the gateway's replay passes the bound and the client
// is ended at it. The gateway's end of each connection holds little (SocketSendBufferSize),
// so the replay waits in the gateway rather than in the kernel.
TEST(FixUnreadOutput, AClientThatTakesNothingOfItsJournalIsEndedAtThePendingBound)
{
    const uint32_t kOrders = 1000;
    qel_test::fix_road road({kDeafUser}, qel_sim::box_options(), qel_sim::exchange_options(),
                            {{"MAX_CLIENT_PENDING_MESG_COUNT", "20"}, {"SYSTEM_LOGGING_LEVEL", "EVENT"}},
                            "SocketSendBufferSize=4096\n");
    ASSERT_TRUE(road.listening);
    {
        // The user's orders, entered at a workstation, rest in the exchange's book.
        qel_sim::workstation_client workstation;
        qel_sim::trader trader(workstation, kDeafUser);
        ASSERT_TRUE(qel_test::sign_on_at_workstation(workstation, trader, road.workstation_port, kTimeoutMs));
        for (uint32_t i = 0; i < kOrders; ++i)
        {
            qel_sim::trader_order order;
            ASSERT_TRUE(trader.enter(order, kTimeoutMs).arrived) << "order " << i;
        }
        ASSERT_TRUE(trader.sign_off(kTimeoutMs).arrived);
    }

    std::string error;
    qel_sim::fix_deaf_client deaf(deaf_options(road, kDeafUser));
    ASSERT_TRUE(deaf.log_on(&error, false)) << error;
    EXPECT_TRUE(
        qel_test::wait_until([&] { return events_of(road.dir, 11012, kDeafUser).size() == 1; }, kTimeoutMs));
    // The bound the console's text names: no extra info.
    const std::vector<qel_test::console_event> ended = events_of(road.dir, 11012, kDeafUser);
    EXPECT_EQ(-1, ended.empty() ? 0 : ended[0].extra);
    size_t told = 0;
    for (const qel_test::gateway_log_line &line :
         qel_test::gateway_log_lines(road.dir.file("logs"), "fix_network_handler_recv_thread"))
        told += line.text.find("as its output is held: [More than 20 messages unsent to the peer]") !=
                        std::string::npos
                    ? 1
                    : 0;
    EXPECT_EQ(1u, told);
    deaf.close();

    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}
