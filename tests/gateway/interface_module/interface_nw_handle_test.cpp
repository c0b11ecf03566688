// The send side of one console connection when the console stops reading: what the gateway
// keeps for it stays bounded, the oldest records go first, and once the console reads
// again it is told in one console event how many it lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gateway/interface_module/interface_nw_handle.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/runtime/wire.h"
#include "support/test_support.h"

namespace
{
const int kSocketBuffer = 64 * 1024;
const uint16_t kEventLength = 42;
const uint16_t kBoxId = 101;

// A console event as the interface module builds it, numbered by its extra info.
message *event(uint32_t number)
{
    message *record = message_create(kEventLength, KOVA_MESSAGE);
    memset(record->data, 0, kEventLength);
    put_u16_le(record->data, 0, kEventLength);
    put_u16_le(record->data, 20, 10000);
    put_u16_le(record->data, 30, kBoxId);
    put_u16_le(record->data, 36, 11013);
    put_u32_le(record->data, 38, number);
    return record;
}

class console_connection : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char text[128];
        uint32_t size = sizeof text;
        ASSERT_EQ(ea_socket_init(text, &size), EA_SUCCESS);
        qel_test::reserved_port reservation;
        int32_t listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_GE(listener, 0);
        ASSERT_EQ(ea_bind(listener, "127.0.0.1", reservation.number()), 0);
        ASSERT_EQ(ea_listen(listener, 1), 0);
        console = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_TRUE(qel_test::cap_receive_buffer(console, kSocketBuffer));
        ASSERT_EQ(ea_connect(console, "127.0.0.1", reservation.number()), 0);
        int32_t accepted = ea_accept(listener, nullptr, 0, nullptr);
        ASSERT_GE(accepted, 0);
        ea_closesocket(listener);
        ASSERT_TRUE(qel_test::cap_send_buffer(accepted, kSocketBuffer));
        ASSERT_EQ(ea_setsockopt(accepted, EA_SOCKOPT_NONBLOCKING), 0);
        entries = interface_nw_handle_create(1, nullptr);
        ASSERT_NE(entries, nullptr);
        entries[0].socket = accepted;
        entries[0].network_handle = 7;
    }

    void TearDown() override
    {
        if (entries != nullptr)
        {
            ea_closesocket(entries[0].socket);
            interface_nw_handle_destroy(entries, 1);
        }
        ea_closesocket(console);
        ea_socket_cleanup();
    }

    // Everything the console has been sent so far, as whole packets appended to `packets`.
    void console_reads(std::vector<std::vector<uint8_t>> *packets)
    {
        uint8_t buffer[4096];
        ASSERT_EQ(ea_setsockopt(console, EA_SOCKOPT_NONBLOCKING), 0);
        for (;;)
        {
            int32_t n = ea_recv(console, buffer, sizeof buffer);
            if (n <= 0)
                break;
            stream.insert(stream.end(), buffer, buffer + n);
        }
        size_t at = 0;
        while (stream.size() - at >= 2 && stream.size() - at >= get_u16_le(stream.data() + at, 0))
        {
            uint16_t length = get_u16_le(stream.data() + at, 0);
            packets->emplace_back(stream.begin() + at, stream.begin() + at + length);
            at += length;
        }
        stream.erase(stream.begin(), stream.begin() + at);
    }

    int32_t console = -1;
    interface_nw_handle *entries = nullptr;
    std::vector<uint8_t> stream;
};

TEST_F(console_connection, AConsoleThatReadsNothingKeepsTheQueueBoundedAndLaterHearsHowManyWent)
{
    interface_nw_handle *entry = &entries[0];
    const uint32_t sent = 3 * INTERFACE_OUTGOING_LIMIT;
    uint32_t pending = 0, most_pending = 0;
    for (uint32_t i = 0; i < sent; ++i)
    {
        ea_status status =
            interface_nw_handle_send(entry, INTERFACE_SEND_NEW_PACKET, event(i), &pending, nullptr);
        ASSERT_TRUE(status == EA_SUCCESS || status == EA_VALID) << status;
        most_pending = std::max(most_pending, pending);
    }
    EXPECT_LE(most_pending, static_cast<uint32_t>(INTERFACE_OUTGOING_LIMIT) + 1);
    EXPECT_EQ(queue_get_count(entry->outgoing), static_cast<uint32_t>(INTERFACE_OUTGOING_LIMIT));

    // The console reads again: the gateway flushes until nothing is left.
    std::vector<std::vector<uint8_t>> packets;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            interface_nw_handle_send(entry, INTERFACE_SEND_FLUSH, nullptr, &pending, nullptr);
            console_reads(&packets);
            return pending == 0;
        },
        10000));
    console_reads(&packets);
    ASSERT_GT(packets.size(), 1u);

    // Events arrive in order with one gap (the oldest queued ones), and the last packet says
    // how many went.
    const std::vector<uint8_t> &notice = packets.back();
    ASSERT_EQ(notice.size(), kEventLength);
    EXPECT_EQ(get_u16_le(notice.data(), 20), 10000);
    EXPECT_EQ(get_u16_le(notice.data(), 30), kBoxId);
    EXPECT_EQ(get_u32_le(notice.data(), 32), 0u);
    EXPECT_EQ(get_u16_le(notice.data(), 36), 13003);
    EXPECT_NE(get_u32_le(notice.data(), 22), 0u);
    const uint32_t dropped = get_u32_le(notice.data(), 38);
    EXPECT_EQ(packets.size() - 1 + dropped, sent);
    uint32_t gaps = 0;
    for (size_t i = 1; i + 1 < packets.size(); ++i)
    {
        uint32_t before = get_u32_le(packets[i - 1].data(), 38), number = get_u32_le(packets[i].data(), 38);
        ASSERT_GT(number, before);
        gaps += number != before + 1 ? 1 : 0;
    }
    EXPECT_EQ(gaps, 1u);
    EXPECT_EQ(get_u32_le(packets[packets.size() - 2].data(), 38), sent - 1);
    EXPECT_EQ(entry->dropped, 0u);
}

TEST_F(console_connection, AConsoleThatKeepsUpLosesNothing)
{
    interface_nw_handle *entry = &entries[0];
    std::vector<std::vector<uint8_t>> packets;
    uint32_t pending = 0;
    const uint32_t sent = 2 * INTERFACE_OUTGOING_LIMIT;
    for (uint32_t i = 0; i < sent; ++i)
    {
        ASSERT_NE(interface_nw_handle_send(entry, INTERFACE_SEND_NEW_PACKET, event(i), &pending, nullptr),
                  EA_ERROR);
        if (i % 256 == 0)
            console_reads(&packets);
    }
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            interface_nw_handle_send(entry, INTERFACE_SEND_FLUSH, nullptr, &pending, nullptr);
            console_reads(&packets);
            return pending == 0;
        },
        10000));
    console_reads(&packets);
    ASSERT_EQ(packets.size(), sent);
    EXPECT_EQ(get_u32_le(packets.back().data(), 38), sent - 1);
}
} // namespace
