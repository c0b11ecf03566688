// The gateway's box sign-on end to end in one process: the box communication thread, the
// host session thread, both host validators and the host network thread run on real shared
// queues against the simulated exchange host. The test plays the workstation side: it
// announces a client connection (queue 14) and reads the answer (queue 15) and the console
// events (queue 19). Time-outs of the gateway are reached by moving its tick forward.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "gateway/controller_module/box_comm_info_container.h"
#include "gateway/message_validators/message_validators.h"
#include "gateway/qel_main/ea_global.h"
#include "gateway/runtime/ea_thread.h"
#include "gateway/runtime/logger.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/shared_queue.h"
#include "gateway/session_layer/th_session/host_session_info_container.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "platform/core/pf_tick.h"
#include "sim/host/sim_host.h"
#include "sim/host/sim_host_box.h"
#include "support/gateway_config.h"
#include "support/held_tick.h"

namespace
{

class box_signon_fixture
{
  public:
    // The gateway's timers move only by the test's steps, never by how long a pass takes.
    qel_test::held_tick held;
    qel_sim::sim_host host;
    std::unique_ptr<qel_sim::sim_box_host> exchange;
    qel_test::temp_dir dir;
    logger_object_container *loggers = nullptr;
    user_link_info *table = nullptr;
    th_nw_info *links = nullptr;
    box_comm_info_container *box = nullptr;
    host_session_info_container *session = nullptr;
    ea_flag rate[1] = {{0}};
    ea_flag invite[1] = {{0}};
    ea_flag base_rate{100};
    ea_flag overflow[1] = {{0}};
    ea_flag recovery[1] = {{0}};
    ea_flag shutdown{0};
    ea_flag days[5] = {{0}, {0}, {0}, {0}, {0}};
    std::vector<shared_queue *> queues;
    shared_queue *q[EA_SHARED_QUEUE_COUNT] = {};
    th_send_validator_thread_args send_args{};
    th_receive_validator_thread_args receive_args{};
    th_nw_handler_thread_args network_args{};
    th_session_module_thread_args session_args{};
    box_comm_thread_args box_args{};
    ea_thread *threads[5] = {};

    box_signon_fixture(const qel_sim::box_options &options, const qel_sim::box_faults &faults,
                       const std::map<std::string, std::string> &keys = {})
    {
        EXPECT_TRUE(host.start());
        exchange.reset(new qel_sim::sim_box_host(host, options));
        exchange->set_faults(faults);
        for (int i : {SQ_REQUEST_PROCESSING_TO_HOST_SESSION, SQ_HOST_SESSION_TO_RESPONSE_PROCESSING,
                      SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR, SQ_HOST_SESSION_TO_BOX_COMM,
                      SQ_BOX_COMM_TO_HOST_SESSION, SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR,
                      SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION, SQ_NOTIFICATIONS_TO_BOX_COMM,
                      SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, SQ_TH_NETWORK_TO_REQUEST_PROCESSING,
                      SQ_TH_NETWORK_TO_HOST_SESSION, SQ_EVENTS_TO_INTERFACE, SQ_BOX_COMM_TO_FIX_SEND})
            q[i] = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        for (int i : {SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK, SQ_BOX_COMM_TO_TH_NETWORK})
            q[i] = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
        qel_test::gateway_config config;
        config.values["HOST_PORT_NUMBER"] = std::to_string(host.port());
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        for (const auto &key : keys)
            config.values[key.first] = key.second;
        std::string file = config.write(dir);
        static const char *const names[] = {"th_send_validator_thread", "th_receive_validator_thread",
                                            "th_network_handler_thread", "th_session_module_thread",
                                            "box_communication_thread"};
        loggers = logger_object_container_create(file.c_str(), names, 5);
        logger_object *log[5] = {};
        for (int i = 0; i < 5 && loggers != nullptr; ++i)
            log[i] = loggers->loggers[i];
        table = user_link_info_create(file.c_str(), 1, log[4]);
        links = th_nw_info_create(file.c_str(), 1, rate, table, invite, log[2]);
        box = box_comm_info_container_create(file.c_str(), 1, rate, table, &base_rate, 10, log[4]);
        session =
            host_session_info_container_create(file.c_str(), 1, box, overflow, &base_rate, recovery, log[3]);
        EXPECT_TRUE(links != nullptr && box != nullptr && session != nullptr);
        send_args = {q[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR],
                     q[SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK],
                     10,
                     &shutdown,
                     &days[0],
                     log[0]};
        receive_args = {q[SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR],
                        q[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION],
                        q[SQ_NOTIFICATIONS_TO_BOX_COMM],
                        10,
                        &shutdown,
                        &days[1],
                        log[1]};
        network_args = {links,
                        q[SQ_BOX_COMM_TO_TH_NETWORK],
                        q[SQ_TH_SEND_VALIDATOR_TO_TH_NETWORK],
                        q[SQ_TH_NETWORK_TO_TH_RECEIVE_VALIDATOR],
                        q[SQ_NOTIFICATIONS_TO_BOX_COMM],
                        q[SQ_TH_NETWORK_TO_HOST_SESSION],
                        q[SQ_TH_NETWORK_TO_REQUEST_PROCESSING],
                        q[SQ_EVENTS_TO_INTERFACE],
                        10,
                        1,
                        &shutdown,
                        &days[2],
                        log[2]};
        session_args = {q[SQ_TH_NETWORK_TO_HOST_SESSION],
                        q[SQ_REQUEST_PROCESSING_TO_HOST_SESSION],
                        q[SQ_BOX_COMM_TO_HOST_SESSION],
                        q[SQ_TH_RECEIVE_VALIDATOR_TO_HOST_SESSION],
                        q[SQ_HOST_SESSION_TO_TH_SEND_VALIDATOR],
                        q[SQ_HOST_SESSION_TO_RESPONSE_PROCESSING],
                        q[SQ_HOST_SESSION_TO_BOX_COMM],
                        q[SQ_NOTIFICATIONS_TO_BOX_COMM],
                        session,
                        10,
                        &shutdown,
                        &days[3],
                        log[3]};
        box_args = {box,
                    q[SQ_HOST_SESSION_TO_BOX_COMM],
                    q[SQ_NOTIFICATIONS_TO_BOX_COMM],
                    q[SQ_BOX_COMM_TO_HOST_SESSION],
                    q[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR],
                    q[SQ_BOX_COMM_TO_FIX_SEND],
                    q[SQ_BOX_COMM_TO_TH_NETWORK],
                    q[SQ_EVENTS_TO_INTERFACE],
                    10,
                    &days[4],
                    &shutdown,
                    log[4]};
        threads[0] = ea_thread_create(th_send_validator_thread, &send_args, nullptr);
        threads[1] = ea_thread_create(th_nw_handler_thread, &network_args, nullptr);
        threads[2] = ea_thread_create(th_receive_validator_thread, &receive_args, nullptr);
        threads[3] = ea_thread_create(th_session_module_thread, &session_args, nullptr);
        threads[4] = ea_thread_create(box_comm_thread, &box_args, nullptr);
    }

    ~box_signon_fixture()
    {
        ea_flag_set(&shutdown, 1);
        for (ea_thread *thread : threads)
        {
            if (thread != nullptr)
            {
                ea_thread_join(thread, 10000, nullptr);
                ea_thread_close(thread);
            }
        }
        exchange.reset();
        host.stop();
        host_session_info_container_destroy(session);
        box_comm_info_container_destroy(box);
        th_nw_info_destroy(links);
        user_link_info_destroy(table);
        queue *rest = queue_create();
        for (shared_queue *sq : q)
        {
            if (sq != nullptr)
            {
                shared_queue_get_elements_no_wait(sq, rest);
                shared_queue_destroy(sq);
            }
        }
        ea_destroy_message_queue(rest);
        if (loggers != nullptr)
            logger_object_container_destroy(loggers);
    }

    // A workstation connection asks for the box.
    void client_connects()
    {
        message *msg = message_create(0, INCOMING_CLIENT_CONNECTION);
        msg->user_type = 0;
        shared_queue_insert_single_element(q[SQ_NOTIFICATIONS_TO_BOX_COMM], msg);
    }

    // The answer on queue 15, with the console reasons seen meanwhile. While waiting the
    // gateway's tick moves `step_ms` forward every 50 ms, so that its timers can run out.
    uint16_t wait_for_answer(uint32_t step_ms, int timeout_ms = 15000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end)
        {
            take_console_events();
            queue *local = queue_create();
            shared_queue_get_elements_from_single_queue(q[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR], local, 50);
            uint16_t answer = 0;
            while (message *msg = static_cast<message *>(queue_remove_head(local)))
            {
                if (answer == 0 && (msg->tag == CONNECTION_ACCEPT || msg->tag == NEW_CONNECTION_REJECT))
                    answer = msg->tag;
                message_destroy(msg);
            }
            queue_destroy(local);
            if (answer != 0)
            {
                take_console_events();
                return answer;
            }
            if (step_ms != 0)
                pf_tick_advance(step_ms);
        }
        return 0;
    }

    void take_console_events()
    {
        queue *local = queue_create();
        shared_queue_get_elements_no_wait(q[SQ_EVENTS_TO_INTERFACE], local);
        while (message *msg = static_cast<message *>(queue_remove_head(local)))
        {
            if (msg->tag == KOVA_MESSAGE)
                reasons.insert(msg->reason_code);
            message_destroy(msg);
        }
        queue_destroy(local);
    }

    // The console event of the reason, raised by the host network thread when it closes
    // the link, may come after the answer.
    bool wait_for_reason(uint16_t reason, int timeout_ms = 10000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;)
        {
            take_console_events();
            if (reasons.count(reason) != 0)
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::set<uint16_t> reasons;
};

qel_sim::box_options sim_options()
{
    qel_sim::box_options options;
    options.box_id = 101;
    options.broker_id = "12345";
    return options;
}

} // namespace

TEST(BoxSignOn, TheBoxSignsOnAndTheClientIsAccepted)
{
    box_signon_fixture t(sim_options(), {});
    t.client_connects();
    ASSERT_EQ(t.wait_for_answer(0), CONNECTION_ACCEPT);
    EXPECT_EQ(t.box->box_comm_info_array[0].box_status.load(), LOGGED_ON);
    EXPECT_EQ(ea_flag_get(&t.base_rate), 100);
    EXPECT_EQ(t.box->box_comm_info_array[0].max_users_per_box.load(), 10);
    EXPECT_EQ(ea_flag_get(&t.box->box_comm_info_array[0].session_recovery_enabled), 1);
    for (uint16_t reason : {12015, 12016, 12010})
        EXPECT_EQ(t.reasons.count(reason), 1u) << reason;
    qel_sim::box_session_state state = t.exchange->state();
    EXPECT_TRUE(state.signed_on);
    EXPECT_EQ(state.box_id, 101);
    EXPECT_EQ(state.broker_id, "12345");
    EXPECT_TRUE(t.exchange->session_faults().empty());
    EXPECT_TRUE(t.host.errors().empty());
}

TEST(BoxSignOn, ALateButTimelyAnswerStillSignsTheBoxOn)
{
    qel_sim::box_faults faults;
    faults.sign_on_delay_ms = 300;
    faults.parameters_delay_ms = 300;
    box_signon_fixture t(sim_options(), faults);
    t.client_connects();
    // Late by the gateway's clock too: 9 of the sign-on's 10 s pass before the answer comes.
    ASSERT_TRUE(t.exchange->wait_for_line("<- 23000", 10000));
    pf_tick_advance(9000);
    EXPECT_EQ(t.wait_for_answer(0), CONNECTION_ACCEPT);
}

TEST(BoxSignOn, EachRefusalRejectsTheClientWithItsReason)
{
    struct row
    {
        const char *name;
        std::function<void(qel_sim::box_options &, qel_sim::box_faults &)> set;
        uint16_t reason;
        uint32_t step_ms; // the gateway's timers must run out first
    } rows[] = {
        {"refused", [](qel_sim::box_options &, qel_sim::box_faults &f) { f.sign_on_error = 16500; }, 12001,
         0},
        {"unknown box", [](qel_sim::box_options &o, qel_sim::box_faults &) { o.box_id = 7; }, 12001, 0},
        {"response withheld",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.withhold_sign_on_response = true; }, 12003,
         1000},
        {"wrong box id in the response",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.wrong_box_id_sign_on = true; }, 12003, 1000},
        {"parameters withheld",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.withhold_parameters = true; }, 12017, 1000},
        {"invalid parameters",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.invalid_parameters = true; }, 12017, 1000},
        {"wrong box id in the parameters",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.wrong_box_id_parameters = true; }, 12017,
         1000},
        {"parameters before the response",
         [](qel_sim::box_options &, qel_sim::box_faults &f) { f.parameters_first = true; }, 12017, 1000},
    };
    for (const row &r : rows)
    {
        qel_sim::box_options options = sim_options();
        qel_sim::box_faults faults;
        r.set(options, faults);
        box_signon_fixture t(options, faults);
        t.client_connects();
        // The gateway's timers start only once the host has the sign-on in hand.
        ASSERT_TRUE(t.exchange->wait_for_line("<- 23000", 10000)) << r.name;
        EXPECT_EQ(t.wait_for_answer(r.step_ms), NEW_CONNECTION_REJECT) << r.name;
        EXPECT_TRUE(t.wait_for_reason(r.reason)) << r.name;
        EXPECT_EQ(t.reasons.count(12010), 0u) << r.name;
        EXPECT_EQ(t.box->box_comm_info_array[0].box_status.load(), LOGGED_OFF) << r.name;
        EXPECT_TRUE(t.host.wait_for_peer_close(1, 10000)) << r.name << ": the gateway closes the link";
    }
}

TEST(BoxSignOn, ADroppedLinkIsRecoveredByARelogonThatResumesTheSession)
{
    box_signon_fixture t(sim_options(), {});
    t.client_connects();
    ASSERT_EQ(t.wait_for_answer(0), CONNECTION_ACCEPT);
    t.exchange->drop_link();
    EXPECT_TRUE(t.wait_for_reason(12011)) << "system not ready while recovering";
    EXPECT_TRUE(t.wait_for_reason(12012)) << "ready again";
    ASSERT_TRUE(t.exchange->wait_for_line("-> 23503 relogon accepted: next expected 2", 10000));
    qel_sim::box_session_state state = t.exchange->state();
    EXPECT_EQ(state.relogons, 1u);
    EXPECT_EQ(state.last_relogon_least_sent, 2) << "nothing outstanding: the gateway's next number";
    EXPECT_EQ(state.last_relogon_last_received, 2) << "the sign-on response and the box parameters";
    EXPECT_EQ(t.box->box_comm_info_array[0].box_status.load(), LOGGED_ON);
    EXPECT_TRUE(t.exchange->session_faults().empty());
}

TEST(BoxSignOn, TheHostsBoxSignOffLogsTheBoxOff)
{
    box_signon_fixture t(sim_options(), {});
    t.client_connects();
    ASSERT_EQ(t.wait_for_answer(0), CONNECTION_ACCEPT);
    t.exchange->sign_off_box(0);
    EXPECT_TRUE(t.wait_for_reason(12002));
    EXPECT_TRUE(t.host.wait_for_peer_close(1, 10000));
}

TEST(BoxSignOn, RateUpdatesAndWithheldAcknowledgements)
{
    box_signon_fixture t(
        sim_options(), {},
        {{"RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", "5000"}, {"HOST_RESPONSE_TIMEOUT", "20000"}});
    t.client_connects();
    ASSERT_EQ(t.wait_for_answer(0), CONNECTION_ACCEPT);
    t.exchange->send_rate_update(50);
    ASSERT_TRUE(t.exchange->wait_for_line("-> 23504 rate update 50%", 5000));
    for (int i = 0; i < 500 && ea_flag_get(&t.rate[0]) != 50; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ea_flag_get(&t.rate[0]), 50);

    qel_sim::box_faults faults;
    faults.withhold_acknowledgements = true;
    t.exchange->set_faults(faults);
    t.exchange->send_rate_update(0);
    EXPECT_TRUE(t.wait_for_reason(12011)) << "system not ready";
    // With the rate at 0 the gateway sends rate-control heart beats; the host takes them
    // but acknowledges none, so the gateway's response timer runs out and it logs off.
    for (int i = 0; i < 500 && t.exchange->state().rate_heart_beats_received == 0; ++i)
    {
        pf_tick_advance(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(t.exchange->state().rate_heart_beats_received, 0u);
    bool timed_out = false;
    for (int i = 0; i < 500 && !timed_out; ++i)
    {
        pf_tick_advance(1000);
        timed_out = t.wait_for_reason(12005, 20);
    }
    EXPECT_TRUE(timed_out) << "the host never acknowledged";
    EXPECT_TRUE(t.host.wait_for_peer_close(1, 10000));
}
