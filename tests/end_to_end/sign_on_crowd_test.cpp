// Honest traders connecting and signing on together to a quiet gateway, as at the start of
// a day or when every workstation connects again after a restart: two, ten and fifty at
// once, from one address (one office behind one address) and from several. Every one of
// them signs on and trades, and the logs keep each one's whole story: its "Incoming client
// connection" line, its sign-on request in the workstation network thread's request log and
// the sign-on response in its response log, and nothing about any of them is left out. At
// DEBUG, the invitation sent before the user is bound is kept too, even beside a connection
// that left without signing on. And eight traders from one address connecting while the box
// logs on all get the gateway's eight slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "sim/workstation/trader_crowd.h"
#include "support/binary_log.h"
#include "support/fix_road.h"
#include "support/gateway_log.h"

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
