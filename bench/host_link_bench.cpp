// Throughput of the host link: frames through the host network layer to the simulated
// host over loopback, in batches as the host network thread sends them, and the cost of
// putting on and checking the network header.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "gateway/message_validators/th_validators.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "sim/host/sim_host.h"

static void BM_HostHeaderApplyAndCheck(benchmark::State &state)
{
    const uint32_t length = static_cast<uint32_t>(state.range(0));
    for (auto _ : state)
    {
        message *msg = message_create(length, NORMAL_MESSAGE);
        th_network_header_apply(msg);
        benchmark::DoNotOptimize(th_network_header_check(msg));
        message_destroy(msg);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * length);
}
BENCHMARK(BM_HostHeaderApplyAndCheck)->Arg(4)->Arg(278)->Arg(2000);

// Frames of `range(0)` bytes sent by the layer until the simulated host has them all.
static void BM_HostLinkFramesToSimulatedHost(benchmark::State &state)
{
    qel_sim::sim_host host;
    if (!host.start())
    {
        state.SkipWithError("the simulated host cannot listen");
        return;
    }
    // Logs go to a folder of their own at System Error level, so that the loop is not
    // measuring the log.
    char folder[] = "/tmp/host_link_bench_XXXXXX";
    if (mkdtemp(folder) == nullptr)
    {
        state.SkipWithError("cannot make a folder");
        return;
    }
    std::string config_path = std::string(folder) + "/qel_ip.cfg";
    const char *config_file = config_path.c_str();
    std::string config = "HOST_MACHINE_IP=127.0.0.1\nMACHINE_WAN_IP=127.0.0.1\nHOST_PORT_NUMBER=" +
                         std::to_string(host.port()) + "\nLOG_FILE_PATH=" + folder +
                         "\nSYSTEM_LOGGING_LEVEL=SYSTEM_ERROR\nSYSTEM_BINARY_LOGGING_ENABLED=FALSE\n";
    FILE *file = fopen(config_file, "w");
    if (file == nullptr || fputs(config.c_str(), file) < 0)
    {
        state.SkipWithError("cannot write the configuration");
        return;
    }
    fclose(file);
    const char *names[] = {"th_network_handler_thread"};
    logger_object_container *loggers = logger_object_container_create(config_file, names, 1);
    logger_object *logger = loggers != nullptr ? loggers->loggers[0] : nullptr;
    ea_flag rate[1] = {{32767}};
    ea_flag invite[1] = {{0}};
    user_link_info *table = user_link_info_create(config_file, 1, logger);
    th_nw_info *links = th_nw_info_create(config_file, 1, rate, table, invite, logger);
    queue *frames = queue_create();
    queue *notices = queue_create();
    int32_t handle = -1;
    th_nw_info_connect(links, 0, &handle, logger);
    for (int i = 0; i < 1000 && links->th_nw_handle_list[0].state != TH_LINK_CONNECTED; ++i)
        th_nw_info_get_elements(links, 1, nullptr, 0, 5, frames, notices, nullptr, logger);

    const uint32_t body = static_cast<uint32_t>(state.range(0));
    const int per_round = 100;
    size_t expected = 0;
    for (auto _ : state)
    {
        for (int i = 0; i < per_round; ++i)
        {
            message *msg = message_create(body, NORMAL_MESSAGE);
            msg->data[0] = 0; // an empty packet: count 0
            msg->data[1] = 0;
            msg->host_network_handle = handle;
            th_network_header_apply(msg);
            th_nw_info_send_mesg(links, msg, logger);
        }
        expected += per_round;
        while (links->th_nw_handle_list[0].pending_count > 0)
            th_nw_info_send_pending(links, notices, logger);
        host.wait_for_frames(expected, 10000);
    }
    state.SetItemsProcessed(static_cast<int64_t>(expected));
    state.SetBytesProcessed(static_cast<int64_t>(expected) * (body + 22));
    th_nw_info_destroy(links);
    user_link_info_destroy(table);
    ea_destroy_message_queue(frames);
    ea_destroy_message_queue(notices);
    host.stop();
    if (loggers != nullptr)
        logger_object_container_destroy(loggers);
    // The folder keeps the logs for a look after the run.
}
BENCHMARK(BM_HostLinkFramesToSimulatedHost)->Arg(24)->Arg(278)->UseRealTime();

BENCHMARK_MAIN();
