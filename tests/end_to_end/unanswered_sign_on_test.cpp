// Sign-ons the host never answers. Eight traders of one office, behind one address, sign
// on (the most sign-ons one address may have under way) and a FIX client logs on beside
// them: they fill the nine users the host allows the box. The host acts on every one of
// these sign-ons, but their answers, and the answers to the status queries that follow,
// are lost. The session layer waits 20 s for the sign-on's
// answer, asks the host for the user's status, waits 20 s more and gives up: each
// connection is closed, the console names each user (11023, the status query timed out,
// and the close itself, 11005 the sign-on failed, with no host error code), and the
// slots and the address's places are free again, so that a ninth trader of the office signs
// on. The lost answers that come at last reach no one: the ninth trader, in one of the
// freed slots, receives only its own.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/fix_client/fix_client.h"
#include "sim/workstation/trader.h"
#include "support/fix_road.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"
#include "support/workstation_trader.h"

namespace
{
typedef std::chrono::steady_clock steady;

const uint32_t kTimeoutMs = 15000;
const char *const kOffice = "127.0.0.2";
const uint32_t kLostTraders = 8;
const uint32_t kBoxUsers = kLostTraders + 1;
const uint32_t kFirstLostUser = 5001;
const uint32_t kFixUser = 6001;
const uint32_t kNinthUser = 5009;
// Twice the session layer's 20 s for a request without an answer: the sign-on, then the
// status query.
const long kSupervisionMs = 40000;
// How long a lost sign-on may hold its connection at most before the test calls it held
// for ever (the first time it was seen held).
const uint32_t kHeldForEverMs = 75000;

const uint16_t kSignOnFailed = 11005;
const uint16_t kStatusQueryTimedOut = 11023;
const int16_t kSignOnResponse = 2301;

long ms_since(steady::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count());
}

// What is left of the time after `start` past which a connection counts as held for ever
// (at least a millisecond, so that a last look is taken).
uint32_t held_for_ever_left(steady::time_point start)
{
    const long waited = ms_since(start);
    return waited < static_cast<long>(kHeldForEverMs) ? kHeldForEverMs - static_cast<uint32_t>(waited) : 1;
}

// The extra info of the one console event of this reason naming the user; kNoEvent when
// there is none, kSeveralEvents when there are more.
const int64_t kNoEvent = -3;
const int64_t kSeveralEvents = -2;
int64_t event_extra(const std::vector<qel_test::console_event> &events, uint16_t reason, uint32_t user)
{
    int64_t found = kNoEvent;
    for (const qel_test::console_event &e : events)
        if (e.reason == reason && e.user == user)
            found = found == kNoEvent ? e.extra : kSeveralEvents;
    return found;
}

std::vector<uint32_t> lost_users()
{
    std::vector<uint32_t> users;
    for (uint32_t i = 0; i < kLostTraders; ++i)
        users.push_back(kFirstLostUser + i);
    return users;
}

// How many lines of the user session thread's log report a host answer for the user that
// is admitted nowhere.
size_t answers_for_no_one(const qel_test::fix_road &road, uint32_t user)
{
    const std::string text = "User [" + std::to_string(user) + "] not found. So discarding message";
    size_t n = 0;
    for (const qel_test::gateway_log_line &line :
         qel_test::gateway_log_lines(road.dir.file("logs"), "user_session_thread"))
        n += line.text.compare(0, text.size(), text) == 0 ? 1 : 0;
    return n;
}
} // namespace

TEST(UnansweredSignOns, ALostSignOnFreesItsSlotAndNamesItsUser)
{
    qel_sim::exchange_options exchange;
    exchange.unanswered_users = lost_users();
    exchange.unanswered_users.push_back(kFixUser);
    qel_sim::box_options box;
    box.max_users = static_cast<int16_t>(kBoxUsers);
    qel_test::fix_road road(
        {kFixUser}, box, exchange,
        {{"MAX_TWS_CLIENTS", std::to_string(kBoxUsers)}, {"SYSTEM_LOGGING_LEVEL", "EVENT"}});
    ASSERT_TRUE(road.listening);

    std::vector<std::unique_ptr<qel_sim::workstation_client>> clients;
    std::vector<std::unique_ptr<qel_sim::trader>> traders;
    for (uint32_t user : lost_users())
    {
        clients.emplace_back(new qel_sim::workstation_client());
        qel_sim::workstation_client &client = *clients.back();
        ASSERT_TRUE(qel_test::wait_until(
            [&] { return client.connect("127.0.0.1", road.workstation_port, kOffice); }, 10000));
        traders.emplace_back(new qel_sim::trader(client, user));
    }
    // The workstation waits for the answer as long as it takes; the FIX client too.
    qel_sim::fix_client_options fix_options =
        road.client_options<qel_sim::fix_client_options>(kFixUser, kOffice);
    fix_options.logon_timeout_seconds = 120;
    qel_sim::fix_client fix(fix_options);
    std::string error;
    ASSERT_TRUE(fix.start(&error)) << error;
    const steady::time_point fix_sent = steady::now();
    std::vector<steady::time_point> sent;
    for (size_t i = 0; i < clients.size(); ++i)
    {
        ASSERT_TRUE(clients[i]->send_record(traders[i]->sign_on_record(), kTimeoutMs)) << "trader " << i;
        sent.push_back(steady::now());
    }
    ASSERT_TRUE(road.box->wait_for_line("sign-on user " + std::to_string(kFixUser), kTimeoutMs));

    // Each connection is closed once the supervision has given up on it, not before.
    for (size_t i = 0; i < clients.size(); ++i)
    {
        const uint32_t user = kFirstLostUser + static_cast<uint32_t>(i);
        SCOPED_TRACE("user " + std::to_string(user));
        const bool closed = clients[i]->wait_for_close(held_for_ever_left(sent[i]));
        const long after = ms_since(sent[i]);
        EXPECT_TRUE(closed) << "the connection was still held " << after << " ms after the sign-on";
        EXPECT_GE(after, kSupervisionMs - 1000) << "closed before the supervision gave up";
        std::cout << "user " << user << ": connection " << (closed ? "closed " : "still held ") << after
                  << " ms after its sign-on\n";
        for (const qel_sim::workstation_frame &frame : clients[i]->received())
            EXPECT_NE(qel_sim::workstation_record_transcode(frame.record), kSignOnResponse);
        EXPECT_TRUE(clients[i]->check_failures().empty());
    }
    EXPECT_TRUE(fix.wait_for_state(qel_sim::fix_client_state::logged_out, held_for_ever_left(fix_sent)))
        << "the FIX session is " << qel_sim::fix_client_state_name(fix.state());
    EXPECT_GE(ms_since(fix_sent), kSupervisionMs - 1000);
    EXPECT_EQ(fix.stream_count(), -1) << "the FIX client was logged on";
    std::cout << "FIX user " << kFixUser << ": session ended " << ms_since(fix_sent)
              << " ms after its Logon\n";

    // The console names every user: the status query timed out, then the close.
    std::vector<uint32_t> named = lost_users();
    named.push_back(kFixUser);
    EXPECT_TRUE(qel_test::wait_until(
        [&]
        {
            const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
            for (uint32_t user : named)
                if (event_extra(events, kSignOnFailed, user) == kNoEvent)
                    return false;
            return true;
        },
        kTimeoutMs));
    const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
    for (uint32_t user : named)
    {
        SCOPED_TRACE("user " + std::to_string(user));
        EXPECT_EQ(event_extra(events, kStatusQueryTimedOut, user), -1);
        EXPECT_EQ(event_extra(events, kSignOnFailed, user), -1) << "one close, with no host error code";
    }

    // The box's users and the office's places are free: a ninth trader of the office signs
    // on (had its user not been admitted, its sign-on would have been refused with 11022;
    // had its sign-on been held back behind the eight, it would still wait).
    qel_sim::workstation_client ninth_client;
    ASSERT_TRUE(ninth_client.connect("127.0.0.1", road.workstation_port, kOffice));
    qel_sim::trader ninth(ninth_client, kNinthUser);
    ASSERT_EQ(ninth.sign_on(kTimeoutMs).error_code, 0);
    ASSERT_TRUE(qel_test::answered(ninth.system_information(kTimeoutMs), 1601));

    // The lost answers (the sign-on responses and the status query replies) come at last:
    // the gateway finds none of their users, and the ninth trader hears nothing of them.
    const size_t received_before = ninth_client.received().size();
    road.box->send_held_answers();
    for (uint32_t user : named)
    {
        SCOPED_TRACE("user " + std::to_string(user));
        EXPECT_TRUE(qel_test::wait_until([&] { return answers_for_no_one(road, user) >= 2; }, kTimeoutMs));
    }
    qel_sim::workstation_frame frame;
    EXPECT_FALSE(ninth_client.receive(&frame, 1000)) << "a late answer reached the ninth trader";
    EXPECT_EQ(ninth_client.received().size(), received_before);
    EXPECT_TRUE(ninth_client.check_failures().empty());
    qel_sim::trader_order order;
    EXPECT_TRUE(qel_test::answered(ninth.enter(order, kTimeoutMs), 2073));
    EXPECT_EQ(road.stop().exit_code, 0);
}
