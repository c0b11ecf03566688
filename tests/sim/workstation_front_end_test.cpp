// The workstation front end in-process against the simulated workstation: the network
// thread and both validator threads run on real shared queues, and the test plays box
// communication (answering INCOMING_CLIENT_CONNECTION on queue 15) and the user session
// layer (reading queue 1, writing queue 2). Admission, invitations and flow control, the
// reason code of every misbehaviour, limits, and records for slots that were reused.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <memory>
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
#include "support/gateway_config.h"
#include "support/gateway_log.h"
#include "support/test_support.h"

namespace
{
using qel_sim::workstation_client;
using qel_sim::workstation_frame;
using qel_sim::workstation_make_record;

const char *const k_logger_names[] = {"tws_network_handler_thread", "tws_receive_validator_thread",
                                      "tws_send_validator_thread"};
const uint32_t k_wait = 3000;
const int k_links = 2;

// A shared queue the test reads, with what one take brought in but not yet handed out.
struct queue_reader
{
    shared_queue *sq = nullptr;
    queue *local = nullptr;

    message *take(uint32_t timeout_ms)
    {
        message *msg = nullptr;
        qel_test::wait_until(
            [&]
            {
                if (queue_get_count(local) == 0)
                    shared_queue_get_elements_from_single_queue(sq, local, 10);
                msg = static_cast<message *>(queue_remove_head(local));
                return msg != nullptr;
            },
            static_cast<int>(timeout_ms));
        return msg;
    }
};

class front_end : public ::testing::Test
{
  protected:
    void start(const std::map<std::string, std::string> &overrides = {})
    {
        for (const auto &entry : overrides)
            config.values[entry.first] = entry.second;
        port = static_cast<uint16_t>(std::stoi(config.values["PORT_NUMBER"]));
        config.values["LOG_FILE_PATH"] = dir.file("logs");
        std::string file = config.write(dir);
        loggers = logger_object_container_create(file.c_str(), k_logger_names, 3);
        ASSERT_NE(loggers, nullptr);
        max_clients = static_cast<uint16_t>(std::stoi(config.values["MAX_TWS_CLIENTS"]));
        logoff.reset(new ea_flag[2 * max_clients]);
        for (int i = 0; i < 2 * max_clients; ++i)
            ea_flag_set(&logoff[i], 0);
        for (int i = 0; i < k_links; ++i)
        {
            ea_flag_set(&allow[i], 1);
            ea_flag_set(&overflow[i], 0);
            ea_flag_set(&recovery[i], 0);
        }
        server = tcp_nw_info_create(file.c_str(), max_clients, allow, overflow, &abnormal, logoff.get(),
                                    recovery, loggers->loggers[0]);
        ASSERT_NE(server, nullptr);

        for (int i : {SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR, SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION,
                      SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, SQ_NOTIFICATIONS_TO_BOX_COMM,
                      SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, SQ_EVENTS_TO_INTERFACE})
            queues[i] = shared_queue_create(SHARED_QUEUE_SEMAPHORE);
        queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK] = shared_queue_create(SHARED_QUEUE_NETWORK_EVENT);
        for (int i :
             {SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION, SQ_NOTIFICATIONS_TO_BOX_COMM, SQ_EVENTS_TO_INTERFACE})
            readers[i] = queue_reader{queues[i], queue_create()};

        network_args = {server,
                        {queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK]},
                        queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR],
                        queues[SQ_NOTIFICATIONS_TO_BOX_COMM],
                        queues[SQ_EVENTS_TO_INTERFACE],
                        10,
                        1,
                        k_links,
                        &shutdown,
                        &day[0],
                        loggers->loggers[0]};
        receive_args = {10,
                        &shutdown,
                        queues[SQ_TWS_NETWORK_TO_RECEIVE_VALIDATOR],
                        queues[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION],
                        &day[1],
                        loggers->loggers[1],
                        server->book,
                        max_clients};
        send_args = {10,
                     static_cast<uint16_t>(std::stoi(config.values["FLOW_CONTROL_COUNT"])),
                     &shutdown,
                     queues[SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR],
                     queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK],
                     &day[2],
                     loggers->loggers[2],
                     server->book,
                     max_clients};
        threads[0] = ea_thread_create(tws_nw_handler_thread, &network_args, nullptr);
        threads[1] = ea_thread_create(tws_receive_validate_thread, &receive_args, nullptr);
        threads[2] = ea_thread_create(tws_send_validate_thread, &send_args, nullptr);
        for (ea_thread *thread : threads)
            ASSERT_NE(thread, nullptr);
    }

    // Ends the three threads through the shutdown flag.
    void stop()
    {
        ea_flag_set(&shutdown, 1);
        for (ea_thread *&thread : threads)
        {
            if (thread == nullptr)
                continue;
            EXPECT_EQ(ea_thread_join(thread, 5000, nullptr), EA_SUCCESS);
            EXPECT_EQ(thread->exit_value, EA_SHUTDOWN);
            ea_thread_close(thread);
            thread = nullptr;
        }
    }

    void TearDown() override
    {
        stop();
        for (queue_reader &reader : readers)
        {
            if (reader.local != nullptr)
                ea_destroy_message_queue(reader.local);
        }
        for (shared_queue *&sq : queues)
        {
            if (sq == nullptr)
                continue;
            queue *rest = queue_create();
            shared_queue_get_elements_no_wait(sq, rest);
            ea_destroy_message_queue(rest);
            shared_queue_destroy(sq);
            sq = nullptr;
        }
        tcp_nw_info_destroy(server);
        if (loggers != nullptr)
            logger_object_container_destroy(loggers);
    }

    void put(ea_shared_queue_index index, message *msg)
    {
        ASSERT_EQ(shared_queue_insert_single_element(queues[index], msg), EA_SUCCESS);
    }

    void put_control(ea_shared_queue_index index, uint16_t tag, int32_t handle = 0,
                     uint16_t workstation_index = 0, uint16_t reason = 0)
    {
        message *msg = message_create(0, tag);
        msg->workstation_network_handle = handle;
        msg->workstation_index = workstation_index;
        msg->reason_code = reason;
        put(index, msg);
    }

    // Box communication's part: the notification of a new connection, answered.
    void answer_box(uint16_t answer)
    {
        message *note = readers[SQ_NOTIFICATIONS_TO_BOX_COMM].take(k_wait);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->tag, INCOMING_CLIENT_CONNECTION);
        message_destroy(note);
        put_control(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, answer);
    }

    void admit(workstation_client &client)
    {
        ASSERT_TRUE(client.connect("127.0.0.1", port));
        answer_box(CONNECTION_ACCEPT);
        ASSERT_TRUE(client.wait_for_invitation(k_wait));
    }

    // The session layer's side of one record from the workstation side.
    message *from_workstation() { return readers[SQ_TWS_RECEIVE_VALIDATOR_TO_USER_SESSION].take(k_wait); }

    void reply(int32_t handle, uint16_t workstation_index, int16_t transcode, uint16_t length = 80)
    {
        std::vector<uint8_t> record = workstation_make_record(transcode, 42, length);
        message *msg = message_create(record.size(), NORMAL_MESSAGE);
        memcpy(msg->data, record.data(), record.size());
        msg->workstation_network_handle = handle;
        msg->workstation_index = workstation_index;
        put(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, msg);
    }

    // Expects the console event with this reason on queue 19.
    void expect_console_event(uint16_t reason)
    {
        message *event = readers[SQ_EVENTS_TO_INTERFACE].take(k_wait);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->tag, KOVA_MESSAGE);
        EXPECT_EQ(event->reason_code, reason);
        EXPECT_EQ(event->data_length, 0);
        message_destroy(event);
    }

    qel_test::temp_dir dir;
    qel_test::gateway_config config;
    uint16_t port = 0;
    uint16_t max_clients = 0;
    logger_object_container *loggers = nullptr;
    ea_flag shutdown{0};
    ea_flag abnormal{0};
    ea_flag day[3] = {};
    ea_flag allow[k_links] = {};
    ea_flag overflow[k_links] = {};
    ea_flag recovery[k_links] = {};
    std::unique_ptr<ea_flag[]> logoff;
    tcp_nw_info *server = nullptr;
    shared_queue *queues[EA_SHARED_QUEUE_COUNT] = {};
    queue_reader readers[EA_SHARED_QUEUE_COUNT] = {};
    tws_nw_handler_thread_args network_args{};
    tws_receive_validate_thread_args receive_args{};
    tws_send_validate_thread_args send_args{};
    ea_thread *threads[3] = {};
};

TEST_F(front_end, AdmittedWorkstationIsInvitedAndTradesBothWays)
{
    start({{"FLOW_CONTROL_COUNT", "3"}});
    workstation_client client;
    admit(client);
    EXPECT_EQ(client.last_invitation_count(), 3u);
    EXPECT_EQ(client.credit(), 3u);
    // One connection, one notification: a served accept does not wake the thread again.
    EXPECT_EQ(readers[SQ_NOTIFICATIONS_TO_BOX_COMM].take(200), nullptr);

    std::vector<uint8_t> sign_on = workstation_make_record(2300, 42, 120);
    ASSERT_TRUE(client.send_record(sign_on, k_wait));
    message *in = from_workstation();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->tag, NORMAL_MESSAGE);
    EXPECT_EQ(std::vector<uint8_t>(in->data, in->data + in->data_length), sign_on);
    EXPECT_EQ(in->workstation_sequence_number, 1u);
    EXPECT_EQ(in->workstation_index, 0);
    EXPECT_EQ(in->workstation_network_handle, 1);

    reply(in->workstation_network_handle, in->workstation_index, 2301, 300);
    message_destroy(in);
    workstation_frame frame;
    ASSERT_TRUE(client.wait_for_transcode(2301, &frame, k_wait));
    EXPECT_EQ(frame.record.size(), 300u);
    EXPECT_EQ(frame.sequence, 2u); // the invitation was the first frame of the connection
    EXPECT_TRUE(client.check_failures().empty()) << client.check_failures().front();
}

TEST_F(front_end, UsedUpInvitationIsRenewedWhileTheLinkAllows)
{
    start({{"FLOW_CONTROL_COUNT", "2"}});
    workstation_client client;
    admit(client);
    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
        ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
        ASSERT_TRUE(client.wait_for_invitation(k_wait)) << round;
        for (int i = 0; i < 2; ++i)
            message_destroy(from_workstation());
    }
    EXPECT_EQ(client.invitations(), 4u);
    EXPECT_TRUE(client.check_failures().empty());
}

TEST_F(front_end, FrameBeyondTheInvitationDisconnectsWithoutBeingForwarded)
{
    start({{"FLOW_CONTROL_COUNT", "2"}});
    ea_flag_set(&allow[0], 0);
    workstation_client client;
    admit(client);
    client.faults().ignore_invitations = true;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
    for (int i = 0; i < 2; ++i)
    {
        message *in = from_workstation();
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(in->tag, NORMAL_MESSAGE);
        message_destroy(in);
    }
    message *note = from_workstation();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->tag, CLIENT_DISCONNECTED);
    EXPECT_EQ(note->reason_code, TWS_REASON_INVITATION_EXCEEDED);
    message_destroy(note);
    EXPECT_TRUE(client.wait_for_close(k_wait));
    EXPECT_EQ(client.invitations(), 1u);
}

TEST_F(front_end, HeldInvitationGoesOutOnceTheLinkAllowsAgain)
{
    start({{"FLOW_CONTROL_COUNT", "1"}});
    workstation_client client;
    admit(client);
    ea_flag_set(&allow[0], 0);
    ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
    message_destroy(from_workstation());
    EXPECT_FALSE(client.wait_for_invitation(200));
    ea_flag_set(&allow[0], 1);
    EXPECT_TRUE(client.wait_for_invitation(k_wait));
}

TEST_F(front_end, InvitationsFollowTheLinkTheConnectionIsBoundTo)
{
    start({{"FLOW_CONTROL_COUNT", "1"}, {"NUMBER_OF_LINKS", "2"}});
    workstation_client client;
    admit(client);
    message *bind = message_create(0, UPDATE_LINK_INDEX);
    bind->workstation_network_handle = 1;
    bind->link_index = 1;
    put(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, bind);
    ea_flag_set(&allow[1], 0);
    // Binding passes the send validator; a reply sent after it arrives after it.
    reply(1, 0, 2301);
    workstation_frame frame;
    ASSERT_TRUE(client.receive(&frame, k_wait));
    ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
    message_destroy(from_workstation());
    EXPECT_FALSE(client.wait_for_invitation(200));
    ea_flag_set(&allow[1], 1);
    EXPECT_TRUE(client.wait_for_invitation(k_wait));
}

// Each misbehaviour of a workstation, and what the session layer is told.
TEST_F(front_end, MisbehavingWorkstationsAreReportedWithTheirReasonCodes)
{
    start({{"FLOW_CONTROL_COUNT", "5"}});
    struct misbehaviour
    {
        const char *name;
        void (*act)(workstation_client &);
        uint16_t tag;
        uint16_t reason;
    };
    const misbehaviour cases[] = {
        {"bad digest",
         [](workstation_client &c)
         {
             c.faults().bad_digest = true;
             c.send_record(workstation_make_record(2000, 42, 240), k_wait);
         },
         CLIENT_VALIDATION_FAILURE, TWS_REASON_CHECKSUM},
        {"frame shorter than both headers",
         [](workstation_client &c)
         {
             std::vector<uint8_t> record = workstation_make_record(2000, 42, 40);
             record.resize(39);
             c.send_record(record, k_wait);
         },
         CLIENT_VALIDATION_FAILURE, TWS_REASON_SHORT_FRAME},
        {"VRX length one more than the record",
         [](workstation_client &c)
         {
             c.faults().vrx_length_delta = 1;
             c.send_record(workstation_make_record(2000, 42, 240), k_wait);
         },
         CLIENT_VALIDATION_FAILURE, TWS_REASON_VRX_LENGTH},
        {"frame length 2",
         [](workstation_client &c) {
             c.send_raw({0x00, 0x02, 0x00, 0x00});
         },
         CLIENT_DISCONNECTED, TWS_REASON_INVALID_LENGTH},
        {"frame length 2048",
         [](workstation_client &c) {
             c.send_raw({0x08, 0x00, 0x00, 0x00});
         },
         CLIENT_DISCONNECTED, TWS_REASON_INVALID_LENGTH},
        {"reset in the middle of a frame",
         [](workstation_client &c) { c.reset_mid_frame(workstation_make_record(2000, 42, 240), 30); },
         CLIENT_DISCONNECTED, TWS_REASON_CONNECTION_LOST},
    };
    for (const misbehaviour &m : cases)
    {
        SCOPED_TRACE(m.name);
        workstation_client client;
        admit(client);
        m.act(client);
        message *note = from_workstation();
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->tag, m.tag);
        EXPECT_EQ(note->reason_code, m.reason);
        // The session layer ends the connection; the slot is free for the next case.
        put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, DROP_CLIENT, note->workstation_network_handle,
                    note->workstation_index, note->reason_code);
        expect_console_event(m.reason);
        message_destroy(note);
        EXPECT_TRUE(client.wait_for_close(k_wait));
    }
}

TEST_F(front_end, OneByteWritesAndSkippedSequenceNumbersPassToTheSessionLayer)
{
    start({{"FLOW_CONTROL_COUNT", "5"}});
    workstation_client client;
    admit(client);
    client.faults().one_byte_writes = true;
    ASSERT_TRUE(client.send_record(workstation_make_record(2300, 42, 100), k_wait));
    client.faults().sequence_delta = 3;
    ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
    client.faults().sequence_delta = -1;
    ASSERT_TRUE(client.send_record(workstation_make_record(2000, 42, 240), k_wait));
    // The sequence number is the session layer's to check; this side carries it over.
    for (uint32_t expected : {1u, 5u, 5u})
    {
        message *in = from_workstation();
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(in->tag, NORMAL_MESSAGE);
        EXPECT_EQ(in->workstation_sequence_number, expected);
        message_destroy(in);
    }
}

TEST_F(front_end, ConnectionsBeyondTheMaximumAreRefused)
{
    start({{"MAX_TWS_CLIENTS", "2"}});
    workstation_client first, second, third;
    ASSERT_TRUE(first.connect("127.0.0.1", port));
    ASSERT_TRUE(second.connect("127.0.0.1", port));
    ASSERT_TRUE(third.connect("127.0.0.1", port));
    expect_console_event(TWS_REASON_MAX_CONNECTIONS);
    EXPECT_TRUE(third.wait_for_close(k_wait));
    // Both waiting sockets share one notification and are admitted together.
    answer_box(CONNECTION_ACCEPT);
    EXPECT_TRUE(first.wait_for_invitation(k_wait));
    EXPECT_TRUE(second.wait_for_invitation(k_wait));
    EXPECT_EQ(readers[SQ_NOTIFICATIONS_TO_BOX_COMM].take(100), nullptr);
    ASSERT_TRUE(second.send_record(workstation_make_record(2300, 7, 60), k_wait));
    message *in = from_workstation();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->workstation_index, 1);
    EXPECT_EQ(in->workstation_network_handle, 2);
    message_destroy(in);
}

TEST_F(front_end, RefusedNewConnectionsAreClosed)
{
    start();
    workstation_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    answer_box(NEW_CONNECTION_REJECT);
    expect_console_event(TWS_REASON_CONNECTIONS_REJECTED);
    EXPECT_TRUE(client.wait_for_close(k_wait));
    EXPECT_EQ(client.invitations(), 0u);
}

TEST_F(front_end, StaleRecordForAReusedSlotIsDiscarded)
{
    start();
    workstation_client old_client;
    admit(old_client);
    put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, DROP_CLIENT, 1, 0, 11009);
    expect_console_event(11009);
    EXPECT_TRUE(old_client.wait_for_close(k_wait));

    workstation_client new_client;
    admit(new_client);
    reply(1, 0, 2222);
    reply(2, 0, 2301);
    workstation_frame frame;
    ASSERT_TRUE(new_client.receive(&frame, k_wait));
    EXPECT_EQ(qel_sim::workstation_record_transcode(frame.record), 2301);
    EXPECT_TRUE(new_client.check_failures().empty());
}

TEST_F(front_end, UserLogoffFlushReturnsAfterTheConnectionIsGone)
{
    start();
    workstation_client client;
    admit(client);
    put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, USER_LOGOFF_FLUSH, 1, 0, 11001);
    message *back = from_workstation();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(back->workstation_network_handle, 1);
    message_destroy(back);
    expect_console_event(11001);
    EXPECT_TRUE(client.wait_for_close(k_wait));
}

TEST_F(front_end, WorkstationThatNeverReadsIsDisconnectedWhenTooMuchWaits)
{
    start({{"MAX_CLIENT_PENDING_MESG_COUNT", "20"}});
    workstation_client client;
    admit(client);
    for (int i = 0; i < 3000; ++i)
        reply(1, 0, 2301, 2000);
    message *note = from_workstation();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->tag, CLIENT_DISCONNECTED);
    EXPECT_EQ(note->reason_code, TWS_REASON_TOO_MANY_PENDING);
    message_destroy(note);
}

TEST_F(front_end, UnknownTagFromTheSendValidatorIsDroppedAndTheThreadGoesOn)
{
    start();
    put_control(SQ_BOX_COMM_TO_TWS_SEND_VALIDATOR, NEW_CONNECTION_REJECT);
    expect_console_event(TWS_REASON_CONNECTIONS_REJECTED);
    message *odd = message_create(0, HEART_BEAT_MESSAGE);
    ASSERT_EQ(shared_queue_insert_single_element(queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK], odd),
              EA_SUCCESS);
    workstation_client client;
    admit(client);
}
} // namespace

TEST_F(front_end, NetworkThreadLogsItsRecordsUnderItsRoutine)
{
    start();
    workstation_client client;
    admit(client);
    message *link = message_create(0, UPDATE_LINK_INDEX);
    link->workstation_network_handle = 1;
    link->link_index = 1;
    put(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, link);
    ASSERT_EQ(shared_queue_insert_single_element(queues[SQ_TWS_SEND_VALIDATOR_TO_TWS_NETWORK],
                                                 message_create(0, HEART_BEAT_MESSAGE)),
              EA_SUCCESS);
    put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, BOX_LOGOFF_FLUSH);
    message *flush = from_workstation();
    ASSERT_NE(flush, nullptr);
    EXPECT_EQ(flush->tag, BOX_LOGOFF_FLUSH);
    message_destroy(flush);
    put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, DROP_CLIENT, 1, 0, 11009);
    expect_console_event(11009);
    EXPECT_TRUE(client.wait_for_close(k_wait));
    stop();
    const auto lines = qel_test::gateway_log_lines(dir.file("logs"), "tws_network_handler_thread");
    qel_test::expect_lines_under(
        lines,
        {"Received UPDATE_LINK_INDEX notification for tws network handle [1]", "Invalid message tag [25]",
         "Received BOX_LOGOFF_FLUSH message for link index [0]. Forwarding the same.",
         "Received DROP_CLIENT message for tws nw handle [1]",
         "Sent KOVA_MESSAGE to Interface Thread with user id [0] and reason code [11009]."},
        "tws_nw_handler_thread");
    // The lines about the connection before it signed on may have been folded; those
    // written are the routine's too.
    for (const qel_test::gateway_log_line &line : lines)
        EXPECT_TRUE(line.function.compare(0, 15, "tws_nw_handler_") != 0 ||
                    line.function == "tws_nw_handler_thread")
            << line.function << ": " << line.text;
}

TEST_F(front_end, RecordQueuedBeforeTheLogoffReachesTheWorkstationBeforeTheClose)
{
    start();
    workstation_client client;
    admit(client);
    // The session layer's refusal of a sign-on: the response, then the logoff, back to back.
    reply(1, 0, 2301, 214);
    put_control(SQ_USER_SESSION_TO_TWS_SEND_VALIDATOR, USER_LOGOFF_FLUSH, 1, 0, 11001);
    workstation_frame frame;
    ASSERT_TRUE(client.receive(&frame, k_wait));
    EXPECT_EQ(qel_sim::workstation_record_transcode(frame.record), 2301);
    EXPECT_TRUE(client.wait_for_close(k_wait));
    message *back = from_workstation();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->tag, USER_LOGOFF_FLUSH);
    message_destroy(back);
}
