// The FIX engine's lines about connections before their Logon, in the running gateway's
// global event log: twelve FIX clients on 127.0.0.2 logging on together, beside a flood of
// silent connects from 127.0.0.1, leave the line of every acceptance (they are held until
// the Logon and then written, never folded with the flood's); and connections that ended
// without a Logon just before the gateway stops are all written or counted, the count
// written at the stop though not yet due.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/hostile/hostile_peers.h"
#include "support/fix_event_log.h"
#include "support/fix_road.h"
#include "support/fix_session_race.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFixUser = 1001;
} // namespace

TEST(FixLogonLines, TwelveClientsLoggingOnTogetherBesideAFloodLeaveTwelveAcceptanceLines)
{
    const uint32_t kClients = 12;
    std::vector<uint32_t> users = {kFixUser};
    for (uint32_t i = 1; i <= kClients; ++i)
        users.push_back(5000 + i);
    qel_sim::box_options box;
    box.max_users = 16;
    qel_test::fix_road road(users, box, qel_sim::exchange_options(), {{"MAX_TWS_CLIENTS", "16"}});
    ASSERT_TRUE(road.listening);
    // The box is up before they come, as at any time of the day but its start.
    std::string error;
    std::unique_ptr<qel_sim::fix_client> first = road.ready_client(kFixUser, kTimeoutMs, &error);
    ASSERT_TRUE(first) << error;

    qel_sim::silent_connect_flood flood;
    flood.start("127.0.0.1", road.fix_port, 4, 0);
    ASSERT_TRUE(qel_test::wait_until([&] { return flood.connects() >= 1000; }, kTimeoutMs));
    std::vector<std::unique_ptr<qel_sim::fix_client>> clients;
    const uint32_t logged_on =
        road.log_on_together({users.begin() + 1, users.end()}, "127.0.0.2", kTimeoutMs, &clients);
    flood.stop();
    EXPECT_EQ(kClients, logged_on);

    const std::string events = qel_test::read_file(road.global_event_log());
    EXPECT_EQ(kClients, qel_test::count_of(events, " : Accepted connection from 127.0.0.2 ")) << events;
    EXPECT_EQ(0u, qel_test::fix_log_lines_left_out(events, "127.0.0.2")) << events;

    // Each logs out and waits for the answer: all at once.
    std::vector<std::thread> threads;
    for (auto &c : clients)
        threads.emplace_back([&c] { c->stop(); });
    for (std::thread &t : threads)
        t.join();
    first->stop();
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
}

TEST(FixLogonLines, ConnectionsThatEndedJustBeforeTheStopAreAllWrittenOrCounted)
{
    const size_t kClosed = 30;
    qel_test::fix_road road({kFixUser});
    ASSERT_TRUE(road.listening);
    for (size_t i = 0; i < kClosed; ++i)
    {
        qel_sim::raw_peer peer;
        ASSERT_TRUE(peer.connect(road.fix_port, "127.0.0.3")) << "connection " << i;
    }
    // A client that logs on after them marks that the engine has taken them all in (it
    // takes connections in the order they came).
    std::string error;
    std::unique_ptr<qel_sim::fix_client> marker = road.client(kFixUser, &error);
    ASSERT_TRUE(marker) << error;
    ASSERT_TRUE(marker->wait_for_state(qel_sim::fix_client_state::logged_on, kTimeoutMs));
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    marker->stop();

    // Theirs, the client's, and the gateway's own check of its port at the start.
    const std::string events = qel_test::read_file(road.global_event_log());
    EXPECT_EQ(kClosed + 2, qel_test::fix_log_lines_without_logon(events)) << events;
    EXPECT_GT(qel_test::fix_log_lines_left_out(events, "127.0.0.3"), 0u) << events;
}
