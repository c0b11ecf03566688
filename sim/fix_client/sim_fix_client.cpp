// sim_fix_client: logs a FIX client on through the gateway, asks for its journal, sends
// a number of NewOrderSingle requests and, with -m, one two-leg spread, and prints every
// message that comes back, each exchange broadcast also as a line of news. It stops by
// itself after the reply time (-w) and exits with 0 when it reached the ready state,
// received an answer (ExecutionReport, OrderCancelReject or BusinessMessageReject) to
// every request and, with -B, a broadcast as News; 1 otherwise.
//
//   sim_fix_client -p port [-a address] [-s sender comp id] [-t target comp id]
//                  [-P password] [-n orders] [-m] [-B] [-w reply ms] [-d dictionary]
//                  [-f work folder]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/ea_getopt.h"
#include "common/ea_time.h"
#include "sim/fix_client/fix_client.h"
#include "sim/fix_client/fix_sample_order.h"

namespace
{

void usage()
{
    fprintf(
        stderr,
        "usage: sim_fix_client -p port [-a address] [-s sender comp id] [-t target comp id]\n                      [-P password] [-n orders] [-m send a two-leg spread]\n                      [-B wait for a broadcast] [-w reply ms] [-d dictionary] [-f work folder]\n");
}

// Answers to requests; an immediate-or-cancel order's second report and a spread's
// report count once each, by ClOrdID.
size_t count_answers(const qel_sim::fix_client &client)
{
    size_t answers = 0;
    std::string last;
    for (const qel_sim::fix_client_message &m : client.received())
    {
        if (m.poss_resend || (m.type != "8" && m.type != "9" && m.type != "j"))
            continue;
        const size_t at = m.text.find("|11=");
        const std::string id =
            at == std::string::npos ? "" : m.text.substr(at, m.text.find('|', at + 1) - at);
        if (id.empty() || id != last)
            answers++;
        last = id;
    }
    return answers;
}

size_t count_news(const qel_sim::fix_client &client)
{
    size_t news = 0;
    for (const qel_sim::fix_client_message &m : client.received())
        news += m.type == "B" ? 1 : 0;
    return news;
}

// The value of a tag in a message text ("|"-separated).
std::string field(const std::string &text, int tag)
{
    const std::string key = "|" + std::to_string(tag) + "=";
    size_t at = text.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    return text.substr(at, text.find('|', at) - at);
}

// A firm's two-leg spread of two ZORAX index futures at 2.50.
bool send_spread(qel_sim::fix_client &client, uint32_t cl_ord_id)
{
    return client.send_spread_multi_leg_single(
        {{11, std::to_string(cl_ord_id)}, {204, "1"}, {376, "0"}, {6008, "1"}}, {{{600, "ZORAX"},
                                                                                  {602, "35001"},
                                                                                  {607, "7"},
                                                                                  {609, "FUT"},
                                                                                  {611, "20261231"},
                                                                                  {624, "1"},
                                                                                  {685, "10"},
                                                                                  {566, "2.5"}},
                                                                                 {{600, "ZORAX"},
                                                                                  {602, "35002"},
                                                                                  {607, "7"},
                                                                                  {609, "FUT"},
                                                                                  {611, "20270128"},
                                                                                  {624, "2"},
                                                                                  {685, "10"},
                                                                                  {566, "0"}}});
}

} // namespace

int main(int argc, char *argv[])
{
    // Each line of the road as it happens, also when the output goes to a file.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    qel_sim::fix_client_options options;
    uint32_t orders = 1;
    uint32_t reply_ms = 5000;
    bool spread = false;
    bool news = false;
    int option;
    while ((option = ea::getopt(argc, argv, "a:p:s:t:P:n:mBw:d:f:")) != -1)
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
        case 'm':
            spread = true;
            break;
        case 'B':
            news = true;
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
        const uint32_t requests = orders + (spread ? 1 : 0);
        if (spread)
        {
            send_spread(client, orders + 1);
            printf("road: a two-leg spread sent\n");
        }
        for (uint32_t waited = 0;
             (count_answers(client) < requests || (news && count_news(client) == 0)) && waited < reply_ms;
             waited += 50)
            ea_usleep(50000);
        answered = count_answers(client) >= requests && (!news || count_news(client) > 0);
    }
    for (const qel_sim::fix_client_message &m : client.received())
    {
        printf("%s%s\n", m.poss_resend ? "(replay) " : "", m.text.c_str());
        if (m.type == "B")
            printf("news: %s: %s\n", field(m.text, 148).c_str(), field(m.text, 58).c_str());
    }
    for (const std::string &refused : client.refused())
        printf("refused by the client's engine: %s\n", refused.c_str());
    if (ready)
        printf("road: %u orders%s sent, %zu answered, %zu broadcasts as News; Logout\n", orders,
               spread ? " and a spread" : "", count_answers(client), count_news(client));
    client.stop();
    printf("road: %s\n", qel_sim::fix_client_state_name(client.state()));
    return ready && answered && client.refused().empty() ? 0 : 1;
}
