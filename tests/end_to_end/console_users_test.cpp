// The console ports of a running gateway with traders signed on: the interactive port
// lists the users and the box, the realtime port replays the day's events and then
// streams new ones as they happen.
#include "main_road_fixture.h"

#include <map>

#include "sim/console/console_client.h"

using qel_test::answered;
using qel_test::kTimeoutMs;
using qel_test::main_road;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{

// Packets until one of the transcode arrives (that one included).
std::vector<packet> receive_until(console_client &console, uint16_t transcode)
{
    std::vector<packet> packets;
    packet p;
    while (console.receive(&p, kTimeoutMs) == receive_result::packet)
    {
        EXPECT_EQ(sim_console::check_packet(p), "") << sim_console::describe(p);
        packets.push_back(p);
        if (p.transcode() == transcode)
            break;
    }
    return packets;
}
} // namespace

TEST(ConsolePorts, InteractivePortListsSignedOnUsersAndTheBox)
{
    main_road road;
    qel_sim::workstation_client first_client, second_client;
    road.connect(first_client);
    road.connect(second_client);
    qel_sim::trader first(first_client, 5001), second(second_client, 5002);
    ASSERT_TRUE(answered(first.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(first.system_information(kTimeoutMs), 1601));
    ASSERT_TRUE(answered(second.sign_on(kTimeoutMs), 2301));

    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_INTERACTIVE_PORT_NUMBER")));
    packet version;
    ASSERT_EQ(console.receive(&version, kTimeoutMs), receive_result::packet);
    EXPECT_EQ(version.transcode(), sim_console::TC_VERSION_CHECK);

    ASSERT_TRUE(console.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    std::vector<packet> users = receive_until(console, sim_console::TC_USER_INFORMATION_RESPONSE);
    ASSERT_GE(users.size(), 2u);
    EXPECT_EQ(users.front().transcode(), sim_console::TC_USER_INFORMATION_HEADER);
    EXPECT_EQ(users.back().transcode(), sim_console::TC_USER_INFORMATION_RESPONSE);
    std::map<uint32_t, uint16_t> status;
    for (const packet &p : users)
    {
        if (p.transcode() == sim_console::TC_USER_INFORMATION_DATA)
            status[p.u32(30)] = p.u16(34);
    }
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(sim_console::logon_status_text(status[5001]), sim_console::logon_status_text(2))
        << "the first trader finished the logon";
    EXPECT_NE(status[5001], status[5002]) << "the second trader is still logging on";

    ASSERT_TRUE(console.send_request(sim_console::TC_BOX_INFORMATION_REQUEST));
    std::vector<packet> box = receive_until(console, sim_console::TC_BOX_INFORMATION_RESPONSE);
    bool box_listed = false;
    for (const packet &p : box)
    {
        if (p.transcode() == sim_console::TC_BOX_INFORMATION_HEADER)
        {
            EXPECT_EQ(p.u16(34), 101);
        }
        if (p.transcode() == sim_console::TC_BOX_INFORMATION_DATA)
            box_listed = true;
    }
    EXPECT_TRUE(box_listed);
}

TEST(ConsolePorts, RealtimePortReplaysTheDayThenStreamsNewEvents)
{
    main_road road;
    qel_sim::workstation_client client;
    road.connect(client);
    qel_sim::trader first(client, 6001);
    ASSERT_TRUE(answered(first.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(first.system_information(kTimeoutMs), 1601));

    console_client console;
    ASSERT_TRUE(console.connect(road.config.port("INTERFACE_REALTIME_PORT_NUMBER")));
    packet p;
    ASSERT_EQ(console.receive(&p, kTimeoutMs), receive_result::packet);
    EXPECT_EQ(p.transcode(), sim_console::TC_VERSION_CHECK);
    // The replay holds the events of the first trader's logon.
    bool replayed = false;
    while (!replayed && console.receive(&p, 2000) == receive_result::packet)
        replayed = p.transcode() == sim_console::TC_KOVA_LOG_MESSAGE &&
                   sim_console::decode_log_event(p).user_id == 6001;
    EXPECT_TRUE(replayed);

    // A second trader signs on while the console watches: its events arrive live.
    qel_sim::workstation_client second_client;
    road.connect(second_client);
    qel_sim::trader second(second_client, 6002);
    ASSERT_TRUE(answered(second.sign_on(kTimeoutMs), 2301));
    ASSERT_TRUE(answered(second.system_information(kTimeoutMs), 1601));
    bool live = false;
    while (!live && console.receive(&p, kTimeoutMs) == receive_result::packet)
        live = p.transcode() == sim_console::TC_KOVA_LOG_MESSAGE &&
               sim_console::decode_log_event(p).user_id == 6002;
    EXPECT_TRUE(live);
}
