// One slot's network check, and the container's lookups, active list and console copy.
#include "gateway/session_layer/user_session/user_session_info.h"

#include <gtest/gtest.h>

#include "user_session_test_support.h"

using namespace user_session_test;

namespace
{

message *ws_record(int32_t handle, uint32_t sequence, uint16_t user_type = 0)
{
    message *msg = message_create(40, NORMAL_MESSAGE);
    msg->workstation_network_handle = handle;
    msg->workstation_sequence_number = sequence;
    msg->user_type = user_type;
    return msg;
}

int32_t check(user_session_info *info, int32_t handle, uint32_t sequence, uint16_t user_type = 0)
{
    message *msg = ws_record(handle, sequence, user_type);
    int32_t verdict = user_session_info_req_network_validate(info, 0, msg, nullptr);
    message_destroy(msg);
    return verdict;
}

} // namespace

TEST(UserSessionInfo, SequenceNumbersStartAtOneAndFollowEachOther)
{
    user_session_info info;
    user_session_info_reset(&info);
    EXPECT_EQ(check(&info, 5, 1), 0);
    EXPECT_EQ(info.tws_nw_handle, 5);
    EXPECT_EQ(check(&info, 5, 2), 0);
    EXPECT_EQ(check(&info, 5, 4), USER_SESSION_SEQUENCE_ERROR);
    EXPECT_EQ(info.validation_failure_flag, EA_DO_NOT_FORWARD);
    EXPECT_EQ(check(&info, 5, 4), EA_DO_NOT_FORWARD);
    EXPECT_EQ(check(&info, 6, 1), EA_DO_NOT_FORWARD); // another handle
}

TEST(UserSessionInfo, SequenceNumberWrapsToOne)
{
    user_session_info info;
    user_session_info_reset(&info);
    EXPECT_EQ(check(&info, 5, 1), 0);
    info.recv_sequence_no = 2147483647;
    EXPECT_EQ(check(&info, 5, 1), 0);
    EXPECT_EQ(info.recv_sequence_no, 1);
}

TEST(UserSessionInfo, FixSessionsAreNotSequenceChecked)
{
    user_session_info info;
    user_session_info_reset(&info);
    EXPECT_EQ(check(&info, 5, 77, 1), 0);
    EXPECT_EQ(info.user_type, 1);
    EXPECT_EQ(check(&info, 5, 3, 1), 0);
    EXPECT_EQ(info.recv_sequence_no, 0);
}

using UserSessionContainer = UserSessionTest;

TEST_F(UserSessionContainer, StartsWithFreeSlots)
{
    EXPECT_EQ(container->user_slot_count, 2 * kMaxClients);
    EXPECT_EQ(container->request_sent_timeout, 20000u);
    for (uint16_t i = 0; i < 2 * kMaxClients; i++)
    {
        EXPECT_EQ(slot(i).tws_nw_handle, -1);
        EXPECT_EQ(slot(i).link_index, 65535);
        EXPECT_EQ(slot(i).login_count, -1);
        EXPECT_EQ(slot(i).validation_failure_flag, EA_FORWARD_MESSAGE);
    }
}

TEST_F(UserSessionContainer, LookupRefusesInvalidKeys)
{
    uint16_t found = 0;
    EXPECT_EQ(user_session_info_container_get_index(container, 0, USERID_KEY, &found, nullptr), EA_NOT_FOUND);
    EXPECT_EQ(user_session_info_container_get_index(container, -1, TWS_NW_HANDLE_KEY, &found, nullptr),
              EA_NOT_FOUND);
    EXPECT_EQ(user_session_info_container_get_index(container, 5, 3, &found, nullptr), EA_NOT_FOUND);
    ASSERT_EQ(send(sign_on_record(3, 33, 4444)), EA_SUCCESS);
    ASSERT_EQ(user_session_info_container_get_index(container, 33, TWS_NW_HANDLE_KEY, &found, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(found, 3);
}

TEST_F(UserSessionContainer, ResetKeepsTheOrderOfTheOtherUsers)
{
    for (uint16_t i = 0; i < 3; i++)
        ASSERT_EQ(send(sign_on_record(i, 10 + i, 100 + i)), EA_SUCCESS);
    ASSERT_EQ(user_session_info_container_delete_user(container, 1), EA_SUCCESS);
    ASSERT_EQ(container->active_user_count, 2);
    EXPECT_EQ(container->valid_user_session_info_list[0], &slot(0));
    EXPECT_EQ(container->valid_user_session_info_list[1], &slot(2));
    EXPECT_EQ(container->valid_user_session_info_list[2], nullptr);
    EXPECT_EQ(container->connected_users_count[0], 2);
    ASSERT_EQ(user_session_info_container_delete_user(container, 2), EA_SUCCESS);
    ASSERT_EQ(user_session_info_container_delete_user(container, 0), EA_SUCCESS);
    EXPECT_EQ(container->active_user_count, 0);
    EXPECT_EQ(container->valid_user_session_info_list[0], nullptr);
    ASSERT_EQ(user_session_info_container_delete_user(container, 5), EA_SUCCESS); // never admitted
    EXPECT_EQ(container->connected_users_count[0], 0);
}

TEST_F(UserSessionContainer, ConsoleCopyHoldsEverySlot)
{
    ASSERT_EQ(send(sign_on_record(kMaxClients + 1, 70, 9876)), EA_SUCCESS);
    uint32_t count = 0;
    user_session_info *copy = user_session_info_container_get_user_session_info_array(container, &count);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(count, 2u * kMaxClients);
    EXPECT_EQ(copy[kMaxClients + 1].user_id, 9876);
    EXPECT_EQ(copy[kMaxClients + 1].logon_status, logon_status::LOGON_IN_PROGRESS);
    user_session_info_list_destroy(copy);
}
