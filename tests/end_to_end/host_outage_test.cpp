// A host outage end to end: qel_ip runs as its own process and reaches the simulated
// exchange host through a proxy that the test cuts (the host refuses every connect, as a
// host that is down does) and restores. A session whose host comes back within the
// recovery window recovers at the first relogon after its return, relogons going out a
// second apart; a host gone for good gets the box logged off 20 s after the loss; traders
// who kept trying through a long outage sign on as soon as the host is back. The back-off
// against a reconnect storm still holds: neither a host that closes every connection at
// once, nor peers connecting as fast as they can while the host is down, nor a user sending
// the box's own records makes the gateway reconnect without pause; while the host is down
// the console hears of each failed connect once and the logs grow a few kB a second.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "main_road_fixture.h"
#include "sim/hostile/hostile_peers.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"

using qel_sim::trader;
using qel_test::answered;
using qel_test::kTimeoutMs;
using qel_test::main_road;

namespace
{
typedef std::chrono::steady_clock steady;

const uint16_t kSystemReady = 12012;
const uint16_t kHostClosed = 12008;
const uint16_t kConnectFailed = 12009;
const uint16_t kBoxLoggedOff = 11002;

double seconds_between(steady::time_point from, steady::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Polls the day's console events for the first one of `reason` after the first `from`
// events; on success `seen` is when the poll found it (within 10 ms of its writing) and
// `index` where it stands.
bool wait_for_event(const main_road &road, size_t from, uint16_t reason, int timeout_ms,
                    steady::time_point *seen, size_t *index = nullptr)
{
    return qel_test::wait_until(
        [&]
        {
            const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
            for (size_t i = from; i < events.size(); ++i)
            {
                if (events[i].reason != reason)
                    continue;
                *seen = steady::now();
                if (index != nullptr)
                    *index = i;
                return true;
            }
            return false;
        },
        timeout_ms);
}

// A trader at a workstation of its own, signed on and asked for system information.
struct signed_on_trader
{
    qel_sim::workstation_client client;
    std::unique_ptr<trader> user;

    signed_on_trader(main_road &road, uint32_t user_id)
    {
        road.connect(client);
        user.reset(new trader(client, user_id));
        EXPECT_TRUE(answered(user->sign_on(kTimeoutMs), 2301)) << user_id;
        EXPECT_TRUE(answered(user->system_information(kTimeoutMs), 1601)) << user_id;
    }

    bool orders()
    {
        qel_sim::trader_order order;
        return answered(user->enter(order, kTimeoutMs), 2073);
    }
};

// Lines of the host network thread's log that begin with `text`.
size_t network_lines(const main_road &road, const std::string &text)
{
    size_t n = 0;
    for (const qel_test::gateway_log_line &line :
         qel_test::gateway_log_lines(road.dir.file("logs"), "th_network_handler_thread"))
        n += line.text.compare(0, text.size(), text) == 0 ? 1 : 0;
    return n;
}

size_t host_connects(const main_road &road)
{
    return qel_test::host_connects(road.dir.file("logs"));
}

// The failed connects the console was told of after the first `from` events: one an event
// 12009, or the count a folded one carries.
size_t failed_connects_told(const main_road &road, size_t from)
{
    const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
    size_t told = 0;
    for (size_t i = from; i < events.size(); ++i)
        if (events[i].reason == kConnectFailed)
            told += events[i].extra == -1 ? 1 : static_cast<size_t>(events[i].extra);
    return told;
}

// The most connections the proxy accepted within any one second.
size_t most_within_a_second(const std::vector<steady::time_point> &accepted)
{
    size_t most = 0;
    for (size_t first = 0; first < accepted.size(); ++first)
    {
        size_t last = first;
        while (last + 1 < accepted.size() && accepted[last + 1] - accepted[first] < std::chrono::seconds(1))
            ++last;
        most = std::max(most, last - first + 1);
    }
    return most;
}

std::string timeline(const qel_test::host_link_proxy &proxy, steady::time_point start)
{
    std::string text;
    for (steady::time_point at : proxy.accepted())
        text += " " + std::to_string(seconds_between(start, at)).substr(0, 5);
    return text;
}
} // namespace

TEST(HostOutage, AHostBackAfterFiveSecondsHasTheSessionRecoveredAtTheNextRelogon)
{
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true);
    signed_on_trader alice(road, 1001), bob(road, 1002);
    ASSERT_TRUE(alice.orders());
    const size_t events_before = qel_test::day_console_events(road.dir).size();

    const steady::time_point lost = steady::now();
    ASSERT_TRUE(road.proxy->cut());
    std::this_thread::sleep_until(lost + std::chrono::seconds(5)); // the outage itself
    ASSERT_TRUE(road.proxy->restore());
    const steady::time_point back = steady::now();

    steady::time_point recovered;
    ASSERT_TRUE(wait_for_event(road, events_before, kSystemReady, 15000, &recovered));
    const double after_loss = seconds_between(lost, recovered);
    const double after_return = seconds_between(back, recovered);
    std::cout << "host back " << seconds_between(lost, back) << " s after the loss, session recovered "
              << after_loss << " s after the loss\n";
    // Relogons go out a second apart, so the first one after the host's return finds it.
    EXPECT_LT(after_return, 1.5);
    EXPECT_LT(after_loss, 6.5);

    // The session goes on where it was: both traders are still signed on and trade.
    EXPECT_TRUE(alice.orders());
    EXPECT_TRUE(bob.orders());
    for (const qel_test::console_event &e : qel_test::day_console_events(road.dir))
        EXPECT_NE(e.reason, kBoxLoggedOff);
    EXPECT_EQ(road.box->state().relogons, 1u);
    EXPECT_TRUE(road.box->session_faults().empty());
    EXPECT_EQ(road.stop().exit_code, 0);

    // The relogon that succeeded stands whole in the network thread's log, after any count of
    // the failed ones; a count names the attempts its lines were about.
    const std::vector<qel_test::gateway_log_line> lines =
        qel_test::gateway_log_lines(road.dir.file("logs"), "th_network_handler_thread");
    size_t order = lines.size(), success = lines.size();
    for (size_t i = 0; i < lines.size(); ++i)
    {
        unsigned left_out = 0, attempts = 0;
        if (sscanf(lines[i].text.c_str(), "Left out [%u] log lines about [%u] attempts", &left_out,
                   &attempts) == 2)
        {
            EXPECT_GE(attempts, 1u) << lines[i].text;
        }
        if (lines[i].text.rfind("Received BOX_RELOGON_REQUEST message", 0) == 0)
            order = i;
        if (lines[i].text.rfind("Connection successful", 0) == 0 && order < lines.size())
            success = i;
    }
    ASSERT_LT(success, lines.size());
    std::vector<std::string> story;
    for (size_t i = order; i <= success; ++i)
        story.push_back(lines[i].text.substr(0, 24));
    EXPECT_NE(std::find(story.begin(), story.end(), "Connecting to IP address"), story.end());
    for (const std::string &text : story)
    {
        EXPECT_NE(text.rfind("Left out [", 0), 0u) << "the relogon's story is not folded";
    }
}

TEST(HostOutage, AHostGoneForGoodHasTheBoxLoggedOffAfterTwentySecondsOfRelogonsASecondApart)
{
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true);
    signed_on_trader alice(road, 1001), bob(road, 1002);
    const size_t events_before = qel_test::day_console_events(road.dir).size();

    const steady::time_point lost = steady::now();
    ASSERT_TRUE(road.proxy->cut());
    steady::time_point logged_off;
    size_t logoff_at = 0;
    ASSERT_TRUE(wait_for_event(road, events_before, kHostClosed, 40000, &logged_off, &logoff_at));
    const double after_loss = seconds_between(lost, logged_off);
    std::cout << "box logged off " << after_loss << " s after the loss\n";
    EXPECT_GE(after_loss, 20.0);
    EXPECT_LE(after_loss, 22.5);

    // Then every user is logged off, and their workstations are closed.
    std::vector<uint32_t> users;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            users.clear();
            const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
            for (size_t i = logoff_at + 1; i < events.size(); ++i)
                if (events[i].reason == kBoxLoggedOff)
                    users.push_back(events[i].user);
            return users.size() >= 2;
        },
        kTimeoutMs));
    std::sort(users.begin(), users.end());
    EXPECT_EQ(users, (std::vector<uint32_t>{1001, 1002}));
    EXPECT_TRUE(alice.client.wait_for_close(kTimeoutMs));
    EXPECT_TRUE(bob.client.wait_for_close(kTimeoutMs));

    ASSERT_EQ(road.stop().exit_code, 0);
    // About one relogon a second through the 20 s (the first at once, each later one a
    // second after the refusal before it, each refused).
    const size_t relogons = network_lines(road, "Received BOX_RELOGON_REQUEST message");
    std::cout << "relogons during the outage " << relogons << "\n";
    EXPECT_GE(relogons, 15u);
    EXPECT_LE(relogons, 21u);
    EXPECT_EQ(network_lines(road, "Host connection attempt for link index [0] held back"), 0u);
}

TEST(HostOutage, TradersWhoKeptTryingThroughALongOutageSignOnSoonAfterTheHostReturns)
{
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true);
    ASSERT_TRUE(road.proxy->cut()); // down from the start: the first logon already finds it so
    const steady::time_point start = steady::now();
    const steady::time_point back_at = start + std::chrono::seconds(20);

    // A trader tries every 2 s (1 s, 3 s, ...: between the tries the host returns), each
    // attempt a new workstation connection that the gateway refuses while the host cannot
    // be reached, until one signs on.
    std::atomic<bool> signed_on{false};
    std::atomic<int> attempts{0};
    steady::time_point first_sign_on;
    std::thread traders(
        [&]
        {
            for (int i = 0; !signed_on && steady::now() < back_at + std::chrono::seconds(20); ++i)
            {
                std::this_thread::sleep_until(start + std::chrono::seconds(1 + 2 * i));
                ++attempts;
                qel_sim::workstation_client client;
                if (!client.connect("127.0.0.1", road.workstation_port) || !client.wait_for_invitation(1800))
                    continue;
                trader user(client, 5000 + static_cast<uint32_t>(i));
                if (answered(user.sign_on(kTimeoutMs), 2301))
                {
                    first_sign_on = steady::now();
                    signed_on = true;
                }
            }
        });

    std::this_thread::sleep_until(back_at);
    ASSERT_TRUE(road.proxy->restore());
    const steady::time_point back = steady::now();
    // A trader who connects just after the host's return is invited at once.
    qel_sim::workstation_client newcomer;
    road.connect(newcomer);
    const bool invited = newcomer.wait_for_invitation(kTimeoutMs);
    const double invited_after = seconds_between(back, steady::now());
    traders.join();

    ASSERT_TRUE(signed_on);
    const double first_after = seconds_between(back, first_sign_on);
    std::cout << attempts << " attempts; the newcomer invited " << invited_after
              << " s and the first trying trader signed on " << first_after << " s after the host's return\n";
    EXPECT_TRUE(invited);
    EXPECT_LT(invited_after, 3.0);
    EXPECT_LT(first_after, 2.0); // the trader who tries a second after the return
    EXPECT_GE(attempts, 10);
    trader newcomer_user(newcomer, 6001);
    EXPECT_TRUE(answered(newcomer_user.sign_on(kTimeoutMs), 2301));
    EXPECT_EQ(road.stop().exit_code, 0);
}

TEST(HostOutage, AHostThatClosesEveryConnectionAtOnceIsReconnectedSecondsApartAndServesOnceHealed)
{
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true);
    ASSERT_TRUE(road.proxy->set_mode(qel_test::proxy_mode::close_at_once));
    const steady::time_point start = steady::now();
    const steady::time_point stop_at = start + std::chrono::seconds(12);

    // Workstations connect again as soon as each is refused, from two threads.
    std::atomic<int> refused{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 2; ++t)
        clients.emplace_back(
            [&]
            {
                while (steady::now() < stop_at)
                {
                    qel_sim::workstation_client client;
                    if (!client.connect("127.0.0.1", road.workstation_port))
                        continue;
                    if (client.wait_for_close(kTimeoutMs))
                        ++refused;
                }
            });
    for (std::thread &t : clients)
        t.join(); // the last ones wait for the answer to a held logon
    const double hammered = seconds_between(start, steady::now());

    const size_t connects = road.proxy->accepted_count();
    const size_t most = most_within_a_second(road.proxy->accepted());
    std::cout << refused << " workstation connections refused; the gateway connected " << connects
              << " times in " << hammered << " s, at most " << most << " within a second, at"
              << timeline(*road.proxy, start) << " s\n";
    EXPECT_GE(refused, 3);
    EXPECT_GE(connects, 3u); // the gateway does try again as clients come...
    EXPECT_LE(connects, 8u); // ...but 1 s, 2 s, then 4 s apart after the first two
    EXPECT_LE(most, 2u);

    // The host heals: the next trader is served within the longest wait, 4 s.
    ASSERT_TRUE(road.proxy->restore());
    const steady::time_point healed = steady::now();
    qel_sim::workstation_client client;
    road.connect(client);
    trader user(client, 1001);
    EXPECT_TRUE(answered(user.sign_on(kTimeoutMs), 2301));
    const double served_after = seconds_between(healed, steady::now());
    std::cout << "a trader signed on " << served_after << " s after the host healed\n";
    EXPECT_LT(served_after, 7.0);
    EXPECT_EQ(road.stop().exit_code, 0);
}

TEST(HostOutage, PeersConnectingAsFastAsTheyCanWhileTheHostIsDownMakeTheGatewayConnectOnceASecond)
{
    // At the shipped logging level, where the logs' growth means what it does in service.
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true,
                   {{"SYSTEM_LOGGING_LEVEL", "EVENT"}});
    ASSERT_TRUE(road.proxy->cut()); // down from the start
    qel_sim::workstation_client first;
    road.connect(first);
    ASSERT_TRUE(first.wait_for_close(kTimeoutMs)); // refused: the gateway is up and has tried once
    ASSERT_TRUE(qel_test::wait_until([&] { return host_connects(road) == 1; }, kTimeoutMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const size_t events_before = qel_test::day_console_events(road.dir).size();
    const std::map<std::string, long> logs_before = qel_test::log_folder_sizes(road.dir);

    const int seconds = 10;
    const steady::time_point start = steady::now();
    qel_sim::unsigned_connection_flood flood;
    flood.start(road.workstation_port, qel_sim::unsigned_connection_attack::close_at_once, 64);
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    flood.stop();
    const double flooded = seconds_between(start, steady::now());
    // Connections the flood made while the listen queue was full can reach the gateway
    // seconds after the flood, when a retransmission completes their handshake, each an
    // arrival that starts a logon; a straggler does so every time. The counts are read once
    // neither has moved for 2 s: the last attempt's event goes out within a second, its count
    // line when its spell ends a second after it. A count line later than that leaves the log
    // behind the console.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    qel_sim::workstation_client straggler;
    road.connect(straggler);
    ASSERT_TRUE(straggler.wait_for_close(kTimeoutMs));
    size_t connects = host_connects(road) - 1, failed_connects = failed_connects_told(road, events_before);
    steady::time_point moved = steady::now();
    const steady::time_point give_up = moved + std::chrono::seconds(30);
    while (steady::now() - moved < std::chrono::seconds(2) && steady::now() < give_up)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const size_t now_connects = host_connects(road) - 1;
        const size_t now_told = failed_connects_told(road, events_before);
        if (now_connects != connects || now_told != failed_connects)
            moved = steady::now();
        connects = now_connects;
        failed_connects = now_told;
    }
    const double attempting = seconds_between(start, moved);
    const double window = seconds_between(start, steady::now());

    const std::vector<qel_test::console_event> all = qel_test::day_console_events(road.dir);
    const std::vector<qel_test::console_event> events(all.begin() + static_cast<long>(events_before),
                                                      all.end());
    std::string by_file;
    const long bytes =
        qel_test::log_folder_growth(logs_before, qel_test::log_folder_sizes(road.dir), &by_file);
    std::cout << flood.connections() << " connections in " << flooded
              << " s; the gateway connected to the host " << connects << " times, the counts last moving at "
              << attempting << " s; " << events.size() << " console events (" << failed_connects
              << " failed connects told) and " << bytes << " bytes of logs in " << window << " s:" << by_file
              << "\n";
    EXPECT_GT(flood.connections(), 1000u);
    // Arrivals start a logon a second after each refused connect, and no sooner, until the
    // sockets still waiting when the flood ends have their verdict: at most one a second over
    // the time the counts moved in.
    EXPECT_GE(connects, static_cast<size_t>(seconds - 2));
    EXPECT_LE(connects, static_cast<size_t>(attempting) + 1);
    EXPECT_EQ(failed_connects, connects);
    EXPECT_LE(events.size(), static_cast<size_t>(5 * window));
    EXPECT_LE(bytes, static_cast<long>(30 * 1024 * window));

    // The host returns: a trader who connects now is in within about a second.
    ASSERT_TRUE(road.proxy->restore());
    const steady::time_point back = steady::now();
    qel_sim::workstation_client client;
    road.connect(client);
    trader user(client, 1001);
    EXPECT_TRUE(answered(user.sign_on(kTimeoutMs), 2301));
    const double signed_on_after = seconds_between(back, steady::now());
    std::cout << "a trader signed on " << signed_on_after << " s after the host's return\n";
    EXPECT_LT(signed_on_after, 2.0);
    EXPECT_EQ(road.stop().exit_code, 0);
}

TEST(HostOutage, AUserSendingTheBoxsOwnRecordsDoesNotMakeTheGatewayReconnect)
{
    main_road road(qel_sim::exchange_options(), qel_sim::box_faults(), true);
    signed_on_trader alice(road, 1001);
    qel_sim::hostile_workstation hostile(road.workstation_port, 3001);
    ASSERT_TRUE(hostile.sign_on(kTimeoutMs));
    const steady::time_point start = steady::now();
    uint32_t rounds = 0, orders = 0;
    while (steady::now() < start + std::chrono::seconds(4))
    {
        ASSERT_TRUE(hostile.attack_round(90000 + rounds, kTimeoutMs));
        ++rounds;
        orders += alice.orders() ? 1 : 0;
    }
    std::cout << rounds << " rounds of box records from a user; the gateway connected "
              << road.proxy->accepted_count() << " times\n";
    EXPECT_GT(rounds, 0u);
    EXPECT_EQ(orders, rounds);
    EXPECT_GT(hostile.counts().host_link_records_sent, 0u);
    EXPECT_EQ(road.proxy->accepted_count(), 1u);
    EXPECT_EQ(road.box->state().sign_ons, 1u);
    EXPECT_EQ(road.box->state().relogons, 0u);
    EXPECT_TRUE(road.box->session_faults().empty());
    EXPECT_EQ(road.stop().exit_code, 0);
}
