// The box records the gateway sends, checked byte by byte against their layouts, and the
// configuration the controller reads at creation.
#include "gateway/controller_module/box_comm_records.h"

#include <gtest/gtest.h>

#include "support/box_session_support.h"

using namespace qel_test;

TEST(BoxCommRecords, SignOnRequestLayout)
{
    box_environment env;
    ASSERT_NE(env.box, nullptr);
    message *msg = box_comm_info_container_create_box_logon_message(env.box, 0, env.logger);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->tag, BOX_LOGON_REQUEST);
    EXPECT_EQ(msg->host_network_handle, -1);
    EXPECT_EQ(msg->packing_weight, 1);
    // count 1, 23000, box 0x1234, "AB12 " + 0, version 41402, two zero words
    EXPECT_EQ(to_hex(msg->data, msg->data_length), "0001"
                                                   "59d8"
                                                   "1234"
                                                   "4142313220"
                                                   "00"
                                                   "0000a1ba"
                                                   "00000000"
                                                   "00000000");
    EXPECT_EQ(env.link0().next_expected_transcode, 23001);
    message_destroy(msg);
}

TEST(BoxCommRecords, FiveCharacterBrokerIdFillsItsField)
{
    box_environment env(std::map<std::string, std::string>{{"BROKER_ID", "ZX987"}});
    message *msg = box_comm_info_container_create_box_logon_message(env.box, 0, env.logger);
    EXPECT_EQ(to_hex(msg->data + 6, 6), "5a5839383700");
    message_destroy(msg);
}

TEST(BoxCommRecords, RelogonRequestLayout)
{
    box_environment env;
    message *msg = box_comm_info_container_create_box_relogon_message(env.box, 0, env.logger);
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->tag, BOX_RELOGON_REQUEST);
    EXPECT_EQ(msg->data_length, 46);
    EXPECT_EQ(to_hex(msg->data, 24), "0001"
                                     "5bce"
                                     "1234"
                                     "4142313220"
                                     "00"
                                     "0000a1ba"
                                     "00000000"
                                     "00000000");
    // "10.1.2.3" space-filled to 18 characters, then the two sequence words left 0
    EXPECT_EQ(to_hex(msg->data + 24, 22), "31302e312e322e3320202020202020202020"
                                          "0000"
                                          "0000");
    message_destroy(msg);
}

TEST(BoxCommRecords, RateControlHeartBeatLayout)
{
    box_environment env;
    message *msg = box_comm_info_container_create_rate_control_heart_beat(env.box, 0, env.logger);
    EXPECT_EQ(msg->tag, NORMAL_MESSAGE);
    EXPECT_EQ(to_hex(msg->data, msg->data_length), "000159dc0000");
    message_destroy(msg);
}

TEST(BoxCommRecords, CreationReadsAndChecksTheBoxIdentity)
{
    struct
    {
        std::map<std::string, std::string> overrides;
        bool created;
        int32_t heart_beat_interval;
    } cases[] = {
        {{}, true, 5000},
        {{{"RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", ""}}, true, 30000},
        {{{"RATE_CONTROL_HEART_BEAT_TIME_INTERVAL", "0"}}, true, 30000},
        {{{"BROKER_ID", ""}}, false, 0},
        {{{"BROKER_ID", "TOOLONG"}}, false, 0},
        {{{"BOX_ID", "0"}}, false, 0},
        {{{"BOX_ID", "70000"}}, false, 0},
        {{{"BOX_ID", ""}}, false, 0},
    };
    for (const auto &c : cases)
    {
        box_environment env(c.overrides);
        ASSERT_EQ(env.box != nullptr, c.created);
        if (env.box == nullptr)
            continue;
        EXPECT_EQ(env.box->rate_control_heart_beat_time_interval, c.heart_beat_interval);
        EXPECT_EQ(env.box->box_request_timeout, 10000u);
        EXPECT_EQ(env.link0().link_valid, 1);
        EXPECT_EQ(env.link0().box_status.load(), LOGGED_OFF);
        EXPECT_EQ(env.link0().host_nw_handle.load(), -1);
        EXPECT_EQ(env.link0().rate_control_per, 100);
        EXPECT_EQ(ea_flag_get(&env.box_rate_control_count[0]), 0);
    }
}
