// The workstation port of a running gateway when its slots are all taken: connections that
// hold a slot without signing on make room for a trader, a signed-on trader never does,
// and a burst of refused connects reaches the console as a handful of events that count
// them instead of one event each.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint16_t kMaxConnectionsReason = 11013;

// Every log file of a gateway thread, one text.
std::string thread_logs(const qel_test::temp_dir &dir, const std::string &logger)
{
    std::string text;
    for (const std::string &name : dir.list("logs"))
        if (name.compare(0, logger.size(), logger) == 0)
            text += qel_test::read_file(dir.file("logs/" + name));
    return text;
}

size_t occurrences(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// The extra infos of the console events with `reason` in the day's event log (42-byte
// events after the 2-byte day; reason at 36 and extra info at 38, little-endian).
std::vector<int32_t> console_events(const qel_test::temp_dir &dir, uint16_t reason)
{
    std::string file = qel_test::read_file(dir.file("logs/kova_event_log.dat"));
    std::vector<int32_t> extra;
    for (size_t at = 2; at + 42 <= file.size(); at += 42)
    {
        const uint8_t *e = reinterpret_cast<const uint8_t *>(file.data() + at);
        if ((e[36] | (e[37] << 8)) == reason)
            extra.push_back(static_cast<int32_t>(e[38] | (e[39] << 8) | (e[40] << 16) |
                                                 (static_cast<uint32_t>(e[41]) << 24)));
    }
    return extra;
}

// A box whose host allows as many users as the gateway has slots.
qel_sim::box_options box_of(int16_t users)
{
    qel_sim::box_options options;
    options.max_users = users;
    return options;
}

struct signed_on_trader
{
    qel_sim::workstation_client client;
    std::unique_ptr<qel_sim::trader> trader;

    bool sign_on(uint16_t port, uint32_t user)
    {
        if (!client.connect("127.0.0.1", port))
            return false;
        trader.reset(new qel_sim::trader(client, user));
        return trader->sign_on(kTimeoutMs).arrived && trader->system_information(kTimeoutMs).arrived;
    }
};
} // namespace

TEST(WorkstationSlots, HoldersOfEverySlotMakeRoomForATraderButSignedOnTradersKeepTheirs)
{
    qel_test::fix_road road({1001}, box_of(4), qel_sim::exchange_options(), {{"MAX_TWS_CLIENTS", "4"}});
    ASSERT_TRUE(road.listening);
    signed_on_trader first;
    ASSERT_TRUE(qel_test::wait_until([&] { return first.client.connect("127.0.0.1", road.workstation_port); },
                                     10000));
    first.trader.reset(new qel_sim::trader(first.client, 2001));
    ASSERT_TRUE(first.trader->sign_on(kTimeoutMs).arrived);

    // Three connections take the other slots and send one byte of a frame, no sign-on.
    qel_sim::slot_holders holders;
    ASSERT_EQ(holders.open(road.workstation_port, 3), 3u);
    const auto held_since = std::chrono::steady_clock::now();
    ASSERT_TRUE(qel_test::wait_until(
        [&] {
            return occurrences(thread_logs(road.dir, "tws_network_handler_thread"),
                               "Added new network handle") >= 4;
        },
        kTimeoutMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // past the holders' grace

    // A trader still signs on, in far less than the time after which idle holders are cut.
    signed_on_trader second;
    ASSERT_TRUE(second.sign_on(road.workstation_port, 2002));
    EXPECT_LT(std::chrono::steady_clock::now() - held_since, std::chrono::seconds(20));
    const std::string log = thread_logs(road.dir, "tws_network_handler_thread");
    EXPECT_EQ(occurrences(log, "to a new connection, as it has not signed on"), 1u);

    // More connects take the remaining holders' slots, never a signed-on trader's.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    std::vector<std::unique_ptr<qel_sim::raw_peer>> newcomers;
    for (int i = 0; i < 6; ++i)
    {
        newcomers.emplace_back(new qel_sim::raw_peer);
        newcomers.back()->connect(road.workstation_port);
    }
    EXPECT_EQ(holders.wait_closed(kTimeoutMs), 3u);
    EXPECT_EQ(occurrences(thread_logs(road.dir, "tws_network_handler_thread"),
                          "to a new connection, as it has not signed on"),
              3u);
    EXPECT_TRUE(first.trader->system_information(kTimeoutMs).arrived);
    EXPECT_TRUE(second.trader->system_information(kTimeoutMs).arrived);
    EXPECT_FALSE(first.client.peer_closed());
    EXPECT_FALSE(second.client.peer_closed());

    EXPECT_TRUE(first.trader->sign_off(kTimeoutMs).arrived);
    EXPECT_TRUE(second.trader->sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

TEST(WorkstationSlots, ABurstOfRefusedConnectsReachesTheConsoleOnceASecondWithItsCount)
{
    qel_test::fix_road road({1001}, box_of(2), qel_sim::exchange_options(), {{"MAX_TWS_CLIENTS", "2"}});
    ASSERT_TRUE(road.listening);
    signed_on_trader first, second;
    ASSERT_TRUE(qel_test::wait_until([&] { return first.sign_on(road.workstation_port, 2001); }, 10000));
    ASSERT_TRUE(second.sign_on(road.workstation_port, 2002));

    const auto burst_start = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i)
    {
        qel_sim::raw_peer peer;
        if (peer.connect(road.workstation_port))
            peer.wait_closed(2000);
    }
    const double burst_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - burst_start).count();

    // Every refusal is counted once: the first by its own event, the rest in the extra info
    // of the events that fold them, the last of which comes a second after the burst.
    size_t refused = 0;
    std::vector<int32_t> events;
    auto counted = [&]
    {
        int64_t total = 0;
        for (int32_t extra : events)
            total += extra == -1 ? 1 : extra;
        return total;
    };
    qel_test::wait_until(
        [&]
        {
            refused = occurrences(thread_logs(road.dir, "tws_network_handler_thread"),
                                  "as max connections [2] was exceeded");
            events = console_events(road.dir, kMaxConnectionsReason);
            return refused > 0 && counted() == static_cast<int64_t>(refused);
        },
        5000);
    EXPECT_GT(refused, 100u);
    EXPECT_EQ(counted(), static_cast<int64_t>(refused));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), -1);
    EXPECT_LE(events.size(), static_cast<size_t>(burst_seconds) + 3) << "burst of " << burst_seconds << " s";

    EXPECT_TRUE(first.trader->sign_off(kTimeoutMs).arrived);
    EXPECT_TRUE(second.trader->sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}
