// The box communication controller driven through its three entry points with local
// queues, as its thread drives it: box sign-on and every refusal and time-out, client
// admission, rate control, and session recovery. Time moves with the tick offset.
#include "gateway/controller_module/box_comm_info_container.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/box_session_support.h"

using namespace qel_test;

namespace
{
// Host record offsets, from the box record formats (count at 0, transcode at 2).
enum : uint32_t
{
    SIGN_ON_BOX_ID = 4,
    SIGN_ON_ERROR = 6,
    SIGN_ON_RECOVERY = 16,
    PARAMS_BASE = 4,
    PARAMS_USERS = 6,
    PARAMS_BOX_ID = 8,
    RELOGON_BOX_ID = 4,
    RELOGON_ERROR = 6,
    RELOGON_LAST_SEQ = 20,
    SIGN_OFF_BOX_ID = 4,
    RATE_PERCENT = 4,
    BOX_ID = 0x1234,
    HANDLE = 7,
};

struct BoxController : ::testing::Test
{
    box_environment env;
    queue *to_th_session = queue_create();
    queue *to_th_network = queue_create();
    queue *to_tws = queue_create();
    queue *to_fix = queue_create();
    queue *to_interface = queue_create();
    queue *input = queue_create();

    ~BoxController() override
    {
        for (queue *q : {to_th_session, to_th_network, to_tws, to_fix, to_interface, input})
            ea_destroy_message_queue(q);
    }
    void notify(message *msg)
    {
        queue_append(input, msg);
        ASSERT_EQ(box_comm_info_container_process_notifications(env.box, input, to_th_session, to_th_network,
                                                                to_tws, to_fix, to_interface, env.logger),
                  EA_SUCCESS);
    }
    void host(message *msg)
    {
        queue_append(input, msg);
        ASSERT_EQ(box_comm_info_container_process_th_session_messages(
                      env.box, input, to_th_network, to_th_session, to_interface, env.logger),
                  EA_SUCCESS);
    }
    void pass()
    {
        ASSERT_EQ(box_comm_info_container_process_box(env.box, to_th_network, to_tws, to_fix, to_th_session,
                                                      env.logger),
                  EA_SUCCESS);
    }
    std::vector<uint16_t> events()
    {
        std::vector<uint16_t> codes;
        for (message *event : take_all(to_interface))
        {
            EXPECT_EQ(event->tag, KOVA_MESSAGE);
            EXPECT_EQ(event->user_id, 0xFFFFFFFFu);
            EXPECT_EQ(event->data_length, 0);
            EXPECT_EQ(event->link_index, 0);
            codes.push_back(event->reason_code);
            message_destroy(event);
        }
        return codes;
    }
    // Tags of the records on a queue, which are freed.
    static std::vector<uint16_t> tags(queue *q)
    {
        std::vector<message *> records = take_all(q);
        std::vector<uint16_t> out;
        for (message *msg : records)
            out.push_back(msg->tag);
        free_all(records);
        return out;
    }
    void client(uint16_t user_type = 0)
    {
        message *msg = message_create(0, INCOMING_CLIENT_CONNECTION);
        msg->user_type = user_type;
        notify(msg);
    }
    message *sign_on_response(uint16_t error, char recovery = 'E', uint16_t box_id = BOX_ID,
                              int32_t handle = HANDLE)
    {
        message *msg = host_record(23001, 40, {{SIGN_ON_BOX_ID, box_id}, {SIGN_ON_ERROR, error}}, 0, handle);
        msg->data[SIGN_ON_RECOVERY] = static_cast<uint8_t>(recovery);
        return msg;
    }
    message *parameters(uint16_t base, uint16_t users, uint16_t box_id = BOX_ID)
    {
        return host_record(23007, 40, {{PARAMS_BASE, base}, {PARAMS_USERS, users}, {PARAMS_BOX_ID, box_id}},
                           0, HANDLE);
    }
    message *rate_update(uint16_t percent)
    {
        return host_record(23504, 6, {{RATE_PERCENT, percent}}, 0, HANDLE);
    }
    void logon(char recovery = 'E')
    {
        client();
        EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_LOGON_REQUEST});
        notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE));
        host(sign_on_response(0, recovery));
        host(parameters(100, 5));
        pass();
        ASSERT_EQ(env.link0().box_status.load(), LOGGED_ON);
        EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{CONNECTION_ACCEPT});
        EXPECT_EQ(events(), (std::vector<uint16_t>{12015, 12016, 12010}));
    }
    // The connection breaks and the recovery flush comes back from the host network thread.
    void lose_connection(uint16_t reason = 12008)
    {
        notify(notification(HOST_CONNECTION_LOST, 0, HANDLE, reason));
        EXPECT_EQ(env.link0().session_status, CLEANUP_IN_PROGRESS);
        EXPECT_EQ(tags(to_th_network), std::vector<uint16_t>{INITIATE_SESSION_RECOVERY_FLUSH});
        notify(notification(RECVD_SESSION_RECOVERY_FLUSH, 0, -1));
        EXPECT_EQ(env.link0().session_status, RECOVERY_IN_PROGRESS);
    }
};
} // namespace

TEST_F(BoxController, FirstClientSignsTheBoxOnAndIsAcceptedWhenTheLogonCompletes)
{
    client();
    EXPECT_EQ(env.link0().box_status.load(), LOGON_IN_PROGRESS);
    EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), 100);
    EXPECT_NE(env.link0().link_inactivity_timer.load(), 0u);
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_LOGON_REQUEST});
    pass();
    EXPECT_TRUE(tags(to_tws).empty()); // held while the logon runs

    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE));
    host(sign_on_response(0, 'E'));
    EXPECT_EQ(ea_flag_get(&env.link0().session_recovery_enabled), 1);
    host(parameters(80, 5));
    EXPECT_EQ(env.link0().box_status.load(), LOGGED_ON);
    EXPECT_EQ(env.link0().session_status, ESTABLISHED);
    EXPECT_EQ(ea_flag_get(&env.link0().logon_complete), 1);
    EXPECT_EQ(env.link0().link_inactivity_timer.load(), 0u);
    EXPECT_EQ(env.link0().max_users_per_box.load(), 5);
    EXPECT_EQ(ea_flag_get(&env.base_rate_control), 80);
    EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), 80);
    EXPECT_EQ(events(), (std::vector<uint16_t>{12015, 12016, 12010}));
    pass();
    EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{CONNECTION_ACCEPT});
    client(1); // a later FIX client is accepted at once, without a new logon
    EXPECT_EQ(tags(to_fix), std::vector<uint16_t>{CONNECTION_ACCEPT});
    EXPECT_TRUE(tags(to_th_session).empty());
}

TEST_F(BoxController, SecondClientWhileLoggingOnGetsTheSameHeldAnswer)
{
    client(0);
    client(1);
    client(0);
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_LOGON_REQUEST}); // one logon only
    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE));
    host(sign_on_response(16001));
    pass();
    EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{NEW_CONNECTION_REJECT});
    EXPECT_EQ(tags(to_fix), std::vector<uint16_t>{NEW_CONNECTION_REJECT});
    EXPECT_EQ(env.box->incoming_client_response_pending, 0u);
}

TEST_F(BoxController, RefusalsAndTimeOutsLogTheBoxOffWithTheirReason)
{
    struct
    {
        const char *name;
        std::function<void(BoxController &)> act;
        uint16_t reason;
        int32_t event_value;
    } cases[] = {
        {"refused sign-on", [](BoxController &t) { t.host(t.sign_on_response(16053)); }, 12001, 16053},
        {"relogon answer during logon",
         [](BoxController &t) {
             t.host(host_record(23503, 40, {{RELOGON_BOX_ID, BOX_ID}}, 0, HANDLE));
         },
         12001, 15000},
        {"sign-off",
         [](BoxController &t) {
             t.host(host_record(20322, 40, {{SIGN_OFF_BOX_ID, BOX_ID}}, 0, HANDLE));
         },
         12002, -1},
        {"no sign-on response",
         [](BoxController &t)
         {
             pf_tick_advance(10001);
             t.pass();
         },
         12003, -1},
        {"no box parameters",
         [](BoxController &t)
         {
             t.host(t.sign_on_response(0));
             t.host(t.parameters(100, 11)); // more users than MAX_TWS_CLIENTS: refused
             pf_tick_advance(10001);
             t.pass();
         },
         12017, -1},
        {"host session time-out",
         [](BoxController &t) { t.notify(notification(HOST_SESSION_TIMED_OUT, 0, HANDLE)); }, 12005, -1},
        {"connection lost",
         [](BoxController &t) { t.notify(notification(HOST_CONNECTION_LOST, 0, HANDLE, 12008)); }, 12008, -1},
    };
    for (auto &c : cases)
    {
        SCOPED_TRACE(c.name);
        client();
        tags(to_th_session);
        notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE));
        c.act(*this);
        EXPECT_EQ(env.link0().box_status.load(), LOGGED_OFF);
        EXPECT_EQ(env.link0().host_nw_handle.load(), -1);
        std::vector<message *> drops = take_all(to_th_session);
        ASSERT_EQ(drops.size(), 1u);
        EXPECT_EQ(drops[0]->tag, DROP_HOST_SESSION);
        EXPECT_EQ(drops[0]->reason_code, c.reason);
        EXPECT_EQ(drops[0]->host_network_handle, HANDLE);
        EXPECT_EQ(drops[0]->event_value, c.event_value);
        free_all(drops);
        pass();
        EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{NEW_CONNECTION_REJECT});
        events();
        // The link stays logged off until the next client; link_inactivity_timer keeps the first attempt.
        EXPECT_NE(env.link0().link_inactivity_timer.load(), 0u);
    }
}

TEST_F(BoxController, RecordsThatDoNotFitAreDroppedAndChangeNothing)
{
    client();
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_LOGON_REQUEST});
    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE));
    host(parameters(100, 5));                           // before the sign-on response
    host(sign_on_response(0, 'E', BOX_ID + 1));         // another box
    host(sign_on_response(0, 'E', BOX_ID, HANDLE + 1)); // another connection
    host(host_record(23001, 10, {}, 0, HANDLE));        // too short to read
    notify(notification(HOST_CONNECTION_LOST, 0, HANDLE + 1, 12008));
    notify(notification(HOST_CONNECTION_LOST, 3, HANDLE, 12008)); // no such link
    EXPECT_EQ(env.link0().box_status.load(), LOGON_IN_PROGRESS);
    EXPECT_EQ(env.link0().next_expected_transcode, 23001);
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(tags(to_th_session).empty());
    queue_append(input, notification(PULL_NOTIFICATION, 0, HANDLE)); // not for this module: fatal
    EXPECT_EQ(box_comm_info_container_process_notifications(env.box, input, to_th_session, to_th_network,
                                                            to_tws, to_fix, to_interface, env.logger),
              EA_ERROR);
}

TEST_F(BoxController, NoValidLinkRejectsInTheSamePass)
{
    env.link0().link_valid = 0;
    client();
    EXPECT_TRUE(tags(to_th_session).empty());
    pass();
    EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{NEW_CONNECTION_REJECT});
}

TEST_F(BoxController, RateControlUpdatesAndHeartBeats)
{
    logon();
    struct
    {
        uint16_t percent;
        int32_t count;
        std::vector<uint16_t> events;
    } steps[] = {{0, 0, {12011}}, {50, 50, {12012}}, {80, 80, {}}, {100, 100, {}}, {250, 250, {}}};
    for (const auto &step : steps)
    {
        host(rate_update(step.percent));
        EXPECT_EQ(env.link0().rate_control_per, step.percent);
        EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), step.count);
        EXPECT_EQ(events(), step.events);
        if (step.percent == 0)
        {
            pf_tick_advance(4990); // the interval is 5000 ms
            pass();
            EXPECT_TRUE(tags(to_th_session).empty());
            for (int beat = 0; beat < 2; ++beat)
            {
                pf_tick_advance(5001);
                pass();
                std::vector<message *> beats = take_all(to_th_session);
                ASSERT_EQ(beats.size(), 1u);
                EXPECT_EQ(to_hex(beats[0]->data, beats[0]->data_length), "000159dc0000");
                free_all(beats);
            }
        }
    }
    pf_tick_advance(60000);
    pass();
    EXPECT_TRUE(tags(to_th_session).empty()); // no heart beat once the rate is above 0
    host(rate_update(0xFFFF));                // negative: dropped
    EXPECT_EQ(env.link0().rate_control_per, 250);
}

TEST_F(BoxController, ParametersOfALoggedOnBoxOnlyRaiseTheUserLimit)
{
    logon();
    host(parameters(60, 3)); // fewer users: kept at 5, base still taken
    EXPECT_EQ(env.link0().max_users_per_box.load(), 5);
    EXPECT_EQ(ea_flag_get(&env.base_rate_control), 60);
    EXPECT_EQ(events(), std::vector<uint16_t>{12016});
    host(parameters(0, 3));
    EXPECT_EQ(events(), std::vector<uint16_t>{12017});
    host(parameters(0, 8));
    EXPECT_EQ(env.link0().max_users_per_box.load(), 8);
    EXPECT_EQ(events(), std::vector<uint16_t>{12016});
}

TEST_F(BoxController, SignOffOfALoggedOnBoxStartsTheBoxLogoffFlush)
{
    logon();
    host(host_record(20322, 40, {{SIGN_OFF_BOX_ID, BOX_ID}}, 0, HANDLE));
    EXPECT_EQ(env.link0().box_status.load(), LOGOFF_IN_PROGRESS);
    EXPECT_EQ(ea_flag_get(&env.link0().logon_complete), 0);
    EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), 0);
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->tag, INITIATE_BOX_LOGOFF_FLUSH);
    EXPECT_EQ(flush[0]->reason_code, 12002);
    EXPECT_EQ(flush[0]->host_network_handle, HANDLE);
    free_all(flush);
    client(); // admitted at once while logging off, with no new logon
    EXPECT_EQ(tags(to_tws), std::vector<uint16_t>{CONNECTION_ACCEPT});
    EXPECT_TRUE(tags(to_th_session).empty());
    notify(notification(RECVD_BOX_LOGOFF_FLUSH, 0, -1));
    EXPECT_EQ(env.link0().box_status.load(), LOGGED_OFF);
    EXPECT_EQ(env.link0().session_status, INACTIVE);
    EXPECT_EQ(ea_flag_get(&env.link0().session_recovery_enabled), 0);
}

TEST_F(BoxController, RecoveryRelogsOnAndFlushesWithTheHostsSequenceNumber)
{
    logon('E');
    lose_connection();
    EXPECT_EQ(events(), std::vector<uint16_t>{12011});
    pass(); // the first relogon goes out in the same pass
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_RELOGON_REQUEST});

    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE + 1));
    host(host_record(23503, 40, {{RELOGON_BOX_ID, BOX_ID}, {RELOGON_LAST_SEQ, 100}}, 0, HANDLE + 1));
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->tag, INITIATE_SESSION_RECOVERED_FLUSH);
    EXPECT_EQ(flush[0]->last_sequence_number, 99);
    free_all(flush);
    EXPECT_EQ(env.link0().session_status, ESTABLISHED);
    EXPECT_EQ(env.link0().logoff_reason, 0);
    EXPECT_EQ(events(), std::vector<uint16_t>{12012});
}

TEST_F(BoxController, RelogonAttemptsAreSpacedAndEndInLogoffAfterTheWindow)
{
    logon('E');
    lose_connection(12008);
    events();
    pass();
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_RELOGON_REQUEST});
    // A connection whose relogon answer does not come within 10 s is dropped and retried.
    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE + 2));
    pf_tick_advance(10001);
    pass();
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{DROP_HOST_CONNECTION});
    pf_tick_advance(1001);
    pass();
    EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_RELOGON_REQUEST});
    for (int attempt = 0; attempt < 2; ++attempt) // at 14 s and 17 s
    {
        pf_tick_advance(2000);
        notify(notification(HOST_CONNECTION_FAILED, 0, -1, 12009));
        pass();
        EXPECT_TRUE(tags(to_th_session).empty()); // not within the second
        pf_tick_advance(1001);
        pass();
        EXPECT_EQ(tags(to_th_session), std::vector<uint16_t>{BOX_RELOGON_REQUEST});
    }
    pf_tick_advance(3000); // past 20 s: the box is logged off with the reason of the loss
    notify(notification(HOST_CONNECTION_FAILED, 0, -1, 12009));
    EXPECT_TRUE(tags(to_th_session).empty());
    EXPECT_EQ(env.link0().box_status.load(), LOGOFF_IN_PROGRESS);
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->tag, INITIATE_BOX_LOGOFF_FLUSH);
    EXPECT_EQ(flush[0]->reason_code, 12008);
    free_all(flush);
}

TEST_F(BoxController, RecoveryDisabledLogsOffWithTheReasonOfTheLoss)
{
    logon('N');
    lose_connection(12004);
    EXPECT_TRUE(events().empty()); // no "not ready" without recovery
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->tag, INITIATE_BOX_LOGOFF_FLUSH);
    EXPECT_EQ(flush[0]->reason_code, 12004);
    free_all(flush);
    EXPECT_EQ(env.link0().box_status.load(), LOGOFF_IN_PROGRESS);
}

TEST_F(BoxController, HostSessionTimeOutLogsOffWithoutRecovery)
{
    logon('E');
    notify(notification(HOST_SESSION_TIMED_OUT, 0, 12345));
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->tag, INITIATE_BOX_LOGOFF_FLUSH);
    EXPECT_EQ(flush[0]->reason_code, 12005);
    free_all(flush);
}

TEST_F(BoxController, RelogonAnswerAfterTheWrapAcknowledges32000)
{
    logon('E');
    lose_connection();
    pass();
    tags(to_th_session);
    notify(notification(HOST_CONNECTION_INITIATED, 0, HANDLE + 1));
    host(host_record(23503, 40, {{RELOGON_BOX_ID, BOX_ID}, {RELOGON_LAST_SEQ, 1}}, 0, HANDLE + 1));
    std::vector<message *> flush = take_all(to_th_network);
    ASSERT_EQ(flush.size(), 1u);
    EXPECT_EQ(flush[0]->last_sequence_number, 32000);
    free_all(flush);
}

TEST_F(BoxController, RateCountStaysWithinItsSixteenBitLimit)
{
    logon();
    host(parameters(30000, 5));
    host(rate_update(200)); // 60000 would read as a negative limit
    EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), 32767);
}
