// The workstation port of a running gateway when its slots are all taken: connections that
// hold a slot without signing on make room for a trader, a signed-on trader never does,
// and a burst of refused connects reaches the console as a handful of events that count
// them instead of one event each. Against reconnecting holders that want more slots than
// there are, a trader on another address gets in every time, and so does one whose
// sign-on arrives in two parts; and so it does when the holders are spread over 2, 10 or
// 60 addresses and connect again a tenth of a second after they are dropped, whether they
// send a byte or nothing. And so it does beside sixty silent holders that take the next
// address of a pool of 200, 1,000 or 10,000 for every connection, so that the gateway
// meets thousands of addresses it has never seen: the newcomer from its office's address,
// where a trader is signed on, and from an address that never signed on. Traders connect
// from 127.0.0.2, the holders from 127.0.0.1 (or from 127.1.0.1 on when spread).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/log_folder_figures.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint16_t kMaxConnectionsReason = 11013;
const uint16_t kNoSignOnInTimeReason = 11027;
const char *const kTraderAddress = "127.0.0.2";

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

// How many happenings the console events of `reason` stand for: one each, or the count a
// folded one carries.
int64_t counted(const std::vector<int32_t> &events)
{
    int64_t total = 0;
    for (int32_t extra : events)
        total += extra == -1 ? 1 : extra;
    return total;
}

// Waits until the console events of `reason` stand for `expected` happenings (the folded
// counts go out a second after the last); what they stand for then.
int64_t counted_when(const qel_test::temp_dir &dir, uint16_t reason, int64_t expected)
{
    int64_t total = 0;
    qel_test::wait_until(
        [&]
        {
            total = counted(console_events(dir, reason));
            return total >= expected;
        },
        5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // nothing more comes
    return counted(console_events(dir, reason));
}

// Silent connections from an address: each connects, is invited or refused, and sends nothing.
struct silent_peers
{
    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;

    uint32_t open(uint16_t port, const char *from, uint32_t count)
    {
        uint32_t opened = 0;
        for (uint32_t i = 0; i < count; ++i)
        {
            clients.emplace_back(new qel_sim::workstation_client);
            opened += clients.back()->connect("127.0.0.1", port, from) ? 1 : 0;
        }
        return opened;
    }

    // Waits until each is invited or closed; how many were invited.
    uint32_t invited(uint32_t timeout_ms)
    {
        uint32_t count = 0;
        for (auto &client : clients)
            count += client->wait_for_invitation(timeout_ms) ? 1 : 0;
        return count;
    }

    // How many the gateway has closed by now (waiting up to the time for each still open).
    uint32_t closed(uint32_t timeout_ms)
    {
        uint32_t count = 0;
        for (auto &client : clients)
            count += client->peer_closed() || client->wait_for_close(timeout_ms) ? 1 : 0;
        return count;
    }
};

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
        if (!client.connect("127.0.0.1", port, kTraderAddress))
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
    ASSERT_TRUE(qel_test::wait_until([&] { return first.sign_on(road.workstation_port, 2001); }, 10000));

    // Three connections from 127.0.0.1 take the other slots and send nothing.
    silent_peers holders;
    ASSERT_EQ(holders.open(road.workstation_port, "127.0.0.1", 3), 3u);
    ASSERT_EQ(holders.invited(kTimeoutMs), 3u);
    const auto held_since = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // past the holders' grace

    // A trader still signs on, in far less than the time after which idle holders are cut;
    // the holder that gave its slot is counted as one that did not sign on in time, not
    // as a refused connection.
    signed_on_trader second;
    ASSERT_TRUE(second.sign_on(road.workstation_port, 2002));
    EXPECT_LT(std::chrono::steady_clock::now() - held_since, std::chrono::seconds(20));
    EXPECT_EQ(counted_when(road.dir, kNoSignOnInTimeReason, 1), 1);
    EXPECT_EQ(counted(console_events(road.dir, kMaxConnectionsReason)), 0);

    // More connects: from the holders' own address they take no slot of it; from another
    // address one takes a slot of the address that holds more, and then that address holds
    // no more than the newcomers'. A signed-on trader's slot is never taken.
    silent_peers same_address, other_address;
    same_address.open(road.workstation_port, "127.0.0.1", 3);
    EXPECT_EQ(same_address.closed(kTimeoutMs), 3u);
    other_address.open(road.workstation_port, "127.0.0.3", 3);
    EXPECT_EQ(other_address.invited(kTimeoutMs), 1u);
    EXPECT_EQ(holders.closed(2000), 2u);
    EXPECT_EQ(counted_when(road.dir, kNoSignOnInTimeReason, 2), 2);
    EXPECT_EQ(counted_when(road.dir, kMaxConnectionsReason, 5), 5);
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
    int64_t refused = 0;
    for (int i = 0; i < 300; ++i)
    {
        qel_sim::raw_peer peer;
        if (peer.connect(road.workstation_port))
            refused += peer.wait_closed(2000) ? 1 : 0;
    }
    const double burst_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - burst_start).count();

    // Every refusal is counted once: the first by its own event, the rest in the extra info
    // of the events that fold them, the last of which comes a second after the burst.
    EXPECT_GT(refused, 100);
    EXPECT_EQ(counted_when(road.dir, kMaxConnectionsReason, refused), refused);
    std::vector<int32_t> events = console_events(road.dir, kMaxConnectionsReason);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), -1);
    EXPECT_LE(events.size(), static_cast<size_t>(burst_seconds) + 3) << "burst of " << burst_seconds << " s";

    EXPECT_TRUE(first.trader->sign_off(kTimeoutMs).arrived);
    EXPECT_TRUE(second.trader->sign_off(kTimeoutMs).arrived);
    qel_test::process_result result = road.stop();
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
}

namespace
{
// Reconnecting holders beside a trader: the gateway's slots, and where the holders come
// from and what they send.
struct holders_setup
{
    uint32_t slots = 10;
    uint32_t holders = 0;            // 0: five more than the free slots
    uint32_t addresses = 1;          // 1: every holder from 127.0.0.1; more: from 127.1.0.1 on
    bool rotate = false;             // each connection from the next address of the pool
    bool silent = false;             // they send nothing (else the first byte of a frame)
    uint32_t reconnect_after_ms = 0; // a dropped holder's pause before it connects again
    bool split = false;              // the newcomer's sign-on frame comes in two parts 0.8 s apart
    const char *newcomer_address = kTraderAddress;

    uint32_t holder_count() const { return holders != 0 ? holders : slots - 1 + 5; }
    std::string text() const
    {
        return std::to_string(addresses) + (addresses == 1 ? " address, " : " addresses, ") +
               (rotate ? "a new one for each connection, " : "") + (silent ? "silent" : "one byte") +
               ", reconnecting after " + std::to_string(reconnect_after_ms) + " ms" +
               (split ? ", split sign-ons" : "") + ", newcomer from " + newcomer_address;
    }
};

// How a newcomer's try ended.
std::string try_outcome(const qel_sim::workstation_client &client, const qel_sim::trader_reply &reply)
{
    if (reply.arrived)
        return reply.error_code == 0 ? "signed on" : "refused with " + std::to_string(reply.error_code);
    if (!client.peer_closed())
        return "not answered";
    return client.invitations() == 0 ? "closed before the invitation" : "closed after the invitation";
}

// The gateway with `slots` slots, a trader on one that keeps trading (from 127.0.0.2), and
// reconnecting holders that want more slots than the rest (five more unless the setup says
// how many): each time a newcomer tries to sign on, signs off again once in. The number of
// tries that signed on. Every refused connect the console hears of named no user (user id
// 0).
uint32_t sign_ons_beside_reconnecting_holders(uint32_t tries, const holders_setup &setup)
{
    const uint32_t slots = setup.slots;
    const uint32_t holder_count = setup.holder_count();
    const bool split = setup.split;
    qel_test::fix_road road({1001}, box_of(static_cast<int16_t>(slots)), qel_sim::exchange_options(),
                            {{"MAX_TWS_CLIENTS", std::to_string(slots)}});
    EXPECT_TRUE(road.listening);
    signed_on_trader trading;
    if (!qel_test::wait_until([&] { return trading.sign_on(road.workstation_port, 2001); }, 10000))
    {
        ADD_FAILURE() << "the trading trader could not sign on";
        return 0;
    }
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> orders{0}, answered{0};
    std::thread trade(
        [&]
        {
            while (!stop)
            {
                qel_sim::trader_order order;
                ++orders;
                qel_sim::trader_reply reply = trading.trader->enter(order, kTimeoutMs);
                answered += reply.arrived && reply.transcode == 2073 ? 1 : 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });

    qel_sim::slot_holding how;
    how.addresses = setup.addresses == 1 ? std::vector<std::string>{"127.0.0.1"}
                                         : qel_sim::attacker_addresses(setup.addresses);
    how.silent = setup.silent;
    how.reconnect_after_ms = setup.reconnect_after_ms;
    how.rotate = setup.rotate;
    qel_sim::reconnecting_slot_holders holders;
    holders.start(road.workstation_port, holder_count, how);
    // The holders have taken what they can once some have been dropped or refused often, and
    // their slots are past the half second a newly admitted connection has for its sign-on.
    EXPECT_TRUE(qel_test::wait_until([&] { return holders.reconnects() >= 200; }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    uint32_t signed_on = 0;
    std::map<std::string, uint32_t> outcomes;
    for (uint32_t i = 0; i < tries; ++i)
    {
        qel_sim::workstation_client client;
        client.faults().mid_frame_pause_ms = split ? 800 : 0;
        qel_sim::trader newcomer(client, 3001 + i);
        if (!client.connect("127.0.0.1", road.workstation_port, setup.newcomer_address))
        {
            ++outcomes["not connected"];
            continue;
        }
        qel_sim::trader_reply reply = newcomer.sign_on(5000);
        ++outcomes[try_outcome(client, reply)];
        if (!reply.arrived || reply.error_code != 0)
            continue;
        ++signed_on;
        EXPECT_TRUE(newcomer.sign_off(kTimeoutMs).arrived);
    }
    const uint32_t reconnects = holders.reconnects();
    holders.stop();
    stop = true;
    trade.join();
    std::string told;
    for (const auto &o : outcomes)
        told += " " + std::to_string(o.second) + " " + o.first + ";";
    std::cout << (split ? "split sign-ons " : "sign-ons ") << signed_on << " of " << tries << " beside "
              << holder_count << " reconnecting holders (" << setup.text() << ") on " << slots - 1
              << " free slots (" << reconnects << " reconnects); trader " << answered << " of " << orders
              << " answered;" << told << "\n";
    EXPECT_GT(orders.load(), 0u);
    EXPECT_EQ(answered.load(), orders.load());
    EXPECT_FALSE(trading.client.peer_closed());
    EXPECT_TRUE(trading.trader->sign_off(kTimeoutMs).arrived);
    for (const qel_test::console_event &e : qel_test::day_console_events(road.dir))
    {
        if (e.reason == kMaxConnectionsReason)
        {
            EXPECT_EQ(e.user, 0u) << "a refused connect's event (extra info " << e.extra << ")";
        }
    }
    return signed_on;
}

// Holders spread over `addresses` (one byte each or silent), reconnecting that long after
// they are dropped.
typedef std::tuple<uint32_t, bool, uint32_t> spread_holders;

holders_setup spread(const spread_holders &how)
{
    holders_setup setup;
    setup.addresses = std::get<0>(how);
    // Sixty addresses need as many holders: the gateway then has sixty slots.
    setup.slots = setup.addresses > 50 ? setup.addresses : 50;
    setup.silent = std::get<1>(how);
    setup.reconnect_after_ms = std::get<2>(how);
    return setup;
}

std::string spread_name(const ::testing::TestParamInfo<spread_holders> &info)
{
    return std::to_string(std::get<0>(info.param)) + "Addresses" +
           (std::get<1>(info.param) ? "Silent" : "OneByte") + "ReconnectingAfter" +
           std::to_string(std::get<2>(info.param)) + "ms";
}
} // namespace

TEST(WorkstationSlots, ATraderGetsInBesideMoreReconnectingHoldersThanSlots)
{
    EXPECT_GE(sign_ons_beside_reconnecting_holders(10, holders_setup()), 8u);
}

TEST(WorkstationSlots, ASignOnInTwoPartsKeepsItsSlotBesideReconnectingHolders)
{
    holders_setup setup;
    setup.split = true;
    EXPECT_EQ(sign_ons_beside_reconnecting_holders(10, setup), 10u);
}

TEST(WorkstationSlots, ATraderGetsInBesideSilentReconnectingHoldersOfOneAddress)
{
    holders_setup setup;
    setup.silent = true;
    EXPECT_GE(sign_ons_beside_reconnecting_holders(10, setup), 8u);
}

// Holders spread over several addresses: a newcomer from an address that holds nothing
// takes the slot of one from an address that holds more, however few each holds, whether
// the holders connect again a tenth of a second after they are dropped or at once.
class WorkstationSlotsSpread : public ::testing::TestWithParam<spread_holders>
{
};

TEST_P(WorkstationSlotsSpread, ATraderGetsInBesideReconnectingHolders)
{
    EXPECT_GE(sign_ons_beside_reconnecting_holders(10, spread(GetParam())), 8u);
}

INSTANTIATE_TEST_SUITE_P(Holders, WorkstationSlotsSpread,
                         ::testing::Combine(::testing::Values(2u, 10u, 60u), ::testing::Bool(),
                                            ::testing::Values(100u)),
                         spread_name);

// Holders that connect again the moment they are dropped: one that lost its slot takes one
// back only from an address that holds two more, so they do not take each other's slots
// round and round, and the newcomer finds one it may take.
INSTANTIATE_TEST_SUITE_P(HoldersAtOnce, WorkstationSlotsSpread,
                         ::testing::Combine(::testing::Values(2u, 10u, 60u), ::testing::Bool(),
                                            ::testing::Values(0u)),
                         spread_name);

namespace
{
// Sixty silent holders, each connection from the next address of a pool of `pool`
// addresses, on the shipped fifty slots (49 free beside the trading trader).
holders_setup rotating(uint32_t pool, const char *newcomer_address = kTraderAddress)
{
    holders_setup setup;
    setup.slots = 50;
    setup.holders = 60;
    setup.addresses = pool;
    setup.rotate = true;
    setup.silent = true;
    setup.newcomer_address = newcomer_address;
    return setup;
}
} // namespace

// Holders that take a new address for every connection: what the gateway remembers of an
// address must not be forgotten in their favour however many addresses they bring.
class WorkstationSlotsRotating : public ::testing::TestWithParam<uint32_t>
{
};

TEST_P(WorkstationSlotsRotating, ATraderGetsInBesideSilentHoldersOnANewAddressEachTime)
{
    EXPECT_GE(sign_ons_beside_reconnecting_holders(10, rotating(GetParam())), 8u);
}

INSTANTIATE_TEST_SUITE_P(Pools, WorkstationSlotsRotating, ::testing::Values(200u, 1000u, 10000u),
                         [](const ::testing::TestParamInfo<uint32_t> &info)
                         { return "PoolOf" + std::to_string(info.param); });

// The same beside a pool of 1,000, for a newcomer whose address has never signed a trader on
// (the trading trader is on 127.0.0.2).
TEST(WorkstationSlots, ANewcomerFromAnAddressThatNeverSignedOnGetsInBesideRotatingHolders)
{
    EXPECT_GE(sign_ons_beside_reconnecting_holders(10, rotating(1000, "127.0.0.3")), 8u);
}
