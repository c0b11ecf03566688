// The console ports of a running qel_ip, seen by the simulated console: the version check
// first on both ports, the box and user information answers, and the restart request,
// after which the gateway stops in order and exits with 10001 (17 to a parent).
#include <gtest/gtest.h>

#include <string>

#include "sim/console/console_client.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

using namespace qel_test;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{
// Connects once the gateway listens, and returns the first packet (the version check).
bool connect_to_gateway(console_client &client, uint16_t port, packet *first)
{
    return wait_until(
        [&]
        {
            if (!client.connect(port))
                return false;
            return client.receive(first, 2000) == receive_result::packet;
        },
        20000);
}

std::vector<packet> receive_checked(console_client &client, size_t count)
{
    std::vector<packet> packets = client.receive_many(count, 5000);
    EXPECT_EQ(packets.size(), count);
    for (const packet &p : packets)
        EXPECT_EQ(sim_console::check_packet(p), "") << sim_console::describe(p);
    return packets;
}
} // namespace

TEST(ConsoleGateway, ConsolePortsAnswerAndRestartStopsTheGatewayWith10001)
{
    temp_dir dir;
    gateway_config config;
    std::string path = config.write(dir);
    uint16_t realtime_port =
        static_cast<uint16_t>(std::stoi(config.values["INTERFACE_REALTIME_PORT_NUMBER"]));
    uint16_t interactive_port =
        static_cast<uint16_t>(std::stoi(config.values["INTERFACE_INTERACTIVE_PORT_NUMBER"]));
    child_process gateway({QEL_IP_BINARY, "-c", path}, dir.path());

    console_client realtime, interactive;
    packet first;
    ASSERT_TRUE(connect_to_gateway(interactive, interactive_port, &first));
    EXPECT_EQ(first.transcode(), sim_console::TC_VERSION_CHECK);
    EXPECT_EQ(first.u32(30), sim_console::GATEWAY_VERSION);
    ASSERT_TRUE(connect_to_gateway(realtime, realtime_port, &first));
    EXPECT_EQ(first.transcode(), sim_console::TC_VERSION_CHECK);
    EXPECT_EQ(sim_console::check_packet(first), "");

    ASSERT_TRUE(interactive.send_request(sim_console::TC_BOX_INFORMATION_REQUEST));
    std::vector<packet> box = receive_checked(interactive, 3);
    ASSERT_EQ(box.size(), 3u);
    EXPECT_EQ(box[0].u16(34), 101);
    EXPECT_EQ(box[0].u16(36), 0);
    EXPECT_EQ(box[1].u16(30), 101);
    EXPECT_EQ(box[2].transcode(), sim_console::TC_BOX_INFORMATION_RESPONSE);

    ASSERT_TRUE(interactive.send_request(sim_console::TC_USER_INFORMATION_REQUEST));
    std::vector<packet> users = receive_checked(interactive, 2);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].transcode(), sim_console::TC_USER_INFORMATION_HEADER);
    EXPECT_EQ(users[1].transcode(), sim_console::TC_USER_INFORMATION_RESPONSE);

    ASSERT_TRUE(interactive.send_request(sim_console::TC_RESTART));
    process_result result = gateway.wait(30000);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_code, 10001) << result.output;
    EXPECT_TRUE(interactive.wait_closed(5000));
    EXPECT_TRUE(realtime.wait_closed(5000));
}
