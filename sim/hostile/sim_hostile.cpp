// sim_hostile: runs one attack of a hostile peer against a running gateway and says what
// the gateway did about it. Exit 0 when the gateway refused or cut off every attempt,
// 1 when some attempt got through or nothing could connect, 2 on a bad command line;
// latelogon, the client such attacks must not keep out, exits 0 when it logged on.
//
//   sim_hostile workstation <port> <user> <rounds>   box records and second sign-ons
//   sim_hostile slots <port> <count>                 connections that send one byte
//   sim_hostile holders <port> <count> <addresses> byte|silent <seconds> [<pause ms>]
//                                                    connections that hold slots (one
//                                                    byte, or nothing) from that many
//                                                    addresses (127.1.0.1 on; 1: from
//                                                    127.0.0.1) and connect again when
//                                                    dropped (at once, or after the pause)
//   sim_hostile signons <port> <kind> <threads> <seconds> [<user> [<password>]]
//                                                    sign-ons that never get through, again
//                                                    and again from 127.0.0.1: kind nouser
//                                                    (user 0), password (a wrong password
//                                                    for the user) or second (the user signs
//                                                    on, then again on new connections)
//   sim_hostile console <port> <rounds>              requests, then gone unread
//   sim_hostile fix <port> <rounds>                  huge BodyLength and filler
//   sim_hostile http <port> <path>                   one request to the status page
//   sim_hostile unsigned <port> <kind> <seconds>     connections that never sign on, again
//                                                    and again: kind close (at once),
//                                                    invited (close after the invitation)
//                                                    or badframe (a bad frame after it)
//   sim_hostile silent <port> <threads> <seconds>    connections to the FIX port from
//                                                    127.0.0.1 that send nothing, as fast
//                                                    as the gateway takes them in
//   sim_hostile latelogon <port> <sender> <target> <pause ms>
//                                                    a FIX Logon from 127.0.0.2 that comes
//                                                    a pause after its connect
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sim/hostile/hostile_peers.h"

namespace
{
const uint32_t k_timeout_ms = 10000;

void usage()
{
    fprintf(stderr,
            "usage: sim_hostile workstation <port> <user> <rounds>\n"
            "       sim_hostile slots <port> <count>\n"
            "       sim_hostile holders <port> <count> <addresses> byte|silent <seconds> [<pause ms>]\n"
            "       sim_hostile signons <port> nouser|password|second <threads> <seconds> [<user> "
            "[<password>]]\n"
            "       sim_hostile console <port> <rounds>\n"
            "       sim_hostile fix <port> <rounds>\n"
            "       sim_hostile http <port> <path>\n"
            "       sim_hostile unsigned <port> close|invited|badframe <seconds>\n"
            "       sim_hostile silent <port> <threads> <seconds>\n"
            "       sim_hostile latelogon <port> <sender> <target> <pause ms>\n");
}

uint32_t number(const char *text)
{
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

int workstation(uint16_t port, uint32_t user, uint32_t rounds)
{
    qel_sim::hostile_workstation peer(port, user);
    if (!peer.sign_on(k_timeout_ms))
    {
        fprintf(stderr, "sim_hostile: user %u could not sign on\n", user);
        return 1;
    }
    for (uint32_t i = 0; i < rounds && peer.attack_round(user + 1 + i, k_timeout_ms); ++i)
    {
    }
    const qel_sim::hostile_workstation_counts &c = peer.counts();
    printf("host link records sent %u, second sign-ons sent %u, refused as already signed on %u, other "
           "answers %u, still connected %s\n",
           c.host_link_records_sent, c.second_sign_ons_sent, c.already_signed_on_answers, c.other_answers,
           peer.connected() ? "yes" : "no");
    return c.already_signed_on_answers == c.second_sign_ons_sent && c.other_answers == 0 ? 0 : 1;
}

int slots(uint16_t port, uint32_t count)
{
    qel_sim::slot_holders holders;
    uint32_t opened = holders.open(port, count);
    uint32_t closed = holders.wait_closed(60000);
    printf("connections opened %u, closed by the gateway %u\n", opened, closed);
    return opened > 0 && closed == opened ? 0 : 1;
}

// 2 for a way of holding it does not know.
int holders(uint16_t port, uint32_t count, uint32_t addresses, const std::string &way, uint32_t seconds,
            uint32_t pause_ms)
{
    if ((way != "byte" && way != "silent") || addresses == 0)
    {
        usage();
        return 2;
    }
    qel_sim::slot_holding how;
    how.addresses =
        addresses == 1 ? std::vector<std::string>{"127.0.0.1"} : qel_sim::attacker_addresses(addresses);
    how.silent = way == "silent";
    how.reconnect_after_ms = pause_ms;
    qel_sim::reconnecting_slot_holders holding;
    holding.start(port, count, how);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    holding.stop();
    printf("%u holders from %u addresses: %u reconnects in %u s\n", count, addresses, holding.reconnects(),
           seconds);
    return holding.reconnects() > 0 ? 0 : 1;
}

// 0 when every sign-on was refused, 1 when one got through or none was answered, 2 for a
// kind it does not know.
int sign_ons(uint16_t port, const std::string &kind, uint32_t threads, uint32_t seconds, uint32_t user,
             const std::string &password)
{
    qel_sim::sign_on_flood_options options;
    if (kind == "nouser")
        options.attack = qel_sim::sign_on_attack::no_user;
    else if (kind == "password")
        options.attack = qel_sim::sign_on_attack::wrong_password;
    else if (kind == "second")
        options.attack = qel_sim::sign_on_attack::second_sign_on;
    else
    {
        usage();
        return 2;
    }
    options.user_id = user;
    options.password = password;
    options.threads = threads;
    qel_sim::sign_on_flood flood;
    if (!flood.start(port, options))
    {
        fprintf(stderr, "sim_hostile: user %u could not sign on first\n", user);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    flood.stop();
    std::string errors;
    for (const auto &refusal : flood.refusals())
        errors += " " + std::to_string(refusal.second) + " with " + std::to_string(refusal.first);
    printf("connections %u in %u s, sign-ons sent %u, refused %u (%s ), got through %u\n",
           flood.connections(), seconds, flood.sign_ons(), flood.refused(), errors.c_str(), flood.accepted());
    return flood.accepted() == 0 && flood.refused() > 0 ? 0 : 1;
}

int console(uint16_t port, uint32_t rounds)
{
    uint32_t connected = 0;
    for (uint32_t i = 0; i < rounds; ++i)
        connected += qel_sim::console_request_and_vanish(port, 2000) ? 1 : 0;
    printf("console connections %u of %u\n", connected, rounds);
    return connected > 0 ? 0 : 1;
}

int fix(uint16_t port, uint32_t rounds)
{
    uint32_t cut = 0;
    for (uint32_t i = 0; i < rounds; ++i)
    {
        qel_sim::fix_flood_result r = qel_sim::fix_flood(port, 64u << 20, k_timeout_ms);
        printf("connection %u: %s after %llu bytes\n", i + 1,
               !r.connected ? "refused" : (r.cut ? "cut" : "not cut"),
               static_cast<unsigned long long>(r.bytes_sent));
        cut += r.cut ? 1 : 0;
    }
    return cut == rounds ? 0 : 1;
}

// 2 for a kind it does not know.
int unsigned_connections(uint16_t port, const std::string &kind, uint32_t seconds)
{
    qel_sim::unsigned_connection_attack attack;
    if (kind == "close")
        attack = qel_sim::unsigned_connection_attack::close_at_once;
    else if (kind == "invited")
        attack = qel_sim::unsigned_connection_attack::close_after_invitation;
    else if (kind == "badframe")
        attack = qel_sim::unsigned_connection_attack::bad_frame_after_invitation;
    else
    {
        usage();
        return 2;
    }
    qel_sim::unsigned_connection_flood flood;
    flood.start(port, attack, attack == qel_sim::unsigned_connection_attack::close_at_once ? 64 : 4);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    flood.stop();
    printf("connections %u in %u s, %u of them invited\n", flood.connections(), seconds, flood.invited());
    return flood.connections() > 0 ? 0 : 1;
}
int silent_connects(uint16_t port, uint32_t threads, uint32_t seconds)
{
    qel_sim::silent_connect_flood flood;
    flood.start("127.0.0.1", port, threads, 0);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    flood.stop();
    const unsigned long long connects = flood.connects();
    printf("silent connects %llu in %u s (%llu a second)\n", connects, seconds,
           seconds > 0 ? connects / seconds : connects);
    return connects > 0 ? 0 : 1;
}

int late_logon(uint16_t port, const char *sender, const char *target, uint32_t pause_ms)
{
    qel_sim::fix_late_logon_options options;
    options.port = port;
    options.sender_comp_id = sender;
    options.target_comp_id = target;
    options.pause_ms = pause_ms;
    options.timeout_ms = k_timeout_ms;
    std::string logout_text;
    const qel_sim::fix_late_logon_outcome outcome = qel_sim::fix_late_logon(options, &logout_text);
    printf("Logon %u ms after the connect from %s: %s%s%s\n", pause_ms, options.local_address.c_str(),
           qel_sim::fix_late_logon_outcome_name(outcome), logout_text.empty() ? "" : ", ",
           logout_text.c_str());
    return outcome == qel_sim::fix_late_logon_outcome::logged_on ? 0 : 1;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
    {
        usage();
        return 2;
    }
    const std::string attack = argv[1];
    const uint16_t port = static_cast<uint16_t>(number(argv[2]));
    if (attack == "workstation" && argc == 5)
        return workstation(port, number(argv[3]), number(argv[4]));
    if (attack == "slots" && argc == 4)
        return slots(port, number(argv[3]));
    if (attack == "holders" && (argc == 7 || argc == 8))
        return holders(port, number(argv[3]), number(argv[4]), argv[5], number(argv[6]),
                       argc == 8 ? number(argv[7]) : 0);
    if (attack == "signons" && argc >= 6 && argc <= 8 && number(argv[4]) > 0)
        return sign_ons(port, argv[3], number(argv[4]), number(argv[5]), argc > 6 ? number(argv[6]) : 0,
                        argc > 7 ? argv[7] : "");
    if (attack == "console" && argc == 4)
        return console(port, number(argv[3]));
    if (attack == "fix" && argc == 4)
        return fix(port, number(argv[3]));
    if (attack == "unsigned" && argc == 5)
        return unsigned_connections(port, argv[3], number(argv[4]));
    if (attack == "silent" && argc == 5 && number(argv[3]) > 0)
        return silent_connects(port, number(argv[3]), number(argv[4]));
    if (attack == "latelogon" && argc == 6)
        return late_logon(port, argv[3], argv[4], number(argv[5]));
    if (attack == "http" && argc == 4)
    {
        std::string status = qel_sim::http_status(port, argv[3], k_timeout_ms);
        printf("%s\n", status.empty() ? "no answer" : status.c_str());
        return status.find(" 403 ") != std::string::npos ? 0 : 1;
    }
    usage();
    return 2;
}
