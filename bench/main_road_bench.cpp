// The main road's round trip: one trader at a workstation enters orders through a running
// qel_ip (its own process) to the simulated exchange host and waits for each
// confirmation. Prints the latency of order entry to confirmation (p50, p99, p99.9, max)
// and the order rate that one trader reaches this way.
//
//   main_road_bench [orders]
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "sim/workstation/trader.h"
#include "support/gateway_config.h"
#include "support/test_support.h"

int main(int argc, char *argv[])
{
    uint32_t orders = argc > 1 ? static_cast<uint32_t>(strtoul(argv[1], nullptr, 10)) : 5000;
    qel_test::temp_dir dir;
    qel_sim::sim_host host;
    if (!host.start())
        return 1;
    qel_sim::box_options box;
    box.box_id = 101;
    // The exchange's rate control would otherwise hold the trader at 100 orders a second.
    box.base_rate = 30000;
    qel_sim::sim_box_host exchange(host, box);

    qel_test::gateway_config config;
    config.values["HOST_PORT_NUMBER"] = std::to_string(host.port());
    config.values["SYSTEM_LOGGING_LEVEL"] = "BUSINESS_ERROR";
    config.values["SYSTEM_BINARY_LOGGING_ENABLED"] = "FALSE";
    config.values["FIX_LOGGING"] = "N";
    uint16_t port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
    qel_test::child_process gateway({QEL_IP_BINARY, "-c", config.write(dir)}, dir.path());

    qel_sim::workstation_client client;
    if (!qel_test::wait_until([&] { return client.connect("127.0.0.1", port); }, 10000))
        return 1;
    qel_sim::trader trader(client, 1001);
    if (!trader.sign_on(10000).arrived || !trader.system_information(10000).arrived)
        return 1;

    std::vector<double> micros;
    micros.reserve(orders);
    auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < orders; ++i)
    {
        qel_sim::trader_order order;
        auto before = std::chrono::steady_clock::now();
        qel_sim::trader_reply reply = trader.enter(order, 10000);
        auto after = std::chrono::steady_clock::now();
        if (!reply.arrived || reply.transcode != 2073)
        {
            fprintf(stderr, "order %u got no confirmation\n", i);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(after - before).count());
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    trader.sign_off(10000);
    gateway.signal(SIGTERM);
    gateway.wait(20000);
    host.stop();

    std::sort(micros.begin(), micros.end());
    auto at = [&](double q)
    { return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))]; };
    printf("main road, order entry to confirmation, %u orders from one workstation:\n", orders);
    printf("  p50 %.1f us  p99 %.1f us  p99.9 %.1f us  max %.1f us\n", at(0.50), at(0.99), at(0.999),
           micros.back());
    printf("  %.0f orders/s with one order in flight\n", orders / seconds);
    return 0;
}
