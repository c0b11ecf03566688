// The workstation front end under load: the network thread and both validator threads on
// real shared queues, with the simulated workstation on loopback. The benchmark plays the
// user session layer. Round trip: one record in from the workstation and one reply back.
// Downstream: replies of a given size pushed to one workstation.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gateway/message_validators/message_validators.h"
#include "gateway/message_validators/tws_validators.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/tws_network_handle/tcp_nw_info.h"
#include "gateway/tws_network_handle/tws_nw_handler_thread.h"
#include "sim/workstation/workstation_client.h"

namespace
{
// One front end with one admitted workstation, for the life of a benchmark.
struct front_end
{
    ea_flag shutdown{0};
    ea_flag abnormal{0};
    ea_flag day[3] = {};
    ea_flag allow[1] = {};
    ea_flag overflow[1] = {};
    ea_flag recovery[1] = {};
    ea_flag logoff[2] = {};
    tcp_nw_info *server = nullptr;
    shared_queue *queues[EA_SHARED_QUEUE_COUNT] = {};
    queue *local = nullptr;
    tws_nw_handler_thread_args network_args{};
    tws_receive_validate_thread_args receive_args{};
    tws_send_validate_thread_args send_args{};
    ea_thread *threads[3] = {};
    qel_sim::workstation_client client;
    logger_object_container *loggers = nullptr;
    std::string folder;
    bool ready = false;

    explicit front_end(uint16_t port)
    {
        std::string file = "/tmp/workstation_bench_" + std::to_string(port) + ".cfg";
        FILE *config = fopen(file.c_str(), "w");
        if (config == nullptr)
            return;
        // Only failures are logged, as in a tuned production set-up.
        folder =
            (std::filesystem::temp_directory_path() / ("workstation_bench_" + std::to_string(port))).string();
        std::filesystem::create_directories(folder);
        fprintf(
            config,
            "MACHINE_LAN_IP=127.0.0.1\nPORT_NUMBER=%u\nFLOW_CONTROL_COUNT=1000\nMAX_CLIENT_PENDING_MESG_COUNT=1000000\nLOG_FILE_PATH=%s\nSYSTEM_LOGGING_LEVEL=SYSTEM_ERROR\nSYSTEM_BINARY_LOGGING_ENABLED=FALSE\n",
            static_cast<unsigned>(port), folder.c_str());
        fclose(config);
        const char *names[] = {"tws_network_handler_thread", "tws_receive_validator_thread",
                               "tws_send_validator_thread"};
        loggers = logger_object_container_create(file.c_str(), names, 3);
        ea_flag_set(&allow[0], 1);
        if (loggers != nullptr)
            server = tcp_nw_info_create(file.c_str(), 1, allow, overflow, &abnormal, logoff, recovery,
                                        loggers->loggers[0]);
        remove(file.c_str());
        if (server == nullptr)
            return;
        for (int i : {SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION,
                      SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, SQ_NOTIFICATIONS_TO_BOX_COMM,
                      SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, SQ_EVENTS_TO_INTERFACE})
            queues[i] = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK] = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
        local = queue_create();
        network_args = {server,
                        {queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK]},
                        queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR],
                        queues[SQ_NOTIFICATIONS_TO_BOX_COMM],
                        queues[SQ_EVENTS_TO_INTERFACE],
                        10,
                        1,
                        1,
                        &shutdown,
                        &day[0],
                        loggers->loggers[0]};
        receive_args = {10,
                        &shutdown,
                        queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR],
                        queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION],
                        &day[1],
                        loggers->loggers[1],
                        nullptr, // no connection book: the validators write every line at once
                        0};
        send_args = {10,
                     1000,
                     &shutdown,
                     queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK],
                     &day[2],
                     loggers->loggers[2],
                     nullptr,
                     0};
        threads[0] = ea_thread_create(tws_nw_handler_thread, &network_args, nullptr);
        threads[1] = ea_thread_create(tws_receive_validate_thread, &receive_args, nullptr);
        threads[2] = ea_thread_create(tws_send_validate_thread, &send_args, nullptr);
        if (!client.connect("127.0.0.1", port))
            return;
        message *note = take(14);
        if (note == nullptr)
            return;
        message_destroy(note);
        shared_queue_insert_single_element(queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR],
                                           message_create(0, CONNECTION_ACCEPT));
        ready = client.wait_for_invitation(3000);
    }

    ~front_end()
    {
        ea_flag_set(&shutdown, 1);
        for (ea_thread *thread : threads)
        {
            if (thread != nullptr)
            {
                ea_thread_join(thread, 5000, nullptr);
                ea_thread_close(thread);
            }
        }
        for (shared_queue *sq : queues)
        {
            if (sq != nullptr)
            {
                shared_queue_get_elements_no_wait(sq, local);
                shared_queue_destroy(sq);
            }
        }
        if (local != nullptr)
            ea_destroy_message_queue(local);
        tcp_nw_info_destroy(server);
        if (loggers != nullptr)
            logger_object_container_destroy(loggers);
        if (!folder.empty())
            std::filesystem::remove_all(folder);
    }

    message *take(int index)
    {
        for (int i = 0; i < 300 && queue_get_count(local) == 0; ++i)
            shared_queue_get_elements_from_single_queue(queues[index], local, 10);
        return static_cast<message *>(queue_remove_head(local));
    }

    void reply(const std::vector<uint8_t> &record)
    {
        message *msg = message_create(record.size(), NORMAL_MESSAGE);
        memcpy(msg->data, record.data(), record.size());
        msg->workstation_network_handle = 1;
        msg->workstation_index = 0;
        shared_queue_insert_single_element(queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR], msg);
    }
};

uint16_t bench_port()
{
    static uint16_t next = 0;
    if (next == 0)
        next = static_cast<uint16_t>(20000 + (ea_get_tick_count() % 20000));
    return next++;
}

void BM_WorkstationRoundTrip(benchmark::State &state)
{
    front_end fe(bench_port());
    if (!fe.ready)
    {
        state.SkipWithError("front end did not start");
        return;
    }
    std::vector<uint8_t> order = qel_sim::workstation_make_record(2000, 42, 240);
    std::vector<uint8_t> answer = qel_sim::workstation_make_record(2001, 42, 240);
    qel_sim::workstation_frame frame;
    for (auto _ : state)
    {
        if (fe.client.credit() == 0 && !fe.client.wait_for_invitation(3000))
        {
            state.SkipWithError("no invitation");
            break;
        }
        fe.client.send_record(order, 3000);
        message *in = fe.take(1);
        if (in == nullptr)
        {
            state.SkipWithError("record lost");
            break;
        }
        message_destroy(in);
        fe.reply(answer);
        if (!fe.client.receive(&frame, 3000))
        {
            state.SkipWithError("reply lost");
            break;
        }
    }
}
BENCHMARK(BM_WorkstationRoundTrip)->UseRealTime();

void BM_WorkstationDownstream(benchmark::State &state)
{
    front_end fe(bench_port());
    if (!fe.ready)
    {
        state.SkipWithError("front end did not start");
        return;
    }
    std::vector<uint8_t> answer =
        qel_sim::workstation_make_record(2001, 42, static_cast<uint16_t>(state.range(0)));
    const int burst = 100;
    qel_sim::workstation_frame frame;
    for (auto _ : state)
    {
        for (int i = 0; i < burst; ++i)
            fe.reply(answer);
        for (int i = 0; i < burst; ++i)
        {
            if (!fe.client.receive(&frame, 3000))
            {
                state.SkipWithError("reply lost");
                return;
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * burst);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * burst * (state.range(0) + 22));
}
BENCHMARK(BM_WorkstationDownstream)->Arg(64)->Arg(240)->Arg(2000)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
