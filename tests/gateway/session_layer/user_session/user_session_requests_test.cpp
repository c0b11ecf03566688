// Records from the users' side: logon admission and its refusals, the state check of
// requests, the refusal of what users may not send, sequence checks, the confirmation that frees a slot, the
// box logoff flush relay and journal download requests.
#include <gtest/gtest.h>

#include "common/ea_time.h"
#include "support/hex.h"
#include "user_session_test_support.h"

using namespace user_session_test;

using UserSessionRequests = UserSessionTest;

TEST_F(UserSessionRequests, SignOnIsAdmittedAndSentToTheHost)
{
    ASSERT_EQ(send(sign_on_record(1, 501, 12345)), EA_SUCCESS);
    EXPECT_EQ(slot(1).logon_status, logon_status::LOGON_IN_PROGRESS);
    EXPECT_EQ(slot(1).user_id, 12345);
    EXPECT_EQ(slot(1).link_index, 0);
    EXPECT_EQ(container->active_user_count, 1);
    EXPECT_EQ(container->connected_users_count[0], 1);

    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, UPDATE_LINK_INDEX);
    EXPECT_EQ(ws[0]->link_index, 0);
    EXPECT_EQ(ws[0]->workstation_network_handle, 501);
    EXPECT_EQ(ws[0]->workstation_index, 1);

    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(host[0]->user_id, 12345u);
    EXPECT_EQ(get_u32_be(host[0]->data, 0), 12345u); // header user id copied from the body
    EXPECT_EQ(get_i16_be(host[0]->data, 10), 2300);
}

struct refusal_case
{
    const char *name;
    int32_t user_id;
    uint16_t logon_complete;
    int16_t rate;
    int32_t max_users;
    int32_t began_ms_ago;   // link_inactivity_timer; -1 = 0
    int16_t response_error; // 0 = no sign-on response
    uint16_t reason;
};

const refusal_case kRefusals[] = {
    {"user id 0", 0, 1, 100, 10, -1, 16042, 11001},
    {"negative user id", -5, 1, 100, 10, -1, 16042, 11001},
    {"rate control 0", 12345, 1, 0, 10, -1, 16123, 11021},
    {"user limit reached", 12345, 1, 100, 0, -1, 0, 11022},
    {"link logging on", 12345, 0, 100, 10, 5000, 0, 11017},
    {"link down long ago", 12345, 0, 100, 10, 20000, 0, 11008},
};

TEST_F(UserSessionRequests, RefusedSignOnsGetTheirResponseAndReason)
{
    uint16_t index = 0;
    for (const refusal_case &c : kRefusals)
    {
        SCOPED_TRACE(c.name);
        set_link(0, c.logon_complete, c.rate, c.max_users);
        set_link(1, 0, 100, 10);
        box_record(0).link_inactivity_timer.store(
            c.began_ms_ago < 0 ? 0 : ea_get_tick_count() - static_cast<uint32_t>(c.began_ms_ago));
        ASSERT_EQ(send(sign_on_record(index, 700 + index, c.user_id)), EA_SUCCESS);
        EXPECT_TRUE(take(to_host).empty());
        auto ws = take(to_ws);
        size_t next = 0;
        if (c.response_error != 0)
        {
            ASSERT_GE(ws.size(), 1u);
            EXPECT_EQ(ws[0]->tag, NORMAL_MESSAGE);
            EXPECT_EQ(get_i16_be(ws[0]->data, 10), 2301);
            EXPECT_EQ(get_i16_be(ws[0]->data, 12), c.response_error);
            EXPECT_EQ(ws[0]->workstation_network_handle, 700 + index);
            next = 1;
        }
        ASSERT_EQ(ws.size(), next + 1);
        EXPECT_EQ(ws[next]->tag, USER_LOGOFF_FLUSH);
        EXPECT_EQ(ws[next]->reason_code, c.reason);
        EXPECT_EQ(ws[next]->workstation_index, index);
        EXPECT_EQ(slot(index).logon_status, logon_status::LOGOFF_IN_PROGRESS);
        EXPECT_EQ(slot(index).validation_failure_flag, EA_DO_NOT_FORWARD);
        EXPECT_EQ(logoff_flag(index), 1);
        EXPECT_EQ(container->active_user_count, 0);
        index++;
    }
}

TEST_F(UserSessionRequests, ShortSignOnIsRefusedBeforeTheUserIdIsRead)
{
    message *msg = request(0, 42, vrx(0, 2300, 0, 42)); // body too short for the user id
    put_u16_be(msg->data, 40, 0x1234);
    ASSERT_EQ(send(msg), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 2u);
    EXPECT_EQ(get_i16_be(ws[0]->data, 12), 16042);
    EXPECT_EQ(ws[1]->reason_code, 11001);
    EXPECT_TRUE(take(to_host).empty());
}

TEST_F(UserSessionRequests, SecondConnectionOfAUserIsRefusedAndTheFirstKept)
{
    log_on(0, 100, 12345);
    ASSERT_EQ(send(sign_on_record(1, 101, 12345)), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 2u);
    EXPECT_EQ(get_i16_be(ws[0]->data, 12), 16004);
    EXPECT_EQ(ws[0]->workstation_network_handle, 101);
    EXPECT_EQ(ws[1]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[1]->reason_code, 11000);
    EXPECT_EQ(ws[1]->workstation_index, 1);
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGGED_ON);
    EXPECT_EQ(slot(0).tws_nw_handle, 100);
}

TEST_F(UserSessionRequests, FirstRecordMustBeASignOn)
{
    ASSERT_EQ(send(request(2, 55, vrx(1, 2000, 0, 240))), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[0]->reason_code, 11003);
    EXPECT_TRUE(take(to_host).empty());
}

TEST_F(UserSessionRequests, LogonInProgressLetsOnlySystemInformationAndSignOffThrough)
{
    ASSERT_EQ(send(sign_on_record(0, 9, 12345)), EA_SUCCESS);
    drain();
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2000, 0, 240))), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());

    ASSERT_EQ(send(request(0, 9, vrx(12345, 1600, 0, 44))), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(to_hex(host[0]->data + 30, 8), hex_digits("0000000000000000")); // workstation user: 0.0

    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty()); // the host hears of it through a status query
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGOFF_IN_PROGRESS);
    EXPECT_EQ(slot(0).status_query, 1);
    EXPECT_EQ(slot(0).immediate_status_query, 1u);
    EXPECT_EQ(slot(0).logoff_reason_code, 11007);
}

TEST_F(UserSessionRequests, LoggedOnRequestsTravelUnderTheAdmittedUser)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(request(0, 9, vrx(999, 2000, 0, 240))), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(get_u32_be(host[0]->data, 0), 12345u);
    EXPECT_EQ(host[0]->user_id, 12345u);
    EXPECT_EQ(host[0]->link_index, 0);
}

TEST_F(UserSessionRequests, RecordsOfTheHostLinkAreRefusedAndTheSessionGoesOn)
{
    log_on(0, 9, 12345);
    log_on(1, 10, 23456);
    for (int16_t transcode : {23000, 23502, 23506, 20000, -2})
    {
        ASSERT_EQ(send(request(0, 9, vrx(12345, transcode, 0, 46))), EA_SUCCESS);
        EXPECT_TRUE(take(to_host).empty()) << transcode;
        EXPECT_TRUE(take(to_ws).empty()) << transcode; // the workstation protocol has no answer
        auto events = take(to_console);
        ASSERT_EQ(events.size(), 1u) << transcode;
        EXPECT_EQ(events[0]->tag, KOVA_MESSAGE);
        EXPECT_EQ(events[0]->reason_code, 11029);
        EXPECT_EQ(events[0]->user_id, 12345u);
        EXPECT_EQ(events[0]->event_value, transcode);
        EXPECT_EQ(events[0]->data_length, 0u);
    }
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGGED_ON);
    EXPECT_EQ(logoff_flag(0), 0);
    // Both users' orders still reach the host, each under its own user.
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2000, 0, 240))), EA_SUCCESS);
    ASSERT_EQ(send(request(1, 10, vrx(23456, 2000, 0, 240))), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 2u);
    EXPECT_EQ(host[0]->user_id, 12345u);
    EXPECT_EQ(host[1]->user_id, 23456u);
}

TEST_F(UserSessionRequests, SecondSignOnOfASignedOnSessionIsAnsweredAndRefused)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(sign_on_record(0, 9, 54321)), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(get_i16_be(ws[0]->data, 10), 2301);
    EXPECT_EQ(get_i16_be(ws[0]->data, 12), 16004);
    EXPECT_EQ(get_u32_be(ws[0]->data, 0), 12345u); // answered as the admitted user
    EXPECT_EQ(ws[0]->workstation_network_handle, 9);
    auto events = take(to_console);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->reason_code, 11029);
    EXPECT_EQ(events[0]->event_value, 2300);
    EXPECT_EQ(slot(0).user_id, 12345);
    EXPECT_EQ(container->active_user_count, 1);
    uint16_t found = 0;
    EXPECT_EQ(user_session_info_container_get_index(container, 54321, USERID_KEY, &found, nullptr), -1);

    // While the logon is still in progress the second sign-on is refused the same way.
    ASSERT_EQ(send(sign_on_record(2, 11, 777)), EA_SUCCESS);
    drain();
    ASSERT_EQ(send(sign_on_record(2, 11, 888)), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_EQ(take(to_ws).size(), 1u);
    EXPECT_EQ(take(to_console).size(), 1u);
    EXPECT_EQ(slot(2).user_id, 777);
}

TEST_F(UserSessionRequests, SecondSignOnOfAFixSessionIsRefusedWithoutAnAnswer)
{
    const uint16_t fix_slot = kMaxClients + 2;
    message *first = sign_on_record(fix_slot, 3001, 777);
    ASSERT_EQ(send(first), EA_SUCCESS);
    ASSERT_EQ(answer(reply(777, 1601, 0, 3)), EA_SUCCESS);
    drain();
    ASSERT_EQ(send(sign_on_record(fix_slot, 3001, 888)), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_TRUE(take(to_fix).empty()); // a sign-on answer would log the FIX session out
    auto events = take(to_console);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]->user_id, 777u);
    EXPECT_EQ(slot(fix_slot).logon_status, logon_status::LOGGED_ON);
}

TEST_F(UserSessionRequests, SignOffOfALoggedOnUserReachesTheHostAndBlocksTheConnection)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    EXPECT_EQ(take(to_host).size(), 1u);
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGOFF_IN_PROGRESS);
    EXPECT_EQ(slot(0).logoff_reason_code, 11007);
    EXPECT_NE(slot(0).request_sent_timer, 0u);
    EXPECT_EQ(logoff_flag(0), 1);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2000, 0, 240))), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
}

TEST_F(UserSessionRequests, RequestsAreDroppedWhileTheLinkIsDown)
{
    log_on(0, 9, 12345);
    set_link(0, 0, 100, 10);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2000, 0, 240))), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGGED_ON);
}

TEST_F(UserSessionRequests, SequenceErrorStartsTheLogoff)
{
    message *msg = sign_on_record(0, 9, 12345);
    msg->workstation_sequence_number = 2; // the first record must carry 1
    ASSERT_EQ(send(msg), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->reason_code, 11015);
    EXPECT_EQ(slot(0).validation_failure_flag, EA_DO_NOT_FORWARD);
    EXPECT_EQ(container->active_user_count, 0);
}

TEST_F(UserSessionRequests, SequenceErrorOfALoggedOnUserSendsASignOff)
{
    log_on(0, 9, 12345);
    message *msg = request(0, 9, vrx(12345, 2000, 0, 240));
    msg->workstation_sequence_number += 5;
    ASSERT_EQ(send(msg), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(get_i16_be(host[0]->data, 10), 2320);
    EXPECT_EQ(slot(0).logoff_reason_code, 11015);
    EXPECT_TRUE(take(to_ws).empty());
}

TEST_F(UserSessionRequests, RecordOfAnotherHandleChangesNothing)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(request(0, 10, vrx(12345, 2000, 0, 240))), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_EQ(slot(0).tws_nw_handle, 9);
    EXPECT_EQ(slot(0).validation_failure_flag, EA_FORWARD_MESSAGE);
}

TEST_F(UserSessionRequests, RecordsOutsideTheirSideAreDropped)
{
    message *ws_record = request(kMaxClients, 9, vrx(1, 2300, 0, 60)); // FIX slot, workstation type
    ws_record->user_type = 0;
    ASSERT_EQ(send(ws_record), EA_SUCCESS);
    message *fix_record = request(1, 9, vrx(1, 2300, 0, 60));
    fix_record->user_type = 1;
    ASSERT_EQ(send(fix_record), EA_SUCCESS);
    message *no_handle = request(1, -1, vrx(1, 2300, 0, 60));
    ASSERT_EQ(send(no_handle), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_TRUE(take(to_ws).empty());
    EXPECT_TRUE(take(to_fix).empty());
}

TEST_F(UserSessionRequests, FixUsersAreAnsweredOnTheFixSide)
{
    const uint16_t fix_slot = kMaxClients + 1;
    message *msg = sign_on_record(fix_slot, 3000, 777);
    msg->workstation_sequence_number = 99; // FIX sessions have no workstation sequence numbers
    ASSERT_EQ(send(msg), EA_SUCCESS);
    EXPECT_EQ(slot(fix_slot).user_type, 1);
    auto fix = take(to_fix);
    ASSERT_EQ(fix.size(), 1u);
    EXPECT_EQ(fix[0]->tag, UPDATE_LINK_INDEX);
    EXPECT_EQ(fix[0]->user_type, 1);
    EXPECT_TRUE(take(to_ws).empty());
    EXPECT_EQ(take(to_host).size(), 1u);

    message *info = request(fix_slot, 3000, vrx(777, 1600, 0, 44));
    info->workstation_sequence_number = 1;
    ASSERT_EQ(send(info), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(to_hex(host[0]->data + 30, 8), hex_digits("3FF0000000000000")); // FIX user: 1.0
}

TEST_F(UserSessionRequests, SlotIsFreedOnlyByItsReturnedLogoffFlush)
{
    log_on(0, 9, 12345);
    message *early = make_record(USER_LOGOFF_FLUSH, {});
    early->workstation_index = 0;
    early->workstation_network_handle = 9;
    ASSERT_EQ(send(early), EA_SUCCESS); // user still logged on
    EXPECT_EQ(slot(0).tws_nw_handle, 9);

    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    message *other = make_record(USER_LOGOFF_FLUSH, {});
    other->workstation_index = 0;
    other->workstation_network_handle = 10;
    ASSERT_EQ(send(other), EA_SUCCESS); // another connection's flush
    EXPECT_EQ(container->active_user_count, 1);

    message *flush = make_record(USER_LOGOFF_FLUSH, {});
    flush->workstation_index = 0;
    flush->workstation_network_handle = 9;
    ASSERT_EQ(send(flush), EA_SUCCESS);
    EXPECT_EQ(slot(0).tws_nw_handle, -1);
    EXPECT_EQ(slot(0).logon_status, logon_status::NO_USER);
    EXPECT_EQ(container->active_user_count, 0);
    EXPECT_EQ(container->connected_users_count[0], 0);
    EXPECT_EQ(logoff_flag(0), 0);
}

TEST_F(UserSessionRequests, DisconnectionOfAFreeSlotDropsTheClient)
{
    message *msg = make_record(CLIENT_DISCONNECTED, {});
    msg->workstation_index = 3;
    msg->workstation_network_handle = 44;
    msg->reason_code = 11009;
    ASSERT_EQ(send(msg), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, DROP_CLIENT);
    EXPECT_EQ(ws[0]->reason_code, 11009);
    EXPECT_EQ(logoff_flag(3), 1);
}

TEST_F(UserSessionRequests, BoxLogoffFlushIsRelayedFromEachSide)
{
    message *from_ws = make_record(BOX_LOGOFF_FLUSH, {});
    from_ws->link_index = 1;
    from_ws->user_type = 0;
    ASSERT_EQ(send(from_ws), EA_SUCCESS);
    auto fix = take(to_fix);
    ASSERT_EQ(fix.size(), 1u);
    EXPECT_EQ(fix[0]->user_type, 1);
    EXPECT_EQ(fix[0]->link_index, 1);

    message *from_fix = make_record(BOX_LOGOFF_FLUSH, {});
    from_fix->link_index = 1;
    from_fix->user_type = 1;
    queue_append(input, from_fix);
    ASSERT_EQ(user_session_info_container_process_input_request_messages(container, input, to_host, to_fix,
                                                                         to_fix, to_console, nullptr),
              EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(host[0]->tag, BOX_LOGOFF_FLUSH);
}

TEST_F(UserSessionRequests, JournalDownloadNeedsALoggedOnUser)
{
    message *free_slot = make_record(SECONDARY_JOURNAL_DOWNLOAD_REQUEST, vrx(1, 7000, 0, 40));
    free_slot->workstation_index = 2;
    free_slot->workstation_network_handle = 8;
    ASSERT_EQ(send(free_slot), EA_SUCCESS); // slot without a link: dropped
    EXPECT_TRUE(take(to_host).empty());

    log_on(0, 9, 12345);
    message *msg = make_record(SECONDARY_JOURNAL_DOWNLOAD_REQUEST, vrx(12345, 7000, 0, 40));
    msg->workstation_index = 0;
    msg->workstation_network_handle = 9;
    ASSERT_EQ(send(msg), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(host[0]->tag, NORMAL_MESSAGE);
}

TEST_F(UserSessionRequests, EverySlotCanHoldAnAdmittedUser)
{
    set_link(0, 1, 100, 1000);
    for (uint16_t i = 0; i < 2 * kMaxClients; i++)
        ASSERT_EQ(send(sign_on_record(i, 100 + i, 1000 + i)), EA_SUCCESS);
    EXPECT_EQ(container->active_user_count, 2 * kMaxClients);
    for (uint16_t i = 0; i < 2 * kMaxClients; i++)
    {
        uint16_t found = 0xFFFF;
        ASSERT_EQ(user_session_info_container_get_index(container, 1000 + i, USERID_KEY, &found, nullptr),
                  EA_SUCCESS);
        EXPECT_EQ(found, i);
    }
}

TEST_F(UserSessionRequests, UnknownTagsAreFreed)
{
    message *msg = make_record(SESSION_RECOVERY_FLUSH, {});
    ASSERT_EQ(send(msg), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());
    EXPECT_TRUE(take(to_ws).empty());
}
