// Host replies routed back to their user, logons and logoffs completed by the host, the
// box logoff spread over a link's users, and the supervision of users in logoff and of
// sign-ons the host does not answer, with a moved clock.
#include <gtest/gtest.h>

#include "common/ea_time.h"
#include "support/hex.h"
#include "user_session_test_support.h"

using namespace user_session_test;

using UserSessionReplies = UserSessionTest;

TEST_F(UserSessionReplies, LogonCompletesWithSystemInformation)
{
    ASSERT_EQ(send(sign_on_record(2, 20, 12345)), EA_SUCCESS);
    drain();
    ASSERT_EQ(answer(reply(12345, 2301)), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->workstation_network_handle, 20);
    EXPECT_EQ(ws[0]->workstation_index, 2);
    EXPECT_EQ(slot(2).logon_status, logon_status::LOGON_IN_PROGRESS);

    ASSERT_EQ(answer(reply(12345, 1601, 0, 7)), EA_SUCCESS);
    EXPECT_EQ(take(to_ws).size(), 1u);
    EXPECT_EQ(slot(2).logon_status, logon_status::LOGGED_ON);
    EXPECT_EQ(slot(2).login_count, 7);
    auto console = take(to_console);
    ASSERT_EQ(console.size(), 1u);
    EXPECT_EQ(console[0]->tag, KOVA_MESSAGE);
    EXPECT_EQ(console[0]->data_length, 0);
    EXPECT_EQ(console[0]->user_id, 12345u);
    EXPECT_EQ(console[0]->reason_code, 11018);

    ASSERT_EQ(answer(reply(12345, 1601, 0, 8)), EA_SUCCESS); // logged on: only passed on
    EXPECT_EQ(take(to_ws).size(), 1u);
    EXPECT_TRUE(take(to_console).empty());
    EXPECT_EQ(slot(2).login_count, 7);
}

TEST_F(UserSessionReplies, RepliesReachTheirOwnWorkstationOnly)
{
    log_on(0, 100, 111);
    log_on(1, 101, 222);
    ASSERT_EQ(answer(reply(222, 2001)), EA_SUCCESS);
    ASSERT_EQ(answer(reply(111, 2222)), EA_SUCCESS); // unsolicited trade
    ASSERT_EQ(answer(reply(333, 2001)), EA_SUCCESS); // no such user: dropped
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 2u);
    EXPECT_EQ(ws[0]->workstation_network_handle, 101);
    EXPECT_EQ(ws[0]->workstation_index, 1);
    EXPECT_EQ(ws[1]->workstation_network_handle, 100);
    EXPECT_EQ(ws[1]->workstation_index, 0);
}

TEST_F(UserSessionReplies, FixUsersRepliesGoToTheFixSide)
{
    const uint16_t fix_slot = kMaxClients + 2;
    log_on(fix_slot, 4000, 555);
    ASSERT_EQ(answer(reply(555, 2001)), EA_SUCCESS);
    auto fix = take(to_fix);
    ASSERT_EQ(fix.size(), 1u);
    EXPECT_EQ(fix[0]->user_type, 1);
    EXPECT_EQ(fix[0]->workstation_index, fix_slot);
    EXPECT_TRUE(take(to_ws).empty());
}

struct login_count_case
{
    int32_t reply_count;
    bool delivered;
};

TEST_F(UserSessionReplies, RepliesOfAnEarlierLogonAreDropped)
{
    log_on(0, 9, 12345, 5);
    const login_count_case cases[] = {{-1, true}, {5, true}, {4, false}};
    for (const login_count_case &c : cases)
    {
        SCOPED_TRACE(c.reply_count);
        ASSERT_EQ(answer(reply(12345, 7011, 0, c.reply_count)), EA_SUCCESS);
        EXPECT_EQ(take(to_ws).size(), c.delivered ? 1u : 0u);
        ASSERT_EQ(answer(reply(12345, 7003, 0, c.reply_count)), EA_SUCCESS);
        auto ws = take(to_ws);
        ASSERT_EQ(ws.size(), c.delivered ? 1u : 0u);
        if (c.delivered)
        {
            EXPECT_EQ(ws[0]->tag, SECONDARY_JOURNAL_DOWNLOAD_REQUEST);
        }
    }
}

TEST_F(UserSessionReplies, OrdersAreDroppedBeforeTheLogonCompletes)
{
    ASSERT_EQ(send(sign_on_record(0, 9, 12345)), EA_SUCCESS);
    drain();
    ASSERT_EQ(answer(reply(12345, 2001)), EA_SUCCESS);
    EXPECT_TRUE(take(to_ws).empty());
}

TEST_F(UserSessionReplies, SignOffResponseBecomesTheLogoffFlush)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    drain();
    ASSERT_EQ(answer(reply(12345, 2321, 3)), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[0]->reason_code, 11007);
    EXPECT_EQ(ws[0]->event_value, -1);

    log_on(1, 10, 777);
    ASSERT_EQ(answer(reply(777, 2321, 3)), EA_SUCCESS); // host-initiated: 11004 with the error code
    ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->reason_code, 11004);
    EXPECT_EQ(ws[0]->event_value, 3);
    EXPECT_EQ(slot(1).logon_status, logon_status::LOGOFF_IN_PROGRESS);
    EXPECT_EQ(logoff_flag(1), 1);
}

TEST_F(UserSessionReplies, RefusedLogonIsClosedThroughAStatusQuery)
{
    ASSERT_EQ(send(sign_on_record(0, 9, 12345)), EA_SUCCESS);
    drain();
    ASSERT_EQ(answer(reply(12345, 2301, 16010)), EA_SUCCESS);
    EXPECT_EQ(take(to_ws).size(), 1u); // the refusal reaches the user
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGOFF_IN_PROGRESS);
    EXPECT_EQ(slot(0).logoff_reason_code, 11005);

    ASSERT_EQ(supervise(), EA_SUCCESS); // immediate query, no console event
    EXPECT_TRUE(take(to_console).empty());
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    uint32_t stamp = get_u32_be(host[0]->data, 6);
    EXPECT_EQ(stamp, slot(0).request_sent_timer);

    ASSERT_EQ(answer(reply(12345, 2001)), EA_SUCCESS); // only the query's reply counts now
    EXPECT_TRUE(take(to_ws).empty());

    message *stale = reply(12345, 23003);
    put_u32_be(stale->data, 6, stamp + 1);
    stale->data[14] = 'I';
    ASSERT_EQ(answer(stale), EA_SUCCESS);
    EXPECT_TRUE(take(to_ws).empty());
    EXPECT_EQ(slot(0).status_query, 1);

    message *inactive = reply(12345, 23003);
    put_u32_be(inactive->data, 6, stamp);
    inactive->data[14] = 'I';
    ASSERT_EQ(answer(inactive), EA_SUCCESS);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[0]->reason_code, 11005);
    EXPECT_EQ(ws[0]->event_value, 16010);
    EXPECT_EQ(slot(0).status_query, 0);
}

TEST_F(UserSessionReplies, UserStillActiveAtTheHostIsSignedOffAgain)
{
    ASSERT_EQ(send(sign_on_record(0, 9, 12345)), EA_SUCCESS);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    drain();
    ASSERT_EQ(supervise(), EA_SUCCESS);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    message *active = reply(12345, 23003);
    memcpy(active->data + 6, host[0]->data + 6, 4);
    active->data[14] = 'A';
    ASSERT_EQ(answer(active), EA_SUCCESS);
    host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    EXPECT_EQ(get_i16_be(host[0]->data, 10), 2320);
    EXPECT_NE(slot(0).request_sent_timer, 0u);
    EXPECT_TRUE(take(to_ws).empty());
}

TEST_F(UserSessionReplies, SilentHostClosesTheUserAfterTwoTimeouts)
{
    log_on(0, 9, 12345);
    ASSERT_EQ(send(request(0, 9, vrx(12345, 2320, 0, 40))), EA_SUCCESS);
    drain();
    ASSERT_EQ(supervise(), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty());

    pf_tick_advance(20001);
    ASSERT_EQ(supervise(), EA_SUCCESS);
    auto console = take(to_console);
    ASSERT_EQ(console.size(), 1u);
    EXPECT_EQ(console[0]->reason_code, 11020);
    auto host = take(to_host);
    ASSERT_EQ(host.size(), 1u);
    // user 12345, box 77, time stamp, 23002, error 0, 'A', 23 blanks, length 40.
    char stamp[9];
    snprintf(stamp, sizeof(stamp), "%08X", slot(0).request_sent_timer);
    EXPECT_EQ(to_hex(host[0]->data, 40),
              hex_digits(std::string("00003039") + "004D" + stamp + "59DA" + "0000" + "41" +
                         "2020202020202020202020202020202020202020202020" + "0028"));
    EXPECT_EQ(host[0]->user_id, 12345u);
    EXPECT_EQ(host[0]->link_index, 0);

    pf_tick_advance(20001);
    ASSERT_EQ(supervise(), EA_SUCCESS);
    console = take(to_console);
    ASSERT_EQ(console.size(), 1u);
    EXPECT_EQ(console[0]->reason_code, 11023);
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 1u);
    EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[0]->reason_code, 11007);
    EXPECT_EQ(ws[0]->workstation_network_handle, 9);

    pf_tick_advance(20001);
    ASSERT_EQ(supervise(), EA_SUCCESS); // nothing more until the flush comes back
    EXPECT_TRUE(take(to_console).empty());
    EXPECT_TRUE(take(to_ws).empty());
}

// A sign-on the host does not answer within 20 s becomes a logoff that starts with a status
// query, without a console event (no sign-off request was sent); the late sign-on answer is
// dropped, and the close says the sign-on failed with no error code of the host (-1) whether
// the host then says the user is not signed on ('I'), says it is (and is asked to sign it
// off), or says nothing for 20 s more (11023). Sign-ons the host answered are left alone.
TEST_F(UserSessionReplies, UnansweredSignOnIsGivenUpThroughAStatusQuery)
{
    log_on(0, 90, 4000);
    ASSERT_EQ(send(sign_on_record(1, 91, 4001)), EA_SUCCESS);
    ASSERT_EQ(answer(reply(4001, 2301)), EA_SUCCESS); // accepted; the logon is not complete yet
    drain();

    const char host_says[] = {'I', 'A', 0}; // 0: nothing
    for (uint16_t i = 0; i < 3; i++)
    {
        const uint16_t index = static_cast<uint16_t>(2 + i);
        const int32_t handle = 100 + i;
        const uint32_t user = 5000u + i;
        SCOPED_TRACE(host_says[i] == 0 ? std::string("no answer") : std::string(1, host_says[i]));
        ASSERT_EQ(send(sign_on_record(index, handle, static_cast<int32_t>(user))), EA_SUCCESS);
        drain();
        pf_tick_advance(20000);
        ASSERT_EQ(supervise(), EA_SUCCESS);
        EXPECT_TRUE(take(to_host).empty()) << "not due before 20 s have passed";

        pf_tick_advance(2);
        ASSERT_EQ(supervise(), EA_SUCCESS);
        EXPECT_TRUE(take(to_console).empty());
        auto host = take(to_host);
        ASSERT_EQ(host.size(), 1u);
        EXPECT_EQ(get_i16_be(host[0]->data, 10), 23002);
        EXPECT_EQ(host[0]->user_id, user);
        EXPECT_EQ(slot(index).logon_status, logon_status::LOGOFF_IN_PROGRESS);
        EXPECT_EQ(logoff_flag(index), 1);
        ASSERT_EQ(answer(reply(user, 2301)), EA_SUCCESS); // the late answer
        EXPECT_TRUE(take(to_ws).empty());

        if (host_says[i] != 0)
        {
            message *status = reply(user, 23003);
            memcpy(status->data + 6, host[0]->data + 6, 4);
            status->data[14] = static_cast<uint8_t>(host_says[i]);
            ASSERT_EQ(answer(status), EA_SUCCESS);
        }
        if (host_says[i] == 'A')
        {
            host = take(to_host);
            ASSERT_EQ(host.size(), 1u);
            EXPECT_EQ(get_i16_be(host[0]->data, 10), 2320);
            EXPECT_EQ(host[0]->user_id, user);
            ASSERT_EQ(answer(reply(user, 2321)), EA_SUCCESS);
        }
        if (host_says[i] == 0)
        {
            pf_tick_advance(20001);
            ASSERT_EQ(supervise(), EA_SUCCESS);
            auto console = take(to_console);
            ASSERT_EQ(console.size(), 1u);
            EXPECT_EQ(console[0]->reason_code, 11023);
            EXPECT_EQ(console[0]->user_id, user);
        }
        EXPECT_TRUE(take(to_console).empty());
        EXPECT_TRUE(take(to_host).empty());
        auto ws = take(to_ws);
        ASSERT_EQ(ws.size(), 1u);
        EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
        EXPECT_EQ(ws[0]->reason_code, 11005);
        EXPECT_EQ(ws[0]->event_value, -1);
        EXPECT_EQ(ws[0]->user_id, user);
        EXPECT_EQ(ws[0]->workstation_network_handle, handle);

        message *back = request(index, handle, {}, USER_LOGOFF_FLUSH);
        ASSERT_EQ(send(back), EA_SUCCESS);
        EXPECT_EQ(slot(index).tws_nw_handle, -1) << "the slot is free";
    }
    EXPECT_EQ(container->active_user_count, 2);
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGGED_ON);
    EXPECT_EQ(slot(1).logon_status, logon_status::LOGON_IN_PROGRESS);
    EXPECT_EQ(logoff_flag(1), 0);
}

TEST_F(UserSessionReplies, SignOffRequestBytesFollowTheRecordLayout)
{
    log_on(0, 9, 12345);
    message *msg = user_session_info_container_create_user_logoff_message(container, 0, nullptr);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(to_hex(msg->data, msg->data_length),
              hex_digits(std::string("00003039") + "00000000" + "2020" + "0910" + "0000" +
                         std::string(48, '0') + "0028"));
    EXPECT_EQ(msg->transcode, 2320);
    EXPECT_EQ(msg->link_index, 0);
    message_destroy(msg);
}

TEST_F(UserSessionReplies, BoxLogoffFlushesTheUsersOfItsLinkOnly)
{
    log_on(0, 9, 111);
    log_on(kMaxClients, 900, 222); // a FIX user on link 0
    log_on(1, 10, 333);
    container->user_session_info_list[1].link_index = 1; // as if admitted over link 1

    message *flush = make_record(BOX_LOGOFF_FLUSH, {});
    flush->link_index = 0;
    flush->reason_code = 12002;
    flush->user_type = 1;
    ASSERT_EQ(answer(flush), EA_SUCCESS);
    EXPECT_TRUE(take(to_host).empty()); // no sign-off requests
    auto ws = take(to_ws);
    ASSERT_EQ(ws.size(), 2u);
    EXPECT_EQ(ws[0]->tag, USER_LOGOFF_FLUSH);
    EXPECT_EQ(ws[0]->reason_code, 11002);
    EXPECT_EQ(ws[0]->user_id, 111u);
    EXPECT_EQ(ws[1]->tag, BOX_LOGOFF_FLUSH); // behind the link's workstation flushes
    EXPECT_EQ(ws[1]->user_type, 0);
    auto fix = take(to_fix);
    ASSERT_EQ(fix.size(), 1u);
    EXPECT_EQ(fix[0]->reason_code, 11002);
    EXPECT_EQ(fix[0]->workstation_index, kMaxClients);
    EXPECT_EQ(slot(1).logon_status, logon_status::LOGGED_ON);
    EXPECT_EQ(slot(0).logon_status, logon_status::LOGOFF_IN_PROGRESS);
}

TEST_F(UserSessionReplies, ShortRepliesAndUnknownTagsAreDropped)
{
    log_on(0, 9, 12345);
    message *short_reply = make_record(NORMAL_MESSAGE, {0, 0, 0x30, 0x39});
    short_reply->user_id = 12345;
    ASSERT_EQ(answer(short_reply), EA_SUCCESS);
    message *odd = make_record(SESSION_RECOVERED_FLUSH, {});
    ASSERT_EQ(answer(odd), EA_SUCCESS);
    EXPECT_TRUE(take(to_ws).empty());
    EXPECT_TRUE(take(to_host).empty());
}
