// Batching and the per-second weight limit of the host link, seen from the simulated
// host: the test drives the host network layer itself, one send pass at a time, and
// moves time with the tick offset, so that each pass writes one known batch.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "gateway/message_validators/th_validators.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/shared/user_link_info.h"
#include "gateway/th_network_handle/th_nw_info.h"
#include "platform/core/pf_tick.h"
#include "sim/host/sim_host.h"
#include "support/gateway_config.h"
#include "support/held_tick.h"

namespace
{
const int k_wait_ms = 5000;

struct HostBatching : ::testing::Test
{
    qel_test::held_tick held;
    qel_sim::sim_host host;
    qel_test::temp_dir dir;
    ea_flag rate[1] = {{100}};
    ea_flag invite[1] = {{0}};
    user_link_info *table = nullptr;
    th_nw_info *links = nullptr;
    queue *frames = queue_create();
    queue *notices = queue_create();
    int32_t handle = -1;
    uint16_t sequence = 1;

    void SetUp() override
    {
        ASSERT_TRUE(host.start());
        qel_test::gateway_config config;
        config.values["HOST_PORT_NUMBER"] = std::to_string(host.port());
        std::string file = config.write(dir);
        table = user_link_info_create(file.c_str(), 1, nullptr);
        links = th_nw_info_create(file.c_str(), 1, rate, table, invite, nullptr);
        ASSERT_EQ(th_nw_info_connect(links, 0, &handle, nullptr), EA_SUCCESS);
        for (int i = 0; i < 1000 && links->th_nw_handle_list[0].state != TH_LINK_CONNECTED; ++i)
            th_nw_info_get_elements(links, 1, nullptr, 0, 5, frames, notices, nullptr, nullptr);
        ASSERT_EQ(links->th_nw_handle_list[0].state, TH_LINK_CONNECTED);
        // At the start of a second; held, so a pass never straddles a second boundary.
        pf_tick_set(7000000 + 1);
    }
    void TearDown() override
    {
        th_nw_info_destroy(links);
        user_link_info_destroy(table);
        ea_destroy_message_queue(frames);
        ea_destroy_message_queue(notices);
        host.stop();
    }
    // Queues a framed packet of `entries` records of 40 bytes (weight = entries).
    void queue_frame(uint16_t entries, uint16_t tag = NORMAL_MESSAGE)
    {
        std::vector<qel_sim::bytes> records;
        for (uint16_t i = 0; i < entries; ++i)
        {
            qel_sim::bytes record(40, 0x20);
            record[0] = 0x08; // transcode 2301
            record[1] = 0xFD;
            record[38] = 0;
            record[39] = 40;
            records.push_back(record);
        }
        qel_sim::bytes body = qel_sim::host_encode_packet(records);
        message *msg = message_create(static_cast<uint32_t>(body.size()), tag);
        std::copy(body.begin(), body.end(), msg->data);
        msg->link_index = 0;
        msg->host_network_handle = handle;
        msg->packing_weight = static_cast<int16_t>(entries);
        msg->network_sequence_number = tag == HEART_BEAT_MESSAGE ? 0 : sequence++;
        ASSERT_NE(th_network_header_apply(msg), nullptr);
        ASSERT_EQ(th_nw_info_send_mesg(links, msg, nullptr), EA_VALID);
    }
    uint32_t pending() const { return links->th_nw_handle_list[0].pending_count; }
    void send_pass() { ASSERT_EQ(th_nw_info_send_pending(links, notices, nullptr), EA_SUCCESS); }
    // Frames the host has, once it has at least `count`.
    std::vector<qel_sim::host_frame> host_frames(size_t count)
    {
        EXPECT_TRUE(host.wait_for_frames(count, k_wait_ms));
        return host.frames();
    }
};
} // namespace

TEST_F(HostBatching, EachPassWritesOneBatchOfAtMostTenFramesWithinTheWeightLimit)
{
    ea_flag_set(&rate[0], 10);
    for (int i = 0; i < 25; ++i)
        queue_frame(1);
    send_pass();
    EXPECT_EQ(pending(), 15u);
    EXPECT_EQ(host_frames(10).size(), 10u);

    pf_tick_advance(1000);
    send_pass();
    EXPECT_EQ(pending(), 5u);
    EXPECT_EQ(host_frames(20).size(), 20u);

    pf_tick_advance(1000);
    send_pass();
    EXPECT_EQ(pending(), 0u);
    std::vector<qel_sim::host_frame> frames = host_frames(25);
    ASSERT_EQ(frames.size(), 25u);
    for (const qel_sim::host_read &read : host.reads())
        EXPECT_LE(read.length, 2047u);
    for (size_t i = 0; i < frames.size(); ++i)
    {
        EXPECT_TRUE(frames[i].digest_ok);
        EXPECT_TRUE(frames[i].sequence_ok);
        EXPECT_EQ(frames[i].weight, 1);
    }
    EXPECT_TRUE(host.errors().empty());
}

TEST_F(HostBatching, WithinASecondLaterBatchesTakeOnlyWhatTheLimitLeaves)
{
    ea_flag_set(&rate[0], 8);
    for (int i = 0; i < 6; ++i)
        queue_frame(2); // weight 2 each
    send_pass();
    // First batch unbounded by weight: all 6 frames (weight 12) fit in ten frames.
    EXPECT_EQ(host_frames(6).size(), 6u);
    queue_frame(1);
    send_pass();
    EXPECT_EQ(pending(), 1u) << "12 already sent in this second, over the limit of 8";

    pf_tick_advance(1000);
    for (int i = 0; i < 4; ++i)
        queue_frame(3);
    send_pass();
    // New second: the first batch takes everything (weight 13); the host sees
    // weight 12 then 13, one batch per second.
    std::vector<qel_sim::host_frame> frames = host_frames(11);
    ASSERT_EQ(frames.size(), 11u);
    uint32_t first_second = 0;
    uint32_t second_second = 0;
    for (size_t i = 0; i < frames.size(); ++i)
        (i < 6 ? first_second : second_second) += frames[i].weight;
    EXPECT_EQ(first_second, 12u);
    EXPECT_EQ(second_second, 13u);
}

TEST_F(HostBatching, AHeartBeatLeavesAtOnceWhenTheSecondsWeightIsSpent)
{
    ea_flag_set(&rate[0], 5);
    for (int i = 0; i < 5; ++i)
        queue_frame(1);
    send_pass();
    host_frames(5);
    for (int i = 0; i < 3; ++i)
        queue_frame(1);
    queue_frame(1, HEART_BEAT_MESSAGE);
    send_pass();
    std::vector<qel_sim::host_frame> frames = host_frames(6);
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[5].sequence_number, 0) << "the heart beat went ahead of the waiting frames";
    EXPECT_EQ(pending(), 3u);
}

TEST_F(HostBatching, TheLinkAsksForThePullOnceItRunsEmpty)
{
    queue_frame(1);
    send_pass();
    host_frames(1);
    ASSERT_EQ(queue_get_count(notices), 1u);
    message *pull = static_cast<message *>(queue_remove_head(notices));
    EXPECT_EQ(pull->tag, PULL_NOTIFICATION);
    EXPECT_EQ(pull->host_network_handle, handle);
    message_destroy(pull);
    send_pass();
    EXPECT_EQ(queue_get_count(notices), 0u);
}
