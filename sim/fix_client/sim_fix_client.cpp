// sim_fix_client: logs a FIX client on through the gateway, asks for its journal, sends
// a number of NewOrderSingle requests and prints every message that comes back. It stops
// by itself after the reply time (-w) and exits with 0 when it reached the ready state and
// received an answer (ExecutionReport, OrderCancelReject or BusinessMessageReject) to every
// request; 1 otherwise.
//
//   sim_fix_client -p port [-a address] [-s sender comp id] [-t target comp id]
//                  [-P password] [-n orders] [-w reply ms] [-d dictionary] [-f work folder]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gateway/library/ea_getopt.h"
#include "gateway/library/ea_time.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"

namespace
{

void usage()
{
    fprintf(
        stderr,
        "usage: sim_fix_client -p port [-a address] [-s sender comp id] [-t target comp id]\n                      [-P password] [-n orders] [-w reply ms] [-d dictionary] [-f work folder]\n");
}

size_t count_answers(const qel_sim::fix_client &client)
{
    size_t answers = 0;
    for (const qel_sim::fix_client_message &m : client.received())
        if (!m.poss_resend && (m.type == "8" || m.type == "9" || m.type == "j"))
            answers++;
    return answers;
}

} // namespace

int main(int argc, char *argv[])
{
    // Each line of the road as it happens, also when the output goes to a file.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    qel_sim::fix_client_options options;
    uint32_t orders = 1;
    uint32_t reply_ms = 5000;
    int option;
    while ((option = ea::getopt(argc, argv, "a:p:s:t:P:n:w:d:f:")) != -1)
    {
        switch (option)
        {
        case 'a':
            options.address = ea::optarg;
            break;
        case 'p':
            options.port = static_cast<uint16_t>(atoi(ea::optarg));
            break;
        case 's':
            options.sender_comp_id = ea::optarg;
            break;
        case 't':
            options.target_comp_id = ea::optarg;
            break;
        case 'P':
            options.password = ea::optarg;
            break;
        case 'n':
            orders = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'w':
            reply_ms = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'd':
            options.dictionary = ea::optarg;
            break;
        case 'f':
            options.work_folder = ea::optarg;
            break;
        default:
            usage();
            return 2;
        }
    }
    if (options.port == 0)
    {
        usage();
        return 2;
    }

    qel_sim::fix_client client(options);
    std::string error;
    printf("road: Logon to %s:%u as %s for %s\n", options.address.c_str(),
           static_cast<unsigned>(options.port), options.sender_comp_id.c_str(),
           options.target_comp_id.c_str());
    if (!client.start(&error))
    {
        fprintf(stderr, "sim_fix_client: the FIX initiator did not start: %s\n", error.c_str());
        return 1;
    }
    const uint32_t logon_ms = static_cast<uint32_t>(options.logon_timeout_seconds) * 1000;
    bool ready = false;
    if (client.wait_for_state(qel_sim::fix_client_state::logged_on, logon_ms))
    {
        printf("road: Logon answered with the stream count %d\n", client.stream_count());
        ready = client.request_journal({});
        printf("road: TradingSessionStatusRequest with %d time stamps\n", client.stream_count());
        ready = ready && client.wait_for_state(qel_sim::fix_client_state::ready, reply_ms);
        size_t replayed = 0;
        for (const qel_sim::fix_client_message &m : client.received())
            replayed += m.poss_resend ? 1 : 0;
        if (ready)
            printf("road: journal replayed (%zu resent messages), TradingSessionStatus received: ready\n",
                   replayed);
    }
    printf("state: %s, stream count %d\n", qel_sim::fix_client_state_name(client.state()),
           client.stream_count());
    if (!client.logout_text().empty())
        printf("logout text: %s\n", client.logout_text().c_str());

    bool answered = true;
    if (ready)
    {
        for (uint32_t i = 1; i <= orders; i++)
        {
            const std::string id = std::to_string(i);
            client.send_new_order_single(qel_sim::sample_new_order(id, "20261209-05:00:00"));
        }
        for (uint32_t waited = 0; count_answers(client) < orders && waited < reply_ms; waited += 50)
            ea_usleep(50000);
        answered = count_answers(client) >= orders;
    }
    for (const qel_sim::fix_client_message &m : client.received())
        printf("%s%s\n", m.poss_resend ? "(replay) " : "", m.text.c_str());
    if (ready)
        printf("road: %u orders sent, %zu answered; Logout\n", orders, count_answers(client));
    client.stop();
    printf("road: %s\n", qel_sim::fix_client_state_name(client.state()));
    return ready && answered ? 0 : 1;
}
