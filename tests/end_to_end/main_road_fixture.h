// The main road as the end-to-end suites run it: qel_ip as its own process with a full
// configuration on free loopback ports, the simulated exchange host in the test (reached
// through a proxy that the test can cut, when asked for), and a way to connect
// workstations to the gateway.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <memory>
#include <string>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/host_link_proxy.h"
#include "support/test_support.h"
#include "support/workstation_trader.h"

namespace qel_test
{
const uint32_t kTimeoutMs = 10000;

struct main_road
{
    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    std::unique_ptr<qel_sim::sim_host> host;
    std::unique_ptr<qel_sim::sim_box_host> box;
    std::unique_ptr<qel_test::host_link_proxy> proxy; // between the gateway and the host, when asked for
    std::unique_ptr<qel_test::child_process> gateway;
    uint16_t workstation_port = 0;

    // `values`: configuration keys that differ from the suites' defaults.
    explicit main_road(qel_sim::exchange_options exchange = qel_sim::exchange_options(),
                       qel_sim::box_faults faults = qel_sim::box_faults(), bool through_proxy = false,
                       const std::map<std::string, std::string> &values = {})
    {
        host.reset(new qel_sim::sim_host());
        EXPECT_TRUE(host->start());
        qel_sim::box_options box_options;
        box_options.box_id = 101;
        box.reset(new qel_sim::sim_box_host(*host, box_options, exchange));
        box->set_faults(faults);
        uint16_t host_port = host->port();
        if (through_proxy)
        {
            proxy.reset(new qel_test::host_link_proxy(host_port));
            EXPECT_TRUE(proxy->start());
            host_port = proxy->port();
        }
        config.values["HOST_PORT_NUMBER"] = std::to_string(host_port);
        for (const auto &value : values)
            config.values[value.first] = value.second;
        workstation_port = config.port("PORT_NUMBER");
        gateway.reset(new qel_test::child_process({QEL_IP_BINARY, "-c", config.write(dir)}, dir.path()));
    }

    ~main_road()
    {
        if (gateway)
            stop();
        proxy.reset();
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
} // namespace qel_test
