// Sign-ons that never get through, again and again from 127.0.0.1, beside a trader on
// 127.0.0.2 who trades at a steady pace (an order every 100 ms): sign-ons for no user
// (user id 0), wrong passwords for a user the host knows, and second sign-ons of a user who
// is signed on already. Each flood writes a few kB of log a second and raises a few console
// events a second however fast it goes, and the trader keeps at least nine tenths of the
// order rate it had without the flood; so too when the wrong passwords come from a pool of
// 200 or 1,000 addresses, a new one for each connection. A real user's own refused sign-on
// is an event that names the user beside such floods, and counts a flood leaves pending
// when the gateway is stopped in the middle of it are written before the gateway ends.
// Traders of an office signing on once a second are not held back by a workstation of the
// same address that retries a wrong password as fast as it is answered, on one connection
// or on four. The gateway logs at the shipped level (EVENT, binary logs on).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/hostile/hostile_peers.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const char *const kTraderAddress = "127.0.0.2";
const uint32_t kTraderUser = 2001;
const uint32_t kRealUser = 1002;
const uint32_t kKnownUser = 4001; // the host knows this user's password
const char *const kKnownPassword = "SECRET";
const uint32_t kAttackerUser = 3001; // signed on by the attacker, then again and again
const int kPhaseSeconds = 6;
// The trader's pace: an order every 100 ms, each once the one before is answered (so it
// falls behind only when answers take longer than that).
const int kOrderPeriodMs = 100;
// What a flood may add to the logs for each second it lasts (with the time its last
// counts take to go out), and the console events it may raise in that time.
const long kLogBytesPerSecond = 8 * 1024;
// The same for a flood spread over a pool of addresses.
const long kSpreadLogBytesPerSecond = 10 * 1024;
const size_t kEventsPerSecond = 4;
// The share of its quiet order rate the trader keeps beside a flood.
const double kKeptRate = 0.9;
// A connect from elsewhere may reach the gateway's port beside the attacker's (a test
// running beside this one may still try the port it had before, given out again).
const uint32_t kStrayConnects = 2;

const uint16_t kAlreadySignedOn = 11000;
const uint16_t kHostRefusedSignOn = 11005;
const uint16_t kSignedOn = 11018;
const int32_t kHostErrorCodes = 16000; // the exchange's error codes are 16000 and up
const int16_t kWrongPassword = 16053;

using qel_test::console_event;

qel_sim::exchange_options exchange_knowing_a_password()
{
    qel_sim::exchange_options exchange;
    exchange.users.push_back({kKnownUser, kKnownPassword, 0});
    return exchange;
}

bool has_event(const std::vector<console_event> &events, uint16_t reason, uint32_t user)
{
    for (const console_event &e : events)
        if (e.reason == reason && e.user == user)
            return true;
    return false;
}

// How many happenings one console event stands for: one, or the count a folded one
// carries. The event of a sign-on the host refused (11005) carries the host's error code as
// its extra info, never a count that large.
uint64_t happenings(const console_event &e)
{
    if (e.extra == -1 || (e.reason == kHostRefusedSignOn && e.extra >= kHostErrorCodes))
        return 1;
    return static_cast<uint64_t>(e.extra);
}

// How many happenings of `user` the console events from `first` on stand for (reason 0:
// of any reason).
uint64_t counted(const std::vector<console_event> &events, size_t first, uint32_t user, uint16_t reason = 0)
{
    uint64_t total = 0;
    for (size_t i = first; i < events.size(); ++i)
        if (events[i].user == user && (reason == 0 || events[i].reason == reason))
            total += happenings(events[i]);
    return total;
}

// A gateway at the shipped level (with `slots` workstation slots) and a trader on 127.0.0.2.
struct flooded_gateway
{
    qel_test::fix_road road;
    qel_sim::workstation_client client;
    std::unique_ptr<qel_sim::trader> trader;

    explicit flooded_gateway(uint32_t slots = 10)
        : road({1001}, qel_sim::box_options(), exchange_knowing_a_password(),
               {{"SYSTEM_LOGGING_LEVEL", "EVENT"}, {"MAX_TWS_CLIENTS", std::to_string(slots)}})
    {
    }

    // Signs the trader on and waits until the console has heard of it, so that the events
    // of the start are all in before anything is measured.
    bool trader_signed_on(uint32_t user = kTraderUser)
    {
        if (!road.listening ||
            !qel_test::wait_until(
                [&] { return client.connect("127.0.0.1", road.workstation_port, kTraderAddress); }, 10000))
            return false;
        trader.reset(new qel_sim::trader(client, user));
        return trader->sign_on(kTimeoutMs).arrived && trader->system_information(kTimeoutMs).arrived &&
               qel_test::wait_until(
                   [&] { return has_event(qel_test::day_console_events(road.dir), kSignedOn, user); },
                   kTimeoutMs);
    }

    std::vector<console_event> events() const { return qel_test::day_console_events(road.dir); }
};

// The trader's orders in a phase, at its pace, and how long their answers took.
struct paced_orders
{
    uint32_t sent = 0;
    uint32_t answered = 0;
    double seconds = 0;
    std::vector<double> millis;
    double rate() const { return seconds > 0 ? answered / seconds : 0; }
    double slowest() const { return millis.empty() ? 0 : *std::max_element(millis.begin(), millis.end()); }
};

paced_orders trade_for(qel_sim::trader &trader, int seconds)
{
    typedef std::chrono::steady_clock clock;
    paced_orders o;
    const clock::time_point start = clock::now();
    const clock::time_point end = start + std::chrono::seconds(seconds);
    for (clock::time_point due = start; due < end; due += std::chrono::milliseconds(kOrderPeriodMs))
    {
        std::this_thread::sleep_until(due);
        qel_sim::trader_order order;
        ++o.sent;
        const clock::time_point sent = clock::now();
        qel_sim::trader_reply reply = trader.enter(order, kTimeoutMs);
        o.millis.push_back(std::chrono::duration<double, std::milli>(clock::now() - sent).count());
        o.answered += reply.arrived && reply.transcode == 2073 ? 1 : 0;
    }
    o.seconds = std::chrono::duration<double>(std::max(clock::now(), end) - start).count();
    return o;
}

// A flood's figures beside the trader: its quiet phase first, then the flood's.
struct flood_figures
{
    paced_orders quiet, flooded;
    long quiet_log_bytes = 0;
    long added_log_bytes = 0;          // what the flood phase logged beyond the trader's orders
    double seconds = 0;                // from the flood's start until its account was in
    std::vector<console_event> events; // raised in that time
    uint64_t accounted = 0;            // the refusals the console heard of
};

// Runs the trader alone, then beside the flood; when the flood is over, waits (with a
// bound) until the console has heard of every sign-on the flood saw refused, as events of
// `user` (the user its sign-ons name).
flood_figures run_flood(flooded_gateway &g, qel_sim::sign_on_flood &flood,
                        const qel_sim::sign_on_flood_options &options, uint32_t user, const char *name)
{
    flood_figures f;
    std::map<std::string, long> before = qel_test::log_folder_sizes(g.road.dir);
    f.quiet = trade_for(*g.trader, kPhaseSeconds);
    std::string quiet_files, flood_files;
    f.quiet_log_bytes =
        qel_test::log_folder_growth(before, qel_test::log_folder_sizes(g.road.dir), &quiet_files);

    const size_t first_event = g.events().size();
    before = qel_test::log_folder_sizes(g.road.dir);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(flood.start(g.road.workstation_port, options)) << name << ": the flood could not start";
    f.flooded = trade_for(*g.trader, kPhaseSeconds);
    flood.stop();
    qel_test::wait_until([&] { return counted(g.events(), first_event, user) >= flood.refused(); }, 20000);
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::vector<console_event> events = g.events();
    f.events.assign(events.begin() + static_cast<long>(first_event), events.end());
    f.accounted = counted(events, first_event, user);
    const long bytes =
        qel_test::log_folder_growth(before, qel_test::log_folder_sizes(g.road.dir), &flood_files);
    const double per_order = f.quiet.sent > 0 ? static_cast<double>(f.quiet_log_bytes) / f.quiet.sent : 0;
    f.added_log_bytes = bytes - static_cast<long>(per_order * f.flooded.sent);

    std::string refusals, reasons;
    for (const auto &r : flood.refusals())
        refusals += " " + std::to_string(r.second) + " with " + std::to_string(r.first);
    std::map<std::pair<uint16_t, uint32_t>, std::pair<uint32_t, uint64_t>> by_reason;
    for (const console_event &e : f.events)
    {
        auto &entry = by_reason[{e.reason, e.user}];
        entry.first++;
        entry.second += happenings(e);
    }
    for (const auto &r : by_reason)
        reasons += " " + std::to_string(r.first.first) + "/user " + std::to_string(r.first.second) + " x" +
                   std::to_string(r.second.first) + " counting " + std::to_string(r.second.second);
    std::cout << name << ": " << flood.connections() << " connections, " << flood.sign_ons() << " sign-ons, "
              << flood.refused() << " refused (" << refusals << " ), " << flood.accepted() << " got through; "
              << f.events.size() << " console events in " << f.seconds << " s ("
              << f.events.size() / f.seconds << " a second) counting " << f.accounted << " refusals; "
              << f.added_log_bytes << " bytes of log added (" << f.added_log_bytes / f.seconds
              << " a second); trader " << f.flooded.answered << " of " << f.flooded.sent << " answered, "
              << f.flooded.rate() << " a second against " << f.quiet.rate() << " alone (slowest answer "
              << f.flooded.slowest() << " ms against " << f.quiet.slowest()
              << " ms)\n  events (reason/user):" << reasons << "\n  flood logs:" << flood_files << "\n";
    return f;
}

// No sign-on got through; the console heard of each refusal, in a few events a second; the
// logs grew by a few kB a second; the trader was answered every time and kept its rate.
void expect_bounded(const flood_figures &f, const qel_sim::sign_on_flood &flood, uint32_t threads,
                    long log_bytes_per_second = kLogBytesPerSecond)
{
    EXPECT_EQ(flood.accepted(), 0u);
    // The gateway answers a few sign-ons a second of the flood's address and holds the rest
    // back unanswered; each of the flood's threads still comes again at least once a second
    // (it gives up on an answer after 300 ms).
    EXPECT_GE(flood.attempts(), threads * static_cast<uint32_t>(kPhaseSeconds)) << "the flood hardly ran";
    EXPECT_GT(flood.refused(), 0u);
    EXPECT_GE(f.accounted, flood.refused());
    EXPECT_LE(f.accounted, flood.attempts() + kStrayConnects);
    EXPECT_LE(f.events.size(), kEventsPerSecond * static_cast<size_t>(f.seconds + 1));
    EXPECT_LE(f.added_log_bytes, static_cast<long>(log_bytes_per_second * (f.seconds + 1)));
    EXPECT_EQ(f.quiet.answered, f.quiet.sent);
    EXPECT_EQ(f.flooded.answered, f.flooded.sent);
    EXPECT_GE(f.flooded.rate(), kKeptRate * f.quiet.rate());
}

qel_sim::sign_on_flood_options flood_of(qel_sim::sign_on_attack attack, uint32_t threads, uint32_t user = 0,
                                        const std::string &password = "")
{
    qel_sim::sign_on_flood_options options;
    options.attack = attack;
    options.threads = threads;
    options.user_id = user;
    options.password = password;
    // An attacker gives up on an answer soon and connects again.
    options.answer_ms = 300;
    return options;
}

// The numbers in a line's "[...]" fields, in order.
std::vector<uint64_t> numbers_of(const std::string &text)
{
    std::vector<uint64_t> numbers;
    for (std::string::size_type at = text.find('['); at != std::string::npos; at = text.find('[', at + 1))
        numbers.push_back(std::strtoull(text.c_str() + at + 1, nullptr, 10));
    return numbers;
}

// A thread's account of connections that ended without signing on: the stories it wrote
// whole (each holds one line beginning with `story_line`) and the connections its "Left
// out" lines count.
struct hold_account
{
    uint64_t written = 0;
    uint64_t counted = 0;
    uint64_t left_out_lines = 0;
    uint64_t total() const { return written + counted; }
};

hold_account account_of(const std::string &logs, const std::string &thread, const std::string &story_line)
{
    hold_account a;
    for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(logs, thread))
    {
        if (line.text.compare(0, story_line.size(), story_line) == 0)
            ++a.written;
        if (line.text.compare(0, 8, "Left out") == 0 &&
            line.text.find("] connections from") != std::string::npos)
        {
            ++a.left_out_lines;
            std::vector<uint64_t> n = numbers_of(line.text);
            a.counted += n.size() > 1 ? n[1] : 0;
        }
    }
    return a;
}
} // namespace

TEST(SignOnFloods, SignOnsForNoUserAreFoldedAndTheTraderKeepsItsRate)
{
    flooded_gateway g;
    ASSERT_TRUE(g.trader_signed_on());
    qel_sim::sign_on_flood flood;
    flood_figures f =
        run_flood(g, flood, flood_of(qel_sim::sign_on_attack::no_user, 8), 0, "sign-ons for user 0");
    expect_bounded(f, flood, 8);
    EXPECT_EQ(flood.refusals(), (std::map<int16_t, uint32_t>{{16042, flood.refused()}}));
}

// Wrong passwords for a user the host knows: the sign-ons that fail spend their address's
// budget, so a few a second reach the host and the trader keeps its rate.
TEST(SignOnFloods, WrongPasswordsAreFoldedAndTheTraderKeepsItsRate)
{
    flooded_gateway g;
    ASSERT_TRUE(g.trader_signed_on());
    qel_sim::sign_on_flood flood;
    flood_figures f =
        run_flood(g, flood, flood_of(qel_sim::sign_on_attack::wrong_password, 4, kKnownUser, "GUESSED"),
                  kKnownUser, "wrong passwords");
    expect_bounded(f, flood, 4);
    // The host refused some (the others met the user still admitted on another connection).
    uint32_t at_host = 0;
    for (const std::string &line : g.road.box->lines())
        at_host +=
            line.find("2300 sign-on user " + std::to_string(kKnownUser) + ": refused") != std::string::npos;
    const uint32_t wrong = flood.refusals()[kWrongPassword];
    EXPECT_GT(wrong, 0u);
    EXPECT_GE(at_host, wrong);
    std::cout << "wrong passwords: " << at_host << " sign-ons reached the host in " << f.seconds << " s\n";
}

// Wrong passwords from a pool of addresses, each connection of the flood's eight threads
// from the next one: the gateway meets more addresses than it can remember one by one, and
// the flood must stay bounded all the same.
class SignOnFloodsSpread : public ::testing::TestWithParam<uint32_t>
{
};

TEST_P(SignOnFloodsSpread, WrongPasswordsFromAPoolAreFoldedAndTheTraderKeepsItsRate)
{
    flooded_gateway g;
    ASSERT_TRUE(g.trader_signed_on());
    qel_sim::sign_on_flood flood;
    qel_sim::sign_on_flood_options options =
        flood_of(qel_sim::sign_on_attack::wrong_password, 8, kKnownUser, "GUESSED");
    options.addresses = qel_sim::attacker_addresses(GetParam());
    options.rotate = true;
    const std::string name = "wrong passwords from " + std::to_string(GetParam()) + " addresses";
    flood_figures f = run_flood(g, flood, options, kKnownUser, name.c_str());
    expect_bounded(f, flood, 8, kSpreadLogBytesPerSecond);
    uint32_t at_host = 0;
    for (const std::string &line : g.road.box->lines())
        at_host += line.find("2300 sign-on user " + std::to_string(kKnownUser)) != std::string::npos;
    std::cout << name << ": " << at_host << " sign-ons reached the host in " << f.seconds << " s\n";
}

INSTANTIATE_TEST_SUITE_P(Pools, SignOnFloodsSpread, ::testing::Values(200u, 1000u),
                         [](const ::testing::TestParamInfo<uint32_t> &info)
                         { return "PoolOf" + std::to_string(info.param); });

TEST(SignOnFloods, SecondSignOnsAreFoldedAndTheTraderKeepsItsRate)
{
    flooded_gateway g;
    ASSERT_TRUE(g.trader_signed_on());
    qel_sim::sign_on_flood flood;
    flood_figures f = run_flood(g, flood, flood_of(qel_sim::sign_on_attack::second_sign_on, 8, kAttackerUser),
                                kAttackerUser, "second sign-ons");
    expect_bounded(f, flood, 8);
    EXPECT_EQ(flood.refusals(), (std::map<int16_t, uint32_t>{{16004, flood.refused()}}));
}

// User 1002 signs on from 127.0.0.2 and tries again on new connections now and then, while
// attackers flood second sign-ons of their own user and sign-ons for no user: each of the
// real user's refusals reaches the console under its own user id, the first at once. (The
// gateway has slots enough for the floods and the user's tries.)
TEST(SignOnFloods, ARealUsersRefusedSignOnIsAnEventNamingTheUser)
{
    flooded_gateway g(40);
    ASSERT_TRUE(g.trader_signed_on(kRealUser));
    qel_sim::sign_on_flood seconds, nobody;
    ASSERT_TRUE(seconds.start(g.road.workstation_port,
                              flood_of(qel_sim::sign_on_attack::second_sign_on, 8, kAttackerUser)));
    ASSERT_TRUE(nobody.start(g.road.workstation_port, flood_of(qel_sim::sign_on_attack::no_user, 8)));
    // The floods are in full swing once the attacker's own second sign-ons reach the console:
    // the address's budget lets a few through a second, the oldest waiting first, and an
    // attacker as impatient as these has often given up on its answer by then.
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            return seconds.attempts() + nobody.attempts() >= 100 &&
                   has_event(g.events(), kAlreadySignedOn, kAttackerUser);
        },
        20000))
        << seconds.attempts() << " and " << nobody.attempts() << " connects";

    const size_t first_event = g.events().size();
    const uint32_t tries = 15;
    uint32_t refused = 0;
    for (uint32_t i = 0; i < tries; ++i)
    {
        qel_sim::workstation_client again;
        ASSERT_TRUE(again.connect("127.0.0.1", g.road.workstation_port, kTraderAddress));
        qel_sim::trader_reply reply = qel_sim::trader(again, kRealUser).sign_on(kTimeoutMs);
        refused += reply.arrived && reply.error_code == 16004 ? 1 : 0;
        EXPECT_TRUE(again.wait_for_close(kTimeoutMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(refused, tries);
    EXPECT_TRUE(qel_test::wait_until(
        [&] { return counted(g.events(), first_event, kRealUser, kAlreadySignedOn) >= tries; }, 20000));
    seconds.stop();
    nobody.stop();
    const std::vector<console_event> events = g.events();
    EXPECT_EQ(counted(events, first_event, kRealUser, kAlreadySignedOn), tries);
    std::vector<int32_t> real;
    for (size_t i = first_event; i < events.size(); ++i)
        if (events[i].user == kRealUser && events[i].reason == kAlreadySignedOn)
            real.push_back(events[i].extra);
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.front(), -1) << "the first refusal goes out on its own";
    std::cout << "user " << kRealUser << ": " << refused << " second sign-ons refused, " << real.size()
              << " console events naming the user; beside " << seconds.refused()
              << " second sign-ons of user " << kAttackerUser << " and " << nobody.refused()
              << " sign-ons for user 0\n";
    EXPECT_TRUE(g.trader->system_information(kTimeoutMs).arrived) << "the real user's session goes on";
}

// SIGTERM in the middle of a flood of sign-ons for no user: what the network thread and the
// user session thread still held or counted is written before the gateway ends, so each
// connection the gateway took in is in their logs, its story written whole or counted in a
// "Left out" line.
TEST(SignOnFloods, WhatIsCountedWhenTheGatewayStopsIsWritten)
{
    qel_test::fix_road road({1001}, qel_sim::box_options(), qel_sim::exchange_options(),
                            {{"SYSTEM_LOGGING_LEVEL", "EVENT"}});
    ASSERT_TRUE(road.listening);
    qel_sim::sign_on_flood flood;
    ASSERT_TRUE(flood.start(road.workstation_port, flood_of(qel_sim::sign_on_attack::no_user, 8)));
    // Well into the flood: stories beyond the first of a spell are counted, a count a
    // second, and there is always one still to come.
    ASSERT_TRUE(qel_test::wait_until([&] { return flood.attempts() >= 300 && flood.refused() > 0; }, 30000))
        << flood.attempts() << " connects, " << flood.refused() << " refused";
    qel_test::process_result result = road.stop();
    flood.stop();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_FALSE(result.timed_out);

    const std::string logs = road.dir.file("logs");
    // Every connection that was invited was taken in; a connect the gateway never took
    // in (still in the listen queue at the stop) is in no account.
    const hold_account network =
        account_of(logs, "tws_network_handler_thread", "Incoming client connection from socket");
    EXPECT_GE(network.total(), flood.sign_ons());
    EXPECT_LE(network.total(), flood.attempts() + kStrayConnects);
    EXPECT_GT(network.left_out_lines, 0u);
    // Every sign-on the session layer refused was a story there.
    const hold_account session = account_of(logs, "user_session_thread", "Invalid userid");
    EXPECT_GE(session.total(), flood.refused());
    EXPECT_LE(session.total(), flood.sign_ons() + kStrayConnects);
    EXPECT_GT(session.left_out_lines, 0u);
    std::cout << "stopped in a flood: " << flood.attempts() << " connects, " << flood.sign_ons()
              << " sign-ons, " << flood.refused() << " refused; network thread " << network.written
              << " stories written, " << network.counted << " counted in " << network.left_out_lines
              << " lines; session thread " << session.written << " written, " << session.counted
              << " counted in " << session.left_out_lines << " lines\n";
}

namespace
{
// The office whose traders sign on beside a broken workstation of its own.
const uint32_t kFirstHonestUser = 8001;
const uint32_t kHonestQuietSignOns = 10;
const uint32_t kHonestSignOns = 20;
// What a broken workstation may add to the honest sign-ons' 90th percentile: a held frame
// waits for a failed sign-on's budget to come back (half a second a sign-on), far longer.
const double kHonestHoldMs = 250;

// Honest sign-ons of one phase: how long each took, from the connect to the answer.
struct sign_on_times
{
    std::vector<double> millis;
    uint32_t failed = 0;

    // The nearest-rank percentile (0 when there is none).
    double at(double q) const
    {
        if (millis.empty())
            return 0;
        std::vector<double> sorted = millis;
        std::sort(sorted.begin(), sorted.end());
        size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
        return sorted[rank == 0 ? 0 : rank - 1];
    }
    std::string text() const
    {
        return std::to_string(millis.size()) + " signed on, " + std::to_string(failed) + " failed; p50 " +
               std::to_string(at(0.5)) + " ms, p90 " + std::to_string(at(0.9)) + " ms, max " +
               std::to_string(at(1.0)) + " ms";
    }
};

// `count` traders of the office, one a second, each a user of its own from `first_user` on:
// connects from the office's address, signs on and signs off again.
sign_on_times honest_sign_ons(uint16_t port, uint32_t first_user, uint32_t count)
{
    typedef std::chrono::steady_clock clock;
    sign_on_times times;
    const clock::time_point start = clock::now();
    for (uint32_t i = 0; i < count; ++i)
    {
        std::this_thread::sleep_until(start + std::chrono::seconds(i));
        const clock::time_point begin = clock::now();
        qel_sim::workstation_client client;
        qel_sim::trader trader(client, first_user + i);
        qel_sim::trader_reply reply;
        if (client.connect("127.0.0.1", port, kTraderAddress))
            reply = trader.sign_on(kTimeoutMs);
        if (!reply.arrived || reply.error_code != 0)
        {
            ++times.failed;
            continue;
        }
        times.millis.push_back(std::chrono::duration<double, std::milli>(clock::now() - begin).count());
        EXPECT_TRUE(trader.sign_off(kTimeoutMs).arrived);
    }
    return times;
}
} // namespace

// A workstation of the office retries a wrong password for a user the host knows as fast as
// the gateway answers it, on this many connections at once, from the office's own address.
class SignOnFloodsBrokenWorkstation : public ::testing::TestWithParam<uint32_t>
{
};

TEST_P(SignOnFloodsBrokenWorkstation, HonestSignOnsOfTheSameAddressAreNotHeldBack)
{
    flooded_gateway g;
    ASSERT_TRUE(g.trader_signed_on());
    const sign_on_times quiet =
        honest_sign_ons(g.road.workstation_port, kFirstHonestUser, kHonestQuietSignOns);

    qel_sim::sign_on_flood broken;
    qel_sim::sign_on_flood_options options;
    options.attack = qel_sim::sign_on_attack::wrong_password;
    options.user_id = kKnownUser;
    options.password = "GUESSED";
    options.threads = GetParam();
    options.addresses = {kTraderAddress};
    ASSERT_TRUE(broken.start(g.road.workstation_port, options));
    // The broken workstation is under way: some of its sign-ons have failed.
    EXPECT_TRUE(qel_test::wait_until([&] { return broken.refused() >= 3; }, 20000)) << broken.refused();
    const sign_on_times beside =
        honest_sign_ons(g.road.workstation_port, kFirstHonestUser + kHonestQuietSignOns, kHonestSignOns);
    broken.stop();

    std::cout << "honest sign-ons alone: " << quiet.text() << "\nbeside a wrong password retried on "
              << GetParam() << " connection(s): " << beside.text() << "; the broken workstation "
              << broken.sign_ons() << " sign-ons, " << broken.refused() << " refused, " << broken.accepted()
              << " got through\n";
    EXPECT_EQ(quiet.failed, 0u);
    EXPECT_EQ(beside.failed, 0u);
    EXPECT_EQ(broken.accepted(), 0u);
    EXPECT_LE(beside.at(0.9), quiet.at(0.9) + kHonestHoldMs);
    EXPECT_TRUE(g.trader->system_information(kTimeoutMs).arrived) << "the office's trader goes on";
}

INSTANTIATE_TEST_SUITE_P(Connections, SignOnFloodsBrokenWorkstation, ::testing::Values(1u, 4u),
                         [](const ::testing::TestParamInfo<uint32_t> &info)
                         { return "On" + std::to_string(info.param); });
