// Connections to the FIX port that never log on, against the running gateway: hundreds
// that send nothing and some that send half a Logon and then nothing. The oldest past the
// engine's bound are cut at once, the rest when the logon time-out (10 s, the gateway's
// FIX settings name none) is over, each with its line in the engine's log, written or
// counted, while a FIX client logs on and trades beside them; the gateway then stops as
// usual. A flood of silent connects from one address does not push out a client from
// another address whose Logon comes 100 ms after its connect, and adds a few kB a second
// to the logs and no console event.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"
#include "sim/hostile/hostile_peers.h"
#include "support/fix_event_log.h"
#include "support/fix_road.h"
#include "support/fix_session_race.h"
#include "support/log_folder_figures.h"
#include "support/paced_requests.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
const size_t kSilent = 900;
const size_t kHalfMessage = 50;
const char kSoh = '\x01';

// A FIX client on 127.0.0.2 that sends its Logon as `user` 100 ms after its connect;
// whether it logged on (a failure says how it ended).
bool late_logon(const qel_test::fix_road &road, uint32_t user)
{
    qel_sim::fix_late_logon_options options =
        road.client_options<qel_sim::fix_late_logon_options>(user, "127.0.0.2");
    options.pause_ms = 100;
    options.timeout_ms = kTimeoutMs;
    std::string logout_text;
    const qel_sim::fix_late_logon_outcome outcome = qel_sim::fix_late_logon(options, &logout_text);
    EXPECT_EQ(qel_sim::fix_late_logon_outcome::logged_on, outcome)
        << "user " << user << ": " << qel_sim::fix_late_logon_outcome_name(outcome) << " " << logout_text;
    return outcome == qel_sim::fix_late_logon_outcome::logged_on;
}

} // namespace

TEST(FixIdleConnections, ConnectionsWithoutALogonAreCutWhileAClientTrades)
{
    qel_test::fix_road road({kFixUser});
    ASSERT_TRUE(road.listening);

    std::vector<std::unique_ptr<qel_sim::raw_peer>> idle;
    for (size_t i = 0; i < kSilent + kHalfMessage; ++i)
    {
        std::unique_ptr<qel_sim::raw_peer> peer(new qel_sim::raw_peer);
        ASSERT_TRUE(peer->connect(road.fix_port)) << "connection " << i;
        idle.push_back(std::move(peer));
    }
    // The last ones send the start of a Logon, which never ends.
    const std::string half = std::string("8=FIX.4.2") + kSoh + "9=80" + kSoh + "35=A" + kSoh + "49=1001,MEM";
    for (size_t i = kSilent; i < idle.size(); ++i)
        EXPECT_TRUE(idle[i]->send_all(half, kTimeoutMs)) << "connection " << i;

    // A client logs on and trades while they are held.
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;
    const uint32_t kOrders = 5;
    for (uint32_t id = 1; id <= kOrders; ++id)
    {
        ASSERT_TRUE(fix->send_new_order_single(
            qel_sim::sample_new_order(std::to_string(id), qel_sim::utc_timestamp())));
        EXPECT_TRUE(fix->wait_for_messages("8", id, kTimeoutMs)) << "FIX order " << id;
    }

    // Every connection without a Logon is closed: the oldest by the bound, the rest by the
    // time-out.
    // One deadline for all, well past the time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    size_t closed = 0;
    for (size_t i = 0; i < idle.size(); ++i)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        closed += idle[i]->wait_closed(left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0) ? 1 : 0;
    }
    EXPECT_EQ(idle.size(), closed);
    // Each one's acceptance and its drop are in the engine's log, written or, as they come
    // together, counted; so is the client's acceptance and that of the gateway's start-up
    // check of its port. The last count goes out a second after the one before it.
    const std::string events_file = road.global_event_log();
    EXPECT_TRUE(qel_test::wait_until(
        [&] {
            return qel_test::fix_log_lines_without_logon(qel_test::read_file(events_file)) ==
                   2 * idle.size() + 2;
        },
        kTimeoutMs))
        << qel_test::read_file(events_file);

    // The client traded on, undisturbed, and still does.
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);
    ASSERT_TRUE(fix->send_new_order_single(
        qel_sim::sample_new_order(std::to_string(kOrders + 1), qel_sim::utc_timestamp())));
    EXPECT_TRUE(fix->wait_for_messages("8", kOrders + 1, kTimeoutMs));

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

// Four threads connect silently from 127.0.0.1, thousands of times a second, while a
// FIX client trades; a client on 127.0.0.2 that sends its Logon 100 ms after each connect
// (a new user each time) logs on every time.
TEST(FixIdleConnections, ALateLogonFromAnotherAddressGetsInBesideASilentConnectFlood)
{
    const uint32_t kLateUsers = 10;
    std::vector<uint32_t> users = {kFixUser};
    for (uint32_t i = 1; i <= kLateUsers; ++i)
        users.push_back(2000 + i);
    qel_test::fix_road road(users);
    ASSERT_TRUE(road.listening);
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;

    // The trading client sends an order every 20 ms or so.
    qel_test::paced_requests trading(qel_test::paced_order(*fix, kTimeoutMs), 20);

    // Four threads, as fast as the acceptor takes their connections in.
    qel_sim::silent_connect_flood flood;
    const auto flood_began = std::chrono::steady_clock::now();
    flood.start("127.0.0.1", road.fix_port, 4, 0);
    EXPECT_TRUE(qel_test::wait_until([&] { return flood.connects() >= 1000; }, kTimeoutMs));

    uint32_t logged_on = 0;
    for (uint32_t i = 1; i <= kLateUsers; ++i)
    {
        logged_on += late_logon(road, 2000 + i) ? 1 : 0;
    }
    flood.stop();
    const auto flood_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - flood_began)
            .count();
    std::printf("late Logons: %u of %u logged on, beside %llu silent connects in %lld ms\n", logged_on,
                kLateUsers, static_cast<unsigned long long>(flood.connects()),
                static_cast<long long>(flood_ms));

    // The trading client was answered every order.
    trading.stop();
    EXPECT_GT(trading.sent(), 0u);
    EXPECT_EQ(trading.sent(), trading.answered());
    const size_t reports = qel_test::of_type(*fix, "8").size();
    std::printf("trading client: %u orders, %zu execution reports, %zu refused\n", trading.sent(), reports,
                qel_test::of_type(*fix, "j").size());
    EXPECT_GT(reports, 0u);
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

// Four threads connect silently from 127.0.0.1 beside a FIX client that trades, at the
// shipped logging level: what the flood adds to the log folder is a few kB a second however
// fast it connects (the trading client's share is measured in a quiet phase first and taken
// off), it raises no more than a few console events a second, and beside it a client on
// 127.0.0.2 whose Logon comes 100 ms after its connect logs on every time.
TEST(FixIdleConnections, ASilentConnectFloodAddsLittleToTheLogsAndTheConsole)
{
    const int kPhaseSeconds = 6;
    const int kOrderPauseMs = 100;
    const long kLogBytesPerSecond = 8 * 1024;
    const size_t kEventsPerSecond = 4;
    const uint32_t kLateUsers = 5;
    std::vector<uint32_t> users = {kFixUser};
    for (uint32_t i = 1; i <= kLateUsers; ++i)
        users.push_back(2000 + i);
    qel_test::fix_road road(users, qel_sim::box_options(), qel_sim::exchange_options(),
                            {{"SYSTEM_LOGGING_LEVEL", "EVENT"}});
    ASSERT_TRUE(road.listening);
    std::string error;
    std::unique_ptr<qel_sim::fix_client> fix = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(fix) << error;

    // Orders at a steady pace.
    qel_test::paced_requests trading(qel_test::paced_order(*fix, kTimeoutMs), kOrderPauseMs);

    struct phase
    {
        uint32_t orders = 0;
        long log_bytes = 0;
        std::string by_file;
        size_t events = 0;
        double seconds = 0;
    };
    // A phase begins with `begin` (when given), once the figures before it are taken.
    auto measure = [&](phase *p, const std::function<void()> &begin)
    {
        const std::map<std::string, long> sizes = qel_test::log_folder_sizes(road.dir);
        const size_t events = qel_test::day_console_events(road.dir).size();
        const uint32_t orders = trading.answered();
        const auto began = std::chrono::steady_clock::now();
        if (begin)
            begin();
        std::this_thread::sleep_for(std::chrono::seconds(kPhaseSeconds));
        p->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        p->orders = trading.answered() - orders;
        p->log_bytes = qel_test::log_folder_growth(sizes, qel_test::log_folder_sizes(road.dir), &p->by_file);
        p->events = qel_test::day_console_events(road.dir).size() - events;
    };
    phase quiet;
    measure(&quiet, nullptr);

    qel_sim::silent_connect_flood flood;
    phase attack;
    measure(&attack, [&] { flood.start("127.0.0.1", road.fix_port, 4, 0); });
    const uint64_t connects = flood.connects();
    const double per_order = quiet.orders > 0 ? static_cast<double>(quiet.log_bytes) / quiet.orders : 0;
    const long added = attack.log_bytes - static_cast<long>(per_order * attack.orders);
    std::printf("silent connects: %llu in %.1f s (%.0f a second); %zu console events (%.1f a second); "
                "%ld bytes of log added (%.0f a second); trading client %u orders answered (quiet %u)\n"
                "  quiet:%s\n  flood:%s\n",
                static_cast<unsigned long long>(connects), attack.seconds, connects / attack.seconds,
                attack.events, attack.events / attack.seconds, added, added / attack.seconds, attack.orders,
                quiet.orders, quiet.by_file.c_str(), attack.by_file.c_str());
    EXPECT_GT(connects, 1000u);
    EXPECT_GT(attack.orders, 0u);
    EXPECT_LE(added, static_cast<long>(kLogBytesPerSecond * attack.seconds));
    EXPECT_LE(attack.events, static_cast<size_t>(kEventsPerSecond * attack.seconds));

    // The flood goes on: a client whose Logon is late logs on beside it every time.
    for (uint32_t i = 1; i <= kLateUsers; ++i)
    {
        late_logon(road, 2000 + i);
    }
    flood.stop();

    // The trading client was answered every order and trades on.
    trading.stop();
    EXPECT_EQ(trading.sent(), trading.answered());
    EXPECT_EQ(fix->state(), qel_sim::fix_client_state::ready);
    const uint32_t next = trading.sent() + 1;
    ASSERT_TRUE(fix->send_new_order_single(
        qel_sim::sample_new_order(std::to_string(next), qel_sim::utc_timestamp())));
    EXPECT_TRUE(qel_test::wait_until([&] { return qel_test::order_answers(*fix) >= next; }, kTimeoutMs));

    fix->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}
