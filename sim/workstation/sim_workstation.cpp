// sim_workstation: connects to a gateway's workstation port, waits for its invitation,
// sends records and prints every record that comes back, checking each frame. With -f it
// misbehaves in one of the ways a broken workstation can. It stops by itself after the
// reply time (-w) and exits with 0 when everything it received passed its checks.
//
//   sim_workstation -p port [-a address] [-u user] [-t transcode] [-l length] [-n count]
//                   [-w reply ms] [-f digest|short|vrx|skip|flood|onebyte|reset|noread]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/ea_getopt.h"
#include "sim/workstation/workstation_client.h"

namespace
{
void usage()
{
    fprintf(
        stderr,
        "usage: sim_workstation -p port [-a address] [-u user] [-t transcode] [-l length] [-n count]\n                       [-w reply ms] [-f digest|short|vrx|skip|flood|onebyte|reset|noread]\n");
}
} // namespace

int main(int argc, char *argv[])
{
    std::string address = "127.0.0.1";
    uint16_t port = 0;
    uint32_t user = 1;
    int16_t transcode = 2300;
    uint16_t length = 40;
    uint32_t count = 1;
    uint32_t reply_ms = 2000;
    std::string fault;
    int option;
    while ((option = ea::getopt(argc, argv, "a:p:u:t:l:n:w:f:")) != -1)
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
        case 't':
            transcode = static_cast<int16_t>(strtol(ea::optarg, nullptr, 10));
            break;
        case 'l':
            length = static_cast<uint16_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'n':
            count = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'w':
            reply_ms = static_cast<uint32_t>(strtoul(ea::optarg, nullptr, 10));
            break;
        case 'f':
            fault = ea::optarg;
            break;
        default:
            usage();
            return 2;
        }
    }
    if (port == 0)
    {
        usage();
        return 2;
    }

    qel_sim::workstation_client client;
    if (!client.connect(address, port))
    {
        fprintf(stderr, "cannot connect to %s:%u\n", address.c_str(), port);
        return 1;
    }
    qel_sim::workstation_faults &faults = client.faults();
    faults.bad_digest = fault == "digest";
    faults.vrx_length_delta = fault == "vrx" ? 1 : 0;
    faults.ignore_invitations = fault == "flood";
    faults.one_byte_writes = fault == "onebyte";
    if (fault == "skip")
        faults.sequence_delta = 1;

    std::vector<uint8_t> record = qel_sim::workstation_make_record(transcode, user, length);
    if (fault == "short")
        record.resize(20);
    if (fault == "reset")
    {
        if (client.wait_for_invitation(reply_ms))
            client.reset_mid_frame(record, 10);
        printf("reset after 10 bytes\n");
        return 0;
    }
    uint32_t sent = 0;
    for (; sent < count; ++sent)
    {
        if (!client.send_record(record, reply_ms))
            break;
    }
    printf("sent %u of %u records, invitations %u (count %u)\n", sent, count, client.invitations(),
           client.last_invitation_count());
    if (fault != "noread")
    {
        qel_sim::workstation_frame frame;
        while (client.receive(&frame, reply_ms))
            printf("received transcode %d, %zu bytes, sequence %u\n",
                   qel_sim::workstation_record_transcode(frame.record), frame.record.size(), frame.sequence);
        if (client.peer_closed())
            printf("connection closed by the gateway\n");
    }
    for (const std::string &failure : client.check_failures())
        printf("check failed: %s\n", failure.c_str());
    return client.check_failures().empty() ? 0 : 1;
}
