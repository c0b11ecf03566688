// sim_host: the simulated exchange host as a program, for the demo and for trying the
// gateway by hand. It listens on the given loopback port, checks and logs every frame the
// gateway sends, and stops after the given number of seconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "sim/host/sim_host.h"

int main(int argc, char **argv)
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: sim_host <port> [seconds]\n");
        return 2;
    }
    qel_sim::host_options options;
    options.port = static_cast<uint16_t>(atoi(argv[1]));
    uint32_t seconds = argc > 2 ? static_cast<uint32_t>(atoi(argv[2])) : 60;
    options.lifetime_ms = seconds * 1000;
    qel_sim::sim_host host(options);
    host.on_record([](qel_sim::sim_host &, const qel_sim::host_record &record) {
        printf("connection %u frame %u record transcode %u, %zu bytes\n", record.connection, record.frame_index,
               record.transcode, record.data.size());
        fflush(stdout);
    });
    if (!host.start())
    {
        fprintf(stderr, "sim_host: cannot listen on port %u\n", options.port);
        return 1;
    }
    printf("sim_host listening on %s:%u for %u s\n", options.address.c_str(), host.port(), seconds);
    fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    host.stop();
    size_t bad = host.errors().size();
    printf("sim_host: %zu frames, %u connections, %zu errors\n", host.frame_count(), host.connections_accepted(), bad);
    return bad == 0 ? 0 : 1;
}
