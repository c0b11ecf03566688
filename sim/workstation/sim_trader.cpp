// sim_trader: one trader at a workstation, for the demo. It connects to the gateway's
// workstation port, signs on, asks for system information, enters a few orders, modifies
// one, cancels one and signs off, printing every step and every answer. Exit status 0
// when every answer came and carried no error.
//
//   sim_trader -p port [-a address] [-u user] [-w password] [-n orders] [-t timeout ms]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "common/ea_getopt.h"
#include "sim/workstation/trader.h"

int main(int argc, char *argv[])
{
    std::string address = "127.0.0.1";
    uint16_t port = 0;
    uint32_t user = 1001;
    std::string password;
    uint32_t orders = 3;
    uint32_t timeout_ms = 10000;
    int option;
    while ((option = ea::getopt(argc, argv, "a:p:u:w:n:t:")) != -1)
    {
        switch (option)
        {
        case 'a':
            address = ea::optarg;
            break;
        case 'p':
            port = static_cast<uint16_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'u':
            user = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'w':
            password = ea::optarg;
            break;
        case 'n':
            orders = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 't':
            timeout_ms = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        default:
            fprintf(
                stderr,
                "usage: sim_trader -p port [-a address] [-u user] [-w password] [-n orders] [-t timeout ms]\n");
            return 2;
        }
    }
    if (port == 0 || orders == 0)
    {
        fprintf(stderr, "sim_trader: a port and at least one order are needed\n");
        return 2;
    }

    // The gateway may still be starting: try for a few seconds.
    qel_sim::workstation_client client;
    for (int attempt = 0; attempt < 100 && !client.connect(address, port); ++attempt)
        usleep(100 * 1000);
    if (!client.connected())
    {
        fprintf(stderr, "sim_trader: cannot connect to %s:%u\n", address.c_str(), port);
        return 1;
    }
    qel_sim::trader trader(client, user, password);
    trader.on_line(
        [](const std::string &line)
        {
            printf("[trader] %s\n", line.c_str());
            fflush(stdout);
        });

    bool ok = true;
    auto check = [&ok](const qel_sim::trader_reply &reply)
    {
        ok = ok && reply.arrived && reply.error_code == 0;
        return reply.arrived && reply.error_code == 0;
    };
    if (check(trader.sign_on(timeout_ms)) && check(trader.system_information(timeout_ms)))
    {
        std::vector<qel_sim::trader_order> book(orders);
        for (uint32_t i = 0; i < orders; ++i)
        {
            book[i].side = static_cast<int16_t>(i % 2 == 0 ? 1 : 2);
            book[i].volume = 50 * (i + 1);
            book[i].price = 1850000 + static_cast<int32_t>(i) * 500;
            check(trader.enter(book[i], timeout_ms));
        }
        check(trader.modify(book[0], book[0].volume + 25, book[0].price + 100, timeout_ms));
        check(trader.cancel(book[orders - 1], timeout_ms));
        check(trader.sign_off(timeout_ms));
    }
    for (const std::string &failure : client.check_failures())
    {
        printf("[trader] check failed: %s\n", failure.c_str());
        ok = false;
    }
    printf("[trader] %s\n", ok ? "all answers received" : "some answers missing or refused");
    return ok ? 0 : 1;
}
