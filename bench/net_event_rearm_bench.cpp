// Cost of the network threads' cycle around a receive: the socket's association with its
// network event is narrowed to FD_CLOSE, the receive runs, and it is widened again. Measured
// for an accepted socket of the socket layer, whose state the network events remember,
// beside a bare receive (the cycle's own system call) and beside the same cycle for a
// socket made with socket() itself, which every association asks the kernel about. Every
// receive finds nothing and returns at once, so the figures are the cycle's alone.
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/core/pf_net_event.h"
#include "platform/core/pf_socket.h"

namespace
{
// A loopback connection: the listener's accepted end, made by the socket layer, and the
// connecting end, made with socket() itself.
struct connection
{
    int listener = -1;
    int accepted = -1;
    int raw = -1;

    connection()
    {
        const uint32_t loopback = htonl(INADDR_LOOPBACK);
        listener = pf_socket_create(AF_INET, SOCK_STREAM, 0);
        if (listener < 0 || pf_socket_bind(listener, loopback, 0) != 0 || pf_socket_listen(listener, 4) != 0)
            return;
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = loopback;
        to.sin_port = htons(pf_socket_local_port(listener));
        raw = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (raw < 0 || connect(raw, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
            return;
        accepted = pf_socket_accept(listener, nullptr, nullptr);
    }
    ~connection()
    {
        if (accepted >= 0)
            pf_socket_close(accepted);
        if (raw >= 0)
            close(raw);
        if (listener >= 0)
            pf_socket_close(listener);
    }
    bool made() const { return accepted >= 0; }
};

void rearm_around_receive(benchmark::State &state, bool socket_layer, bool associate)
{
    connection c;
    pf_net_event *event = pf_net_event_create();
    if (!c.made() || event == nullptr)
    {
        state.SkipWithError("no loopback connection");
        pf_net_event_destroy(event);
        return;
    }
    const int fd = socket_layer ? c.accepted : c.raw;
    // The first association makes the socket non-blocking.
    pf_net_event_select(fd, event, PF_FD_READ | PF_FD_CLOSE);
    char buffer[64];
    for (auto _ : state)
    {
        if (associate)
            pf_net_event_select(fd, event, PF_FD_CLOSE);
        benchmark::DoNotOptimize(pf_socket_recv(fd, buffer, sizeof buffer));
        if (associate)
            pf_net_event_select(fd, event, PF_FD_READ | PF_FD_CLOSE);
    }
    pf_net_event_select(fd, event, 0);
    pf_net_event_destroy(event);
}

void BM_ReceiveAlone(benchmark::State &state)
{
    rearm_around_receive(state, true, false);
}
BENCHMARK(BM_ReceiveAlone);

void BM_ReceiveRearmedSocketLayerSocket(benchmark::State &state)
{
    rearm_around_receive(state, true, true);
}
BENCHMARK(BM_ReceiveRearmedSocketLayerSocket);

void BM_ReceiveRearmedSocketMadeElsewhere(benchmark::State &state)
{
    rearm_around_receive(state, false, true);
}
BENCHMARK(BM_ReceiveRearmedSocketMadeElsewhere);
} // namespace

BENCHMARK_MAIN();
