// sim_console: connects to a gateway's console port, optionally sends one request, and
// prints every packet it receives in readable form until the connection closes or the
// time is up.
//
//   sim_console -p <port> [-r user|box|restart|<transcode>] [-l <request length>]
//               [-s <piece size>] [-t <seconds>] [-n]
//
//   -r  the request to send (interactive port); a number sends that transcode
//   -l  the request's length (and length field); 40 by default
//   -s  writes the request in pieces of this many bytes
//   -t  how long to listen (default 5 s, at most 600)
//   -n  never read: stay connected without reading for the whole time
// Exit status: 0, 1 when a received packet broke the protocol, 2 on a usage or
// connection failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "sim/console/console_client.h"

namespace
{
int usage()
{
    fprintf(
        stderr,
        "usage: sim_console -p <port> [-r user|box|restart|<transcode>] [-l <length>] [-s <piece>] [-t <seconds>] [-n]\n");
    return 2;
}

bool parse_number(const char *text, long low, long high, long *out)
{
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        return false;
    *out = value;
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    long port = 0, length = sim_console::REQUEST_LENGTH, piece = 0, seconds = 5, transcode = -1;
    bool never_read = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "-n")
        {
            never_read = true;
            continue;
        }
        if (value == nullptr)
            return usage();
        ++i;
        bool ok = true;
        if (option == "-p")
            ok = parse_number(value, 1, 65535, &port);
        else if (option == "-l")
            ok = parse_number(value, 0, 65535, &length);
        else if (option == "-s")
            ok = parse_number(value, 1, 65535, &piece);
        else if (option == "-t")
            ok = parse_number(value, 1, 600, &seconds);
        else if (option == "-r")
        {
            if (strcmp(value, "user") == 0)
                transcode = sim_console::TC_USER_INFORMATION_REQUEST;
            else if (strcmp(value, "box") == 0)
                transcode = sim_console::TC_BOX_INFORMATION_REQUEST;
            else if (strcmp(value, "restart") == 0)
                transcode = sim_console::TC_RESTART;
            else
                ok = parse_number(value, 0, 65535, &transcode);
        }
        else
            ok = false;
        if (!ok)
            return usage();
    }
    if (port == 0)
        return usage();

    sim_console::console_client client;
    if (!client.connect(static_cast<uint16_t>(port)))
    {
        fprintf(stderr, "cannot connect to 127.0.0.1:%ld\n", port);
        return 2;
    }
    printf("connected to 127.0.0.1:%ld\n", port);
    if (transcode >= 0)
    {
        std::vector<uint8_t> request = sim_console::build_frame(
            static_cast<uint16_t>(length), static_cast<size_t>(length), static_cast<uint16_t>(transcode));
        bool sent = piece > 0 ? client.send_split(request, static_cast<size_t>(piece), 5)
                              : client.send_bytes(request);
        if (!sent)
        {
            fprintf(stderr, "sending the request failed\n");
            return 2;
        }
        printf("sent transcode %ld in %ld bytes\n", transcode, length);
    }
    if (never_read)
    {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        return 0;
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;)
    {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        if (left <= 0)
            break;
        sim_console::packet p;
        sim_console::receive_result result = client.receive(&p, left);
        if (result == sim_console::receive_result::closed)
        {
            printf("connection closed by the gateway\n");
            break;
        }
        if (result == sim_console::receive_result::timed_out)
            break;
        std::string problem = sim_console::check_packet(p);
        printf("%s%s%s\n", sim_console::describe(p).c_str(), problem.empty() ? "" : "  !! ", problem.c_str());
        fflush(stdout);
        if (!problem.empty())
            status = 1;
    }
    return status;
}
