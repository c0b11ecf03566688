// sim_host: the simulated exchange host as a program, for the demo and for trying the
// gateway by hand. It listens on a loopback port and behaves as the exchange: it signs
// the gateway's box on, keeps the session, answers users and orders, and prints one line
// for every record that comes or goes. It stops after its lifetime or on SIGTERM, SIGINT
// or SIGHUP.
//
//   sim_host [-p port] [-t seconds] [-b box id] [-k broker id] [-r base rate] [-u users]
//            [-n] [-f] [-z] [-x] [-H heart-beat ms] [-U user[:password[:refusal]]]... [-q]
//            [-s streams] [-m market status] [-N] [-D sign-on delay ms]
//   (the older form "sim_host <port> [seconds]" still works)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "common/ea_getopt.h"
#include "platform/core/pf_signal.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"

namespace
{
void usage()
{
    fprintf(
        stderr,
        "usage: sim_host [-p port] [-t seconds] [-b box id] [-k broker id] [-r base rate]\n                [-u max users] [-n no session recovery] [-f fill every order]\n                [-z compress replies] [-x refuse unknown users] [-H heart-beat ms]\n                [-U user[:password[:refusal code]]]... [-q frames only]\n                [-s journal streams] [-m market status 0-4] [-N news after a journal download]\n                [-D users' sign-ons answered this many ms late]\n       sim_host <port> [seconds]\n");
}

qel_sim::exchange_user parse_user(const std::string &text)
{
    qel_sim::exchange_user user;
    size_t first = text.find(':');
    user.user_id = static_cast<uint32_t>(strtoul(text.substr(0, first).c_str(), nullptr, 10));
    if (first != std::string::npos)
    {
        size_t second = text.find(':', first + 1);
        user.password =
            text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (second != std::string::npos)
            user.refuse_error = static_cast<uint16_t>(atoi(text.c_str() + second + 1));
    }
    return user;
}
} // namespace

int main(int argc, char **argv)
{
    qel_sim::host_options options;
    qel_sim::box_options box;
    qel_sim::exchange_options exchange;
    uint32_t seconds = 60;
    bool frames_only = false;
    bool compress = false;
    uint32_t sign_on_delay_ms = 0;
    int option;
    while ((option = ea::getopt(argc, argv, "p:t:b:k:r:u:nfzxH:U:qs:m:ND:")) != -1)
    {
        switch (option)
        {
        case 'p':
            options.port = static_cast<uint16_t>(atoi(ea::optarg));
            break;
        case 't':
            seconds = static_cast<uint32_t>(atoi(ea::optarg));
            break;
        case 'b':
            box.box_id = static_cast<uint16_t>(atoi(ea::optarg));
            break;
        case 'k':
            box.broker_id = ea::optarg;
            break;
        case 'r':
            box.base_rate = static_cast<int16_t>(atoi(ea::optarg));
            break;
        case 'u':
            box.max_users = static_cast<int16_t>(atoi(ea::optarg));
            break;
        case 'n':
            box.recovery_enabled = false;
            break;
        case 'f':
            exchange.fill_on_entry = true;
            break;
        case 'z':
            compress = true;
            break;
        case 'x':
            exchange.accept_unknown_users = false;
            break;
        case 'H':
            box.heart_beat_interval_ms = static_cast<uint32_t>(atoi(ea::optarg));
            break;
        case 'U':
            exchange.users.push_back(parse_user(ea::optarg));
            break;
        case 'q':
            frames_only = true;
            break;
        case 's':
            exchange.streams = static_cast<uint8_t>(atoi(ea::optarg));
            break;
        case 'm':
            exchange.market_status = static_cast<uint16_t>(atoi(ea::optarg));
            break;
        case 'N':
            exchange.broadcast_after_journal = true;
            break;
        case 'D':
            sign_on_delay_ms = static_cast<uint32_t>(atoi(ea::optarg));
            break;
        default:
            usage();
            return 2;
        }
    }
    if (ea::optind < argc)
        options.port = static_cast<uint16_t>(atoi(argv[ea::optind]));
    if (ea::optind + 1 < argc)
        seconds = static_cast<uint32_t>(atoi(argv[ea::optind + 1]));
    if (options.port == 0)
    {
        usage();
        return 2;
    }

    options.lifetime_ms = seconds * 1000 + 1000;
    qel_sim::sim_host host(options);
    std::unique_ptr<qel_sim::sim_box_host> exchange_host;
    if (frames_only)
    {
        host.on_record(
            [](qel_sim::sim_host &, const qel_sim::host_record &record)
            {
                printf("connection %u frame %u record transcode %u, %zu bytes\n", record.connection,
                       record.frame_index, record.transcode, record.data.size());
                fflush(stdout);
            });
    }
    else
    {
        exchange_host.reset(new qel_sim::sim_box_host(host, box, exchange));
        qel_sim::box_faults faults;
        faults.compress_replies = compress;
        faults.user_sign_on_delay_ms = sign_on_delay_ms;
        exchange_host->set_faults(faults);
        exchange_host->on_line(
            [](const std::string &text)
            {
                printf("%s\n", text.c_str());
                fflush(stdout);
            });
    }
    if (!host.start())
    {
        fprintf(stderr, "sim_host: cannot listen on port %u\n", options.port);
        return 1;
    }
    printf("sim_host listening on %s:%u for %u s\n", options.address.c_str(), host.port(), seconds);
    fflush(stdout);

    static std::atomic<uint16_t> stop{0};
    pf_stop_on_termination_signal(&stop);
    std::chrono::steady_clock::time_point end =
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (stop.load() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    exchange_host.reset();
    host.stop();
    size_t bad = host.errors().size();
    printf("sim_host: %zu frames, %u connections, %zu errors%s\n", host.frame_count(),
           host.connections_accepted(), bad, stop.load() != 0 ? ", stopped by signal" : "");
    return bad == 0 ? 0 : 1;
}
