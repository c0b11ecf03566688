// One workstation connection's framing and batching, against a real loopback socket
// pair: frames assembled from any split, never a byte of the next frame taken, invalid
// lengths and lost peers reported with their reason codes, and batches that keep order,
// put invitations first, number every frame and survive a socket that would block.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/tws_network_handle/tcp_nw_handle.h"
#include "support/hex.h"
#include "support/test_support.h"

namespace
{
using qel_test::from_hex;

// Both ends' kernel buffers, far below the 4 MB that the would-block case queues.
const int kSocketBuffer = 64 * 1024;

// A gateway-side slot connected to a peer socket that the test writes and reads.
class connection : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char text[128];
        uint32_t size = sizeof text;
        ASSERT_EQ(ea_socket_init(text, &size), EA_SUCCESS);
        qel_test::reserved_port reservation;
        uint16_t port = reservation.number();
        int32_t listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_GE(listener, 0);
        ASSERT_EQ(ea_bind(listener, "127.0.0.1", port), 0);
        ASSERT_EQ(ea_listen(listener, 1), 0);
        peer = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        ASSERT_TRUE(qel_test::cap_receive_buffer(peer, kSocketBuffer));
        ASSERT_EQ(ea_connect(peer, "127.0.0.1", port), 0);
        int32_t accepted = ea_accept(listener, nullptr, 0, nullptr);
        ASSERT_GE(accepted, 0);
        ea_closesocket(listener);
        ASSERT_TRUE(qel_test::cap_send_buffer(accepted, kSocketBuffer));
        ASSERT_EQ(ea_setsockopt(accepted, EA_SOCKOPT_NONBLOCKING), 0);
        slots = tcp_nw_handle_create(1, nullptr);
        ASSERT_NE(slots, nullptr);
        slot = &slots[0];
        slot->client_sockfd = accepted;
        slot->network_handle = 7;
        notifications = queue_create();
    }

    void TearDown() override
    {
        tcp_nw_handle_destroy(slots, 1, nullptr);
        if (peer >= 0)
            ea_closesocket(peer);
        ea_destroy_message_queue(notifications);
        ea_socket_cleanup();
    }

    void peer_write(const std::vector<uint8_t> &bytes)
    {
        ASSERT_EQ(ea_send(peer, bytes.data(), bytes.size()), (int)bytes.size());
    }

    // Reads exactly n bytes from the peer side (blocking socket).
    std::vector<uint8_t> peer_read(size_t n)
    {
        std::vector<uint8_t> bytes(n);
        size_t done = 0;
        while (done < n)
        {
            int32_t got = ea_recv(peer, bytes.data() + done, static_cast<int32_t>(n - done));
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        bytes.resize(done);
        return bytes;
    }

    // Calls recv until it stops answering 203 (the data is already on its way).
    ea_status recv_until_done(message **out, uint16_t *reason)
    {
        ea_status status = EA_VALID;
        qel_test::wait_until(
            [&]
            {
                status = tcp_nw_handle_recv(slot, out, &sequence, reason, nullptr);
                return status != EA_VALID;
            },
            2000);
        return status;
    }

    message *record(const std::vector<uint8_t> &bytes, uint16_t tag = NORMAL_MESSAGE)
    {
        message *msg = message_create(bytes.size(), tag);
        memcpy(msg->data, bytes.data(), bytes.size());
        return msg;
    }

    tcp_nw_handle *slots = nullptr;
    tcp_nw_handle *slot = nullptr;
    int32_t peer = -1;
    uint32_t sequence = 0;
    queue *notifications = nullptr;
};

TEST_F(connection, FrameWrittenOneByteAtATimeIsAssembled)
{
    std::vector<uint8_t> frame = from_hex("0008 00000005 aabb");
    message *out = nullptr;
    uint16_t reason = 0;
    for (size_t i = 0; i + 1 < frame.size(); ++i)
    {
        peer_write({frame[i]});
        ea_status status = EA_ERROR;
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                status = tcp_nw_handle_recv(slot, &out, &sequence, &reason, nullptr);
                return status != EA_VALID || slot->receive_position == slot->receive_buffer + i + 1;
            },
            2000));
        ASSERT_EQ(status, EA_VALID) << "byte " << i;
    }
    peer_write({frame.back()});
    ASSERT_EQ(recv_until_done(&out, &reason), EA_SUCCESS);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(out->data, out->data + out->data_length), frame);
    EXPECT_EQ(out->sequence_number, 1u);
    EXPECT_EQ(out->workstation_network_handle, 7);
    EXPECT_EQ(slot->received_count, 1);
    message_destroy(out);
}

TEST_F(connection, CoalescedFramesComeOutOneAtATime)
{
    peer_write(from_hex("0005 010203 0004 0405 0003 06"));
    std::vector<std::vector<uint8_t>> expected = {from_hex("0005010203"), from_hex("00040405"),
                                                  from_hex("000306")};
    for (size_t i = 0; i < expected.size(); ++i)
    {
        message *out = nullptr;
        uint16_t reason = 0;
        ASSERT_EQ(recv_until_done(&out, &reason), EA_SUCCESS);
        EXPECT_EQ(std::vector<uint8_t>(out->data, out->data + out->data_length), expected[i]);
        EXPECT_EQ(out->sequence_number, i + 1);
        message_destroy(out);
    }
}

TEST_F(connection, FrameLengthsOutsideThreeTo2047AreInvalid)
{
    struct length_case
    {
        const char *length_bytes;
        ea_status expected;
    };
    // Each case on a fresh slot state: an invalid length ends the connection.
    const length_case cases[] = {{"0002", TCP_NW_HANDLE_CONNECTION_LOST},
                                 {"0800", TCP_NW_HANDLE_CONNECTION_LOST},
                                 {"0000", TCP_NW_HANDLE_CONNECTION_LOST},
                                 {"ffff", TCP_NW_HANDLE_CONNECTION_LOST}};
    for (const length_case &c : cases)
    {
        peer_write(from_hex(c.length_bytes));
        message *out = nullptr;
        uint16_t reason = 0;
        EXPECT_EQ(recv_until_done(&out, &reason), c.expected) << c.length_bytes;
        EXPECT_EQ(reason, TWS_REASON_INVALID_LENGTH) << c.length_bytes;
        EXPECT_EQ(out, nullptr);
        slot->frame_length = 0;
        slot->receive_position = slot->receive_buffer;
    }
}

TEST_F(connection, LengthsThreeAnd2047AreAccepted)
{
    std::vector<uint8_t> big(2047, 0x5a);
    big[0] = 0x07;
    big[1] = 0xff;
    peer_write(from_hex("000311"));
    peer_write(big);
    message *out = nullptr;
    uint16_t reason = 0;
    ASSERT_EQ(recv_until_done(&out, &reason), EA_SUCCESS);
    EXPECT_EQ(out->data_length, 3);
    message_destroy(out);
    ASSERT_EQ(recv_until_done(&out, &reason), EA_SUCCESS);
    EXPECT_EQ(out->data_length, 2047);
    EXPECT_EQ(out->data[2046], 0x5a);
    message_destroy(out);
}

TEST_F(connection, PeerClosingMidFrameIsConnectionLost)
{
    peer_write(from_hex("0010 0102"));
    ea_closesocket(peer);
    peer = -1;
    message *out = nullptr;
    uint16_t reason = 0;
    EXPECT_EQ(recv_until_done(&out, &reason), TCP_NW_HANDLE_CONNECTION_LOST);
    EXPECT_EQ(reason, TWS_REASON_CONNECTION_LOST);
}

TEST_F(connection, BatchNumbersFramesAndSendsInvitationFirst)
{
    int32_t pending = 0;
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex("0007 00000000 a1")),
                                 &pending, notifications, nullptr),
              EA_VALID);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex("0007 00000000 b2")),
                                 &pending, notifications, nullptr),
              EA_VALID);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE,
                                 record(from_hex("0007 00000000 c3"), CLIENT_INVITATION_MESSAGE), &pending,
                                 notifications, nullptr),
              EA_VALID);
    EXPECT_EQ(pending, 3);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(peer_read(21), from_hex("0007 00000001 c3 0007 00000002 a1 0007 00000003 b2"));
}

TEST_F(connection, SendSequenceWrapsToOne)
{
    slot->send_sequence_no = INT32_MAX - 1;
    int32_t pending = 0;
    for (const char *bytes : {"0007 00000000 01", "0007 00000000 02"})
        tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex(bytes)), &pending,
                           notifications, nullptr);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(peer_read(14), from_hex("0007 7fffffff 01 0007 00000001 02"));
}

TEST_F(connection, JournalDownloadRequestIsHandedBackInItsPlace)
{
    int32_t pending = 0;
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex("0007 00000000 01")), &pending,
                       notifications, nullptr);
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE,
                       record(from_hex("aa"), SECONDARY_JOURNAL_DOWNLOAD_REQUEST), &pending, notifications,
                       nullptr);
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex("0007 00000000 02")), &pending,
                       notifications, nullptr);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(peer_read(14), from_hex("0007 00000001 01 0007 00000002 02"));
    ASSERT_EQ(queue_get_count(notifications), 1u);
    EXPECT_EQ(static_cast<message *>(queue_peek(notifications, 0))->tag, SECONDARY_JOURNAL_DOWNLOAD_REQUEST);
}

// A record longer than any batch can hold is dropped instead of blocking the queue.
TEST_F(connection, RecordThatCanNeverFitABatchIsDroppedAndTheRestIsSent)
{
    int32_t pending = 0;
    message *huge = message_create(2048, NORMAL_MESSAGE);
    memset(huge->data, 0x11, 2048);
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, huge, &pending, notifications, nullptr);
    tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, record(from_hex("0007 00000000 09")), &pending,
                       notifications, nullptr);
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(peer_read(7), from_hex("0007 00000001 09"));
}

TEST_F(connection, WouldBlockKeepsTheBatchAndResumesWhereItStopped)
{
    // Far more than the capped socket buffers hold while the peer does not read.
    const int records = 4000;
    int32_t pending = 0;
    for (int i = 0; i < records; ++i)
    {
        message *msg = message_create(1000, NORMAL_MESSAGE);
        memset(msg->data, static_cast<uint8_t>(i), 1000);
        msg->data[0] = 0x03;
        msg->data[1] = 0xe8;
        tcp_nw_handle_send(slot, TCP_NW_HANDLE_QUEUE_MESSAGE, msg, &pending, notifications, nullptr);
    }
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_VALID);
    EXPECT_GT(slot->bytes_left, 0);
    EXPECT_EQ(pending, static_cast<int32_t>(queue_get_count(slot->send_queue)) + 1);

    // Each call writes until the socket is full again, so the peer never waits for
    // bytes that are not on their way.
    for (int i = 0; i < records; ++i)
    {
        tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr);
        std::vector<uint8_t> frame = peer_read(1000);
        ASSERT_EQ(frame.size(), 1000u) << i;
        ASSERT_EQ(frame[0], 0x03);
        ASSERT_EQ((uint32_t(frame[2]) << 24) | (frame[3] << 16) | (frame[4] << 8) | frame[5],
                  uint32_t(i + 1));
        ASSERT_EQ(frame[999], static_cast<uint8_t>(i)) << i;
    }
    EXPECT_EQ(tcp_nw_handle_send(slot, TCP_NW_HANDLE_SEND_PENDING, nullptr, &pending, notifications, nullptr),
              EA_SUCCESS);
    EXPECT_EQ(pending, 0);
}

TEST(tcp_nw_handle_table, CreatesFreeSlots)
{
    tcp_nw_handle *slots = tcp_nw_handle_create(3, nullptr);
    ASSERT_NE(slots, nullptr);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(slots[i].network_handle, -1);
        EXPECT_EQ(slots[i].client_sockfd, -1);
        EXPECT_EQ(slots[i].link_index, 0xFFFF);
        EXPECT_NE(slots[i].send_queue, nullptr);
    }
    tcp_nw_handle_destroy(slots, 3, nullptr);
}
} // namespace
