// Honest traders connecting and signing on together to a quiet gateway, as at the start of
// a day or when every workstation connects again after a restart: two, ten and fifty at
// once, from one address (one office behind one address) and from several. Every one of
// them signs on and trades, and the logs keep each one's whole story: its "Incoming client
// connection" line, its sign-on request in the workstation network thread's request log and
// the sign-on response in its response log, and nothing about any of them is left out. At
// DEBUG, the invitation sent before the user is bound is kept too, even beside a connection
// that left without signing on. Eight traders from one address connecting while the box
// logs on all get the gateway's eight slots. With a host slow to answer users' sign-ons, a
// hundred traders of one office all sign on with the host at 3 s, and fifty with the host
// at 6 s: time the gateway holds a sign-on is not charged to it. And when a box of ten
// users refuses most of a crowd of 45 over five addresses, the console names every refused
// user, each counted for its own refusals only.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim/workstation/trader_crowd.h"
#include "support/binary_log.h"
#include "support/fix_road.h"
#include "support/gateway_log.h"
#include "support/log_folder_figures.h"

namespace
{
const uint32_t kTimeoutMs = 15000;
const uint32_t kFirstUser = 7001;
const char *const kNetworkThread = "tws_network_handler_thread";
// The threads that hold what they write about a connection until it signs on.
const char *const kHoldingThreads[] = {"tws_network_handler_thread", "tws_receive_validator_thread",
                                       "tws_send_validator_thread", "user_session_thread"};
const int16_t kSignOnRequest = 2300;
const int16_t kSignOnResponse = 2301;
const int16_t kInvitation = 15000;

qel_sim::box_options box_of(uint32_t users)
{
    qel_sim::box_options options;
    options.max_users = static_cast<int16_t>(users);
    return options;
}

// The peer address a line "Incoming client connection from socket [s], IP [a.b.c.d]" names.
std::string address_of(const std::string &text)
{
    const std::string::size_type at = text.find("IP [");
    if (at == std::string::npos)
        return "";
    return text.substr(at + 4, text.find(']', at) - at - 4);
}

bool begins(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

// Every trader of the crowd traded; how far one that did not got.
void expect_each_traded(const qel_sim::trader_crowd &crowd)
{
    for (const qel_sim::crowd_member &member : crowd.members())
        EXPECT_TRUE(member.traded) << "user " << member.user << " from " << member.address << ": "
                                   << (member.connected ? "connected" : "not connected") << ", "
                                   << (member.invited ? "invited" : "not invited") << ", sign-on error "
                                   << member.sign_on_error << " after " << member.sign_on_ms << " ms, "
                                   << (member.signed_on ? "signed on" : "not signed on");
    EXPECT_TRUE(crowd.check_failures().empty());
}

// A gateway with room for the crowd, logging at `level`.
std::map<std::string, std::string> crowd_config(uint32_t slots, const char *level)
{
    return {{"MAX_TWS_CLIENTS", std::to_string(slots)}, {"SYSTEM_LOGGING_LEVEL", level}};
}

// Every trader signs on and trades; after the gateway's stop, its logs hold one
// "Incoming client connection" line per trader from the trader's address, a sign-on request
// naming each user in the request log and a sign-on response for each in the response
// log, and no line saying something about a connection was left out.
void expect_a_crowd_keeps_every_story(uint32_t count, const std::vector<std::string> &addresses)
{
    qel_test::fix_road road({1001}, box_of(count), qel_sim::exchange_options(),
                            crowd_config(count + 5, "EVENT"));
    ASSERT_TRUE(road.listening);
    qel_sim::trader_crowd crowd(road.workstation_port, kFirstUser, count, addresses);
    crowd.connect(qel_sim::crowd_connects::at_once, 10000, kTimeoutMs);
    crowd.sign_on_together(kTimeoutMs);
    EXPECT_EQ(crowd.signed_on(), count);
    expect_each_traded(crowd);
    qel_test::process_result result = road.stop();
    EXPECT_EQ(result.exit_code, 0);

    const std::string logs = road.dir.file("logs");
    std::map<std::string, uint32_t> incoming, expected;
    for (const qel_sim::crowd_member &member : crowd.members())
        expected[member.address]++;
    for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(logs, kNetworkThread))
        if (begins(line.text, "Incoming client connection from socket"))
            incoming[address_of(line.text)]++;
    EXPECT_EQ(incoming, expected) << "\"Incoming client connection\" lines per address";

    std::string damage;
    std::map<uint32_t, uint32_t> requests, responses;
    for (const qel_test::binary_log_record &r :
         qel_test::binary_log_records(logs, kNetworkThread, "request", &damage))
        if (qel_test::frame_transcode(r) == kSignOnRequest)
            requests[qel_test::frame_sign_on_user(r)]++;
    for (const qel_test::binary_log_record &r :
         qel_test::binary_log_records(logs, kNetworkThread, "response", &damage))
        if (qel_test::frame_transcode(r) == kSignOnResponse)
            responses[qel_test::frame_user_id(r)]++;
    EXPECT_EQ(damage, "");
    for (const qel_sim::crowd_member &member : crowd.members())
    {
        SCOPED_TRACE("user " + std::to_string(member.user) + " from " + member.address);
        EXPECT_EQ(requests[member.user], 1u) << "sign-on requests in the request log";
        EXPECT_EQ(responses[member.user], 1u) << "sign-on responses in the response log";
    }
    for (const char *thread : kHoldingThreads)
        for (const qel_test::gateway_log_line &line : qel_test::gateway_log_lines(logs, thread))
            EXPECT_FALSE(begins(line.text, "Left out") &&
                         line.text.find("binary log records") != std::string::npos)
                << thread << ": " << line.text;
}

std::vector<std::string> several_addresses()
{
    return {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
}
} // namespace

TEST(SignOnCrowd, TwoTradersTogetherKeepTheirWholeStories)
{
    expect_a_crowd_keeps_every_story(2, {"127.0.0.2"});
}

TEST(SignOnCrowd, TenTradersFromOneAddressKeepTheirWholeStories)
{
    expect_a_crowd_keeps_every_story(10, {"127.0.0.2"});
}

TEST(SignOnCrowd, TenTradersFromSeveralAddressesKeepTheirWholeStories)
{
    expect_a_crowd_keeps_every_story(10, several_addresses());
}

TEST(SignOnCrowd, FiftyTradersFromOneAddressKeepTheirWholeStories)
{
    expect_a_crowd_keeps_every_story(50, {"127.0.0.2"});
}

TEST(SignOnCrowd, FiftyTradersFromSeveralAddressesKeepTheirWholeStories)
{
    expect_a_crowd_keeps_every_story(50, several_addresses());
}

// At DEBUG the network thread writes many lines about a connection before its sign-on. A
// trader whose workstation dropped its first connection before signing on (and so left a
// story of its own) connects again at once and signs on: the invitation sent on the new
// connection before its user was bound still stands in the response log, ahead of the
// sign-on response.
TEST(SignOnCrowd, ATraderAtDebugKeepsTheInvitationSentBeforeItsUserIsBound)
{
    qel_test::fix_road road({1001}, box_of(10), qel_sim::exchange_options(), crowd_config(10, "DEBUG"));
    ASSERT_TRUE(road.listening);
    qel_sim::workstation_client dropped, client;
    ASSERT_TRUE(qel_test::wait_until(
        [&] { return dropped.connect("127.0.0.1", road.workstation_port, "127.0.0.2"); }, 10000));
    ASSERT_TRUE(dropped.wait_for_invitation(kTimeoutMs));
    dropped.close();
    ASSERT_TRUE(client.connect("127.0.0.1", road.workstation_port, "127.0.0.2"));
    qel_sim::trader trader(client, kFirstUser);
    ASSERT_EQ(trader.sign_on(kTimeoutMs).error_code, 0);
    ASSERT_TRUE(trader.system_information(kTimeoutMs).arrived);
    EXPECT_EQ(road.stop().exit_code, 0);

    const std::string logs = road.dir.file("logs");
    int32_t handle = -1;
    for (const qel_test::binary_log_record &r : qel_test::binary_log_records(logs, kNetworkThread, "request"))
        if (qel_test::frame_transcode(r) == kSignOnRequest && qel_test::frame_sign_on_user(r) == kFirstUser)
            handle = r.workstation_handle;
    ASSERT_NE(handle, -1) << "no sign-on request in the request log";
    std::vector<int16_t> sent;
    for (const qel_test::binary_log_record &r :
         qel_test::binary_log_records(logs, kNetworkThread, "response"))
        if (r.workstation_handle == handle)
            sent.push_back(qel_test::frame_transcode(r));
    ASSERT_FALSE(sent.empty()) << "nothing sent on the connection stands in the response log";
    EXPECT_EQ(sent.front(), kInvitation) << "the first record sent on the connection";
    EXPECT_NE(std::find(sent.begin(), sent.end(), kSignOnResponse), sent.end())
        << "no sign-on response in the response log";
}

// Eight traders of one office, behind one address, connect while the box logs on (the host
// answers the box's sign-on late): the gateway has eight slots, and every one of them
// signs on.
TEST(SignOnCrowd, EightTradersFromOneAddressAllSignOnWhileTheBoxLogsOn)
{
    const uint32_t slots = 8;
    qel_sim::box_faults late;
    late.sign_on_delay_ms = 3000;
    qel_test::fix_road road({1001}, box_of(slots), qel_sim::exchange_options(), crowd_config(slots, "EVENT"));
    road.box->set_faults(late);
    ASSERT_TRUE(road.listening);
    qel_sim::trader_crowd office(road.workstation_port, kFirstUser, slots, {"127.0.0.2"});
    office.connect(qel_sim::crowd_connects::at_once, 10000, kTimeoutMs);
    // The first connect started the box's logon; the host has not answered it yet.
    EXPECT_FALSE(road.box->state().signed_on) << "the connects came after the box's logon";
    office.sign_on_together(kTimeoutMs);
    EXPECT_EQ(office.signed_on(), slots);
    expect_each_traded(office);
    EXPECT_EQ(road.box->state().sign_ons, 1u);
    EXPECT_EQ(office.sign_off(kTimeoutMs), slots);
    EXPECT_EQ(road.stop().exit_code, 0);
}

namespace
{
const uint16_t kNoSignOnInTime = 11027;
const uint16_t kBoxUserLimit = 11022;

// How many happenings the console events of `reason` naming `user` stand for: one each, or
// the count a folded one carries.
uint64_t counted(const std::vector<qel_test::console_event> &events, uint16_t reason, uint32_t user)
{
    uint64_t total = 0;
    for (const qel_test::console_event &e : events)
        if (e.reason == reason && e.user == user)
            total += e.extra == -1 ? 1 : static_cast<uint64_t>(e.extra);
    return total;
}

uint64_t counted_of_any_user(const std::vector<qel_test::console_event> &events, uint16_t reason)
{
    uint64_t total = 0;
    for (const qel_test::console_event &e : events)
        if (e.reason == reason)
            total += e.extra == -1 ? 1 : static_cast<uint64_t>(e.extra);
    return total;
}

// How far each trader of a crowd got, as "outcome: count" pairs.
std::string outcomes(const qel_sim::trader_crowd &crowd)
{
    std::map<std::string, uint32_t> tally;
    for (const qel_sim::crowd_member &m : crowd.members())
        ++tally[!m.connected           ? "not connected"
                : !m.invited           ? "not invited"
                : m.signed_on          ? (m.traded ? "traded" : "signed on, not traded")
                : m.sign_on_error != 0 ? "refused with " + std::to_string(m.sign_on_error)
                                       : "no answer"];
    std::string text;
    for (const auto &t : tally)
        text += " " + std::to_string(t.second) + " " + t.first + ";";
    return text;
}

// The slowest sign-on of the crowd that signed on, in ms from the release of the sign-ons.
double last_sign_on_ms(const qel_sim::trader_crowd &crowd)
{
    double last = 0;
    for (const qel_sim::crowd_member &m : crowd.members())
        if (m.signed_on)
            last = std::max(last, m.sign_on_ms);
    return last;
}

// `count` traders from `addresses` connect at once and sign on together to a gateway of
// `slots` slots and a box of as many users as traders, the host answering each user's
// sign-on `delay_ms` late: every one signs on and trades, and none is cut for not signing
// on in time. The time the last sign-on took.
double expect_a_crowd_signs_on_beside_a_slow_host(uint32_t count, const std::vector<std::string> &addresses,
                                                  uint32_t delay_ms, uint32_t slots)
{
    qel_test::fix_road road({1001}, box_of(count), qel_sim::exchange_options(), crowd_config(slots, "EVENT"));
    qel_sim::box_faults slow;
    slow.user_sign_on_delay_ms = delay_ms;
    road.box->set_faults(slow);
    EXPECT_TRUE(road.listening);
    qel_sim::trader_crowd crowd(road.workstation_port, kFirstUser, count, addresses);
    crowd.connect(qel_sim::crowd_connects::at_once, 10000, kTimeoutMs);
    // Longer than the gateway's 30 s for a sign-on, so that a cut shows as a cut.
    crowd.sign_on_together(45000);
    const double last = last_sign_on_ms(crowd);
    // A cut's folded count goes out a second after the last cut.
    const uint64_t missing = count - crowd.signed_on();
    if (missing > 0)
        qel_test::wait_until(
            [&] {
                return counted_of_any_user(qel_test::day_console_events(road.dir), kNoSignOnInTime) >=
                       missing;
            },
            5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);
    std::cout << count << " traders from " << addresses.size() << " address(es), the host answering sign-ons "
              << delay_ms << " ms late: " << crowd.signed_on() << " signed on, the last after " << last
              << " ms;" << outcomes(crowd) << " console events " << kNoSignOnInTime << " counting "
              << counted_of_any_user(events, kNoSignOnInTime) << "\n";
    EXPECT_EQ(crowd.signed_on(), count);
    expect_each_traded(crowd);
    EXPECT_EQ(counted_of_any_user(events, kNoSignOnInTime), 0u) << "traders cut for not signing on in time";
    return last;
}
} // namespace

TEST(SignOnCrowd, AHundredTradersFromOneAddressAllSignOnWithTheHostAtThreeSeconds)
{
    expect_a_crowd_signs_on_beside_a_slow_host(100, {"127.0.0.2"}, 3000, 105);
}

TEST(SignOnCrowd, FiftyTradersFromOneAddressAllSignOnWithTheHostAtSixSeconds)
{
    expect_a_crowd_signs_on_beside_a_slow_host(50, {"127.0.0.2"}, 6000, 50);
}

// Forty traders with the host at 1 s, from one address and from five: when the last signs on
// is reported for each (the gateway's hold of one office against five).
TEST(SignOnCrowd, FortyTradersSignOnWithTheHostAtOneSecondFromOneAddressAndFromFive)
{
    const double one = expect_a_crowd_signs_on_beside_a_slow_host(40, {"127.0.0.2"}, 1000, 50);
    const double five = expect_a_crowd_signs_on_beside_a_slow_host(40, several_addresses(), 1000, 50);
    std::cout << "forty traders, the host at 1 s: the last signed on after " << one
              << " ms from one address, " << five << " ms from five\n";
}

// Forty-five traders over five addresses sign on together to a box of ten users: the host's
// box takes ten, and each of the 35 it has no room for is refused (11022). The console names
// every refused user, and the events naming a user stand for that user's own refusal and no
// other's: more refused users than the gateway folds events for at once must not be counted
// under one another.
TEST(SignOnCrowd, EveryRefusedUserOfACrowdIsNamedWithItsOwnRefusalOnly)
{
    const uint32_t count = 45, box_users = 10;
    qel_test::fix_road road({1001}, box_of(box_users), qel_sim::exchange_options(),
                            crowd_config(50, "EVENT"));
    ASSERT_TRUE(road.listening);
    qel_sim::trader_crowd crowd(road.workstation_port, kFirstUser, count, several_addresses());
    crowd.connect(qel_sim::crowd_connects::at_once, 10000, kTimeoutMs);
    crowd.sign_on_together(kTimeoutMs);
    EXPECT_EQ(crowd.signed_on(), box_users);
    const uint64_t refused = count - crowd.signed_on();
    // The folded counts go out a second after the last refusal.
    qel_test::wait_until(
        [&] { return counted_of_any_user(qel_test::day_console_events(road.dir), kBoxUserLimit) >= refused; },
        10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::vector<qel_test::console_event> events = qel_test::day_console_events(road.dir);

    uint32_t named = 0, miscounted = 0;
    for (const qel_sim::crowd_member &m : crowd.members())
    {
        const uint64_t own = m.signed_on ? 0 : 1;
        const uint64_t shown = counted(events, kBoxUserLimit, m.user);
        named += !m.signed_on && shown > 0 ? 1 : 0;
        miscounted += shown > own ? 1 : 0;
        EXPECT_EQ(shown, own) << "user " << m.user << " from " << m.address
                              << (m.signed_on ? " (signed on)" : " (refused)") << ": the console counts "
                              << shown << " refusals " << kBoxUserLimit << " naming the user";
    }
    std::cout << count << " traders over five addresses to a box of " << box_users << ": "
              << crowd.signed_on() << " signed on;" << outcomes(crowd) << " the console named " << named
              << " of " << refused << " refused users, " << miscounted
              << " users counted with refusals not their own; events " << kBoxUserLimit << " counting "
              << counted_of_any_user(events, kBoxUserLimit) << " in all, "
              << counted(events, kBoxUserLimit, 0) << " of them under user 0\n";
    EXPECT_EQ(named, refused);
}
