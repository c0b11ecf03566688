// parmset on the configuration of a real gateway: the gateway started after parmset moved
// its realtime console port listens on the new port and no longer on the old one.
#include <gtest/gtest.h>

#include "end_to_end/main_road_fixture.h"
#include "sim/console/console_client.h"
#include "support/tool_process.h"

using qel_test::kTimeoutMs;
using sim_console::console_client;
using sim_console::packet;
using sim_console::receive_result;

namespace
{

// Connects (the gateway may still be starting) and reads the gateway's first frame.
uint16_t first_transcode(uint16_t port)
{
    console_client console;
    if (!qel_test::wait_until([&] { return console.connect(port); }, kTimeoutMs))
        return 0;
    packet version;
    return console.receive(&version, kTimeoutMs) == receive_result::packet ? version.transcode() : 0;
}

TEST(ParmsetOnAGateway, RestartedGatewayListensOnTheRealtimePortParmsetWrote)
{
    qel_test::main_road road;
    const uint16_t old_port =
        static_cast<uint16_t>(std::stoi(road.config.values["INTERFACE_REALTIME_PORT_NUMBER"]));
    EXPECT_EQ(first_transcode(old_port), sim_console::TC_VERSION_CHECK);
    ASSERT_EQ(road.stop().exit_code, 0);

    const uint16_t new_port = qel_test::free_port();
    qel_test::tool_options options;
    options.folder = road.dir.path();
    options.env["QEL_REGISTRY_FILE"] = road.dir.file("registry");
    qel_test::tool_result r = qel_test::run_tool(
        {PARMSET_BINARY, "-a", "qel_ip.cfg", "INTERFACE_REALTIME_PORT_NUMBER", std::to_string(new_port)},
        options);
    EXPECT_EQ(r.out, "RESULT=1\n");
    EXPECT_EQ(r.status, 1) << r.err;

    road.gateway.reset(
        new qel_test::child_process({QEL_IP_BINARY, "-c", road.dir.file("qel_ip.cfg")}, road.dir.path()));
    EXPECT_EQ(first_transcode(new_port), sim_console::TC_VERSION_CHECK);
    console_client old_console;
    EXPECT_FALSE(old_console.connect(old_port)) << "the old port is closed";
    qel_test::process_result stopped = road.stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.output;
}

} // namespace
