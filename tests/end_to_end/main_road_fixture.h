// The main road as the end-to-end suites run it: qel_ip as its own process with a full
// configuration on free loopback ports, the simulated exchange host in the test, and a
// way to connect workstations to the gateway.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

namespace qel_test
{
const uint32_t kTimeoutMs = 10000;

struct main_road
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0;

    explicit main_road(qel_sim::exchange_options exchange = qel_sim::exchange_options(),
                       qel_sim::box_faults faults = qel_sim::box_faults())
    {
        host.reset(new qel_sim::sim_host());
        EXPECT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, exchange));
        box->set_faults(faults);
        config.values["HOST_PORT_NUMBER"] = std::to_string(host->port());
        workstation_port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        gateway.reset(new qel_test::child_process({QEL_IP_BINARY, "-c", config.write(dir)}, dir.path()));
    }

    ~main_road()
    {
        if (gateway)
            stop();
        host->stop();
    }

    // A workstation connected to the gateway (the gateway may still be starting).
    void connect(qel_sim::workstation_client &client)
    {
        ASSERT_TRUE(
            qel_test::wait_until([&] { return client.connect("127.0.0.1", workstation_port); }, 10000));
    }

    qel_test::process_result stop()
    {
        gateway->signal(SIGTERM);
        qel_test::process_result result = gateway->wait(20000);
        gateway.reset();
        return result;
    }
};

inline bool answered(const qel_sim::trader_reply &reply, int16_t transcode)
{
    return reply.arrived && reply.transcode == transcode && reply.error_code == 0;
}
} // namespace qel_test
