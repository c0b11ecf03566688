// The host link's connection record over a real loopback connection: receive framing
// across split and coalesced reads, the frame length bounds, and batching under the
// frame, byte and per-second weight limits. Time is moved with the tick offset.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "common/ea_time.h"
#include "gateway/runtime/ea_socket.h"
#include "gateway/runtime/message.h"
#include "gateway/runtime/queue.h"
#include "gateway/th_network_handle/th_nw_handle.h"
#include "platform/core/pf_tick.h"
#include "support/held_tick.h"
#include "support/test_support.h"

namespace
{
typedef std::vector<uint8_t> bytes;

// Both ends' kernel buffers, far below the 6 MB that the would-block case queues.
const int kSocketBuffer = 64 * 1024;

// A connected pair: the gateway's end non-blocking, the host's end blocking.
struct loopback
{
    int32_t gateway = -1;
    int32_t host = -1;
    loopback()
    {
        int32_t listener = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        qel_test::reserved_port reservation;
        uint16_t port = reservation.number();
        EXPECT_EQ(ea_bind(listener, "127.0.0.1", port), 0);
        // The host's end, accepted from the listener, takes its capped receive buffer.
        EXPECT_TRUE(qel_test::cap_receive_buffer(listener, kSocketBuffer));
        EXPECT_EQ(ea_listen(listener, 1), 0);
        gateway = ea_socket(EA_AF_INET, EA_SOCK_STREAM, EA_IPPROTO_TCP);
        EXPECT_TRUE(qel_test::cap_send_buffer(gateway, kSocketBuffer));
        EXPECT_EQ(ea_connect(gateway, "127.0.0.1", port), 0);
        host = ea_accept(listener, nullptr, 0, nullptr);
        ea_closesocket(listener);
        ea_setsockopt(gateway, EA_SOCKOPT_NONBLOCKING);
    }
    ~loopback()
    {
        if (gateway >= 0)
            ea_closesocket(gateway);
        if (host >= 0)
            ea_closesocket(host);
    }
    void host_writes(const bytes &data) const
    {
        ASSERT_EQ(ea_send(host, data.data(), static_cast<int32_t>(data.size())),
                  static_cast<int32_t>(data.size()));
    }
    // Reads exactly `count` bytes at the host's end.
    bytes host_reads(size_t count) const
    {
        bytes out(count);
        size_t done = 0;
        while (done < count)
        {
            int32_t n = ea_recv(host, out.data() + done, static_cast<int32_t>(count - done));
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        out.resize(done);
        return out;
    }
    // True when nothing more is waiting at the host's end.
    bool host_has_nothing() const
    {
        ea_setsockopt(host, EA_SOCKOPT_NONBLOCKING);
        uint8_t byte;
        return ea_recv(host, &byte, 1) < 0 && ea_socket_last_error() == EA_WSAEWOULDBLOCK;
    }
};

bytes frame_of(uint16_t length, uint8_t fill)
{
    bytes frame(length, fill);
    frame[0] = static_cast<uint8_t>(length >> 8);
    frame[1] = static_cast<uint8_t>(length);
    return frame;
}

message *record(uint16_t length, uint8_t fill, int16_t weight, uint16_t tag = NORMAL_MESSAGE)
{
    message *msg = message_create(length, tag);
    for (uint16_t i = 0; i < length; ++i)
        msg->data[i] = fill;
    msg->packing_weight = weight;
    return msg;
}

struct ThNwHandleLink : ::testing::Test
{
    qel_test::held_tick held;
    loopback pair;
    th_nw_handle *list = th_nw_handle_create(1, nullptr);
    th_nw_handle *link = &list[0];
    uint32_t counter = 0;

    void SetUp() override
    {
        // At the start of a tick second; held, so no second boundary falls inside a case.
        pf_tick_set(5000000 + 1);
        link->connection_sockfd = pair.gateway;
        pair.gateway = -1; // the record closes it
        link->network_handle = 7;
        link->state = TH_LINK_CONNECTED;
    }
    void TearDown() override { th_nw_handle_destroy(list, 1); }

    // Calls receive until it gives something other than 203 (the bytes may be in flight).
    ea_status receive(message **msg, uint16_t *reason)
    {
        ea_status status = EA_VALID;
        for (int attempt = 0; attempt < 2000 && status == EA_VALID; ++attempt)
        {
            status = th_nw_handle_recv(link, msg, &counter, 0, reason, nullptr);
            if (status == EA_VALID)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return status;
    }
    ea_status queue_record(message *msg)
    {
        uint32_t pending = 0;
        return th_nw_handle_send(link, TH_NW_HANDLE_QUEUE, msg, &pending, 0, nullptr);
    }
    ea_status send(int16_t rate_limit, uint32_t *pending)
    {
        return th_nw_handle_send(link, TH_NW_HANDLE_SEND_PENDING, nullptr, pending, rate_limit, nullptr);
    }
};
} // namespace

TEST_F(ThNwHandleLink, AssemblesTheLengthFieldArrivingOneByteAtATime)
{
    bytes frame = frame_of(26, 0xAB);
    pair.host_writes(bytes(frame.begin(), frame.begin() + 1));
    message *msg = nullptr;
    uint16_t reason = 0;
    // Until the first byte arrives and after it, a call gives "nothing complete yet".
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            EXPECT_EQ(th_nw_handle_recv(link, &msg, &counter, 0, &reason, nullptr), EA_VALID);
            return link->receive_position == 1;
        },
        5000));
    EXPECT_EQ(msg, nullptr);
    EXPECT_EQ(link->frame_length, 0) << "half a length field is no length";
    EXPECT_EQ(link->receive_buffer[0], frame[0]);
    EXPECT_EQ(th_nw_handle_recv(link, &msg, &counter, 0, &reason, nullptr), EA_VALID);
    EXPECT_EQ(link->receive_position, 1);
    pair.host_writes(bytes(frame.begin() + 1, frame.end()));
    ASSERT_EQ(receive(&msg, &reason), EA_SUCCESS);
    EXPECT_EQ(bytes(msg->data, msg->data + msg->data_length), frame);
    EXPECT_EQ(msg->sequence_number, 1u);
    EXPECT_EQ(msg->host_network_handle, 7);
    EXPECT_EQ(link->frames_received, 1u);
    message_destroy(msg);
}

TEST_F(ThNwHandleLink, TakesCoalescedFramesOneAtATimeInOrder)
{
    bytes both = frame_of(30, 0x01);
    bytes second = frame_of(3, 0x02);
    both.insert(both.end(), second.begin(), second.end());
    pair.host_writes(both);
    message *first = nullptr;
    message *next = nullptr;
    uint16_t reason = 0;
    ASSERT_EQ(receive(&first, &reason), EA_SUCCESS);
    ASSERT_EQ(receive(&next, &reason), EA_SUCCESS);
    EXPECT_EQ(first->data_length, 30);
    EXPECT_EQ(next->data_length, 3);
    EXPECT_EQ(next->data[2], 0x02);
    EXPECT_EQ(first->sequence_number + 1, next->sequence_number);
    message_destroy(first);
    message_destroy(next);
}

TEST_F(ThNwHandleLink, ReadsAFrameOf2047Bytes)
{
    pair.host_writes(frame_of(2047, 0x33));
    message *msg = nullptr;
    uint16_t reason = 0;
    ASSERT_EQ(receive(&msg, &reason), EA_SUCCESS);
    EXPECT_EQ(msg->data_length, 2047);
    message_destroy(msg);
}

TEST(ThNwHandleFraming, LengthFieldsOutsideThreeTo2047EndTheConnection)
{
    for (uint16_t length : {0, 2, 2048, 0xFFFF})
    {
        loopback pair;
        th_nw_handle *list = th_nw_handle_create(1, nullptr);
        list[0].connection_sockfd = pair.gateway;
        pair.gateway = -1;
        uint8_t field[] = {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        pair.host_writes(bytes(field, field + 2));
        message *msg = nullptr;
        uint16_t reason = 0;
        uint32_t counter = 0;
        ea_status status = EA_VALID;
        for (int attempt = 0; attempt < 2000 && status == EA_VALID; ++attempt)
        {
            status = th_nw_handle_recv(&list[0], &msg, &counter, 0, &reason, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(status, TH_NW_CONNECTION_LOST) << length;
        EXPECT_EQ(reason, TH_REASON_INVALID_FRAME_LENGTH) << length;
        EXPECT_EQ(msg, nullptr);
        th_nw_handle_destroy(list, 1);
    }
}

TEST_F(ThNwHandleLink, AHostThatClosesGivesReason12008)
{
    ea_closesocket(pair.host);
    pair.host = -1;
    message *msg = nullptr;
    uint16_t reason = 0;
    EXPECT_EQ(receive(&msg, &reason), TH_NW_CONNECTION_LOST);
    EXPECT_EQ(reason, TH_REASON_CONNECTION_CLOSED);
}

TEST_F(ThNwHandleLink, RateLimitHoldsTheEleventhFrameForTheNextSecond)
{
    for (int i = 0; i < 11; ++i)
        ASSERT_EQ(queue_record(record(10, static_cast<uint8_t>(i), 1)), EA_VALID);
    uint32_t pending = 0;
    ASSERT_EQ(send(5, &pending), EA_SUCCESS);
    EXPECT_EQ(pending, 1u);
    EXPECT_EQ(pair.host_reads(100).size(), 100u);
    EXPECT_TRUE(pair.host_has_nothing());

    pf_tick_advance(1000);
    ASSERT_EQ(send(5, &pending), EA_SUCCESS);
    EXPECT_EQ(pending, 0u);
    bytes last = pair.host_reads(10);
    ASSERT_EQ(last.size(), 10u);
    EXPECT_EQ(last[0], 10);
}

TEST_F(ThNwHandleLink, AHeartBeatPassesALimitThatHoldsOrdinaryFrames)
{
    for (int i = 0; i < 5; ++i)
        queue_record(record(4, 1, 1));
    uint32_t pending = 0;
    ASSERT_EQ(send(5, &pending), EA_SUCCESS);
    pair.host_reads(20);
    for (int i = 0; i < 3; ++i)
        queue_record(record(4, 2, 1));
    link->heart_beat_flag = 1;
    queue_record(record(4, 9, 1, HEART_BEAT_MESSAGE));
    ASSERT_EQ(send(5, &pending), EA_SUCCESS);
    EXPECT_EQ(pending, 3u);
    EXPECT_EQ(pair.host_reads(4), bytes(4, 9));
    EXPECT_TRUE(pair.host_has_nothing());
    EXPECT_EQ(link->heart_beat_flag, 0);
}

TEST_F(ThNwHandleLink, ABatchHoldsAtMost2047Bytes)
{
    for (int i = 0; i < 3; ++i)
        queue_record(record(1000, static_cast<uint8_t>(i), 1));
    uint32_t pending = 0;
    ASSERT_EQ(send(2, &pending), EA_SUCCESS);
    EXPECT_EQ(pending, 1u);
    EXPECT_EQ(pair.host_reads(2000).size(), 2000u);
    EXPECT_TRUE(pair.host_has_nothing());
}

TEST_F(ThNwHandleLink, DiscardsFramesThatNoBatchCanCarry)
{
    queue_record(record(1, 1, 1));
    queue_record(record(2048, 2, 1));
    queue_record(record(2, 3, 1));
    uint32_t pending = 0;
    ASSERT_EQ(send(100, &pending), EA_SUCCESS);
    EXPECT_EQ(pending, 0u);
    EXPECT_EQ(pair.host_reads(2), bytes(2, 3));
    EXPECT_TRUE(pair.host_has_nothing());
}

TEST_F(ThNwHandleLink, AWriteThatWouldBlockResumesWhereItStopped)
{
    // Far more than the capped buffers hold, so that writes block on the way.
    const int frames = 3000;
    for (int i = 0; i < frames; ++i)
    {
        message *msg = record(2000, static_cast<uint8_t>(i), 0);
        msg->data[1] = static_cast<uint8_t>(i >> 8);
        queue_record(msg);
    }
    uint32_t pending = 0;
    std::atomic<bool> blocked{false};
    bytes received;
    // The host reads only once a write has blocked, however slow the machine.
    std::thread reader(
        [&]
        {
            qel_test::wait_until([&] { return blocked.load(); }, 10000);
            received = pair.host_reads(static_cast<size_t>(frames) * 2000);
        });
    for (int attempt = 0; attempt < 100000; ++attempt)
    {
        ea_status status = send(0, &pending);
        ASSERT_NE(status, EA_ERROR);
        if (status == EA_VALID)
            blocked = true;
        if (pending == 0)
            break;
        EXPECT_EQ(pending, queue_get_count(link->pending_queue) + link->batch_count);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reader.join();
    EXPECT_TRUE(blocked);
    ASSERT_EQ(received.size(), static_cast<size_t>(frames) * 2000);
    for (int i = 0; i < frames; ++i)
    {
        ASSERT_EQ(received[static_cast<size_t>(i) * 2000], static_cast<uint8_t>(i)) << i;
        ASSERT_EQ(received[static_cast<size_t>(i) * 2000 + 1], static_cast<uint8_t>(i >> 8)) << i;
    }
}

TEST(ThNwHandle, QueuesAHeartBeatAtTheHeadAndWritesNothingWhileConnecting)
{
    th_nw_handle *list = th_nw_handle_create(1, nullptr);
    uint32_t pending = 0;
    th_nw_handle_send(&list[0], TH_NW_HANDLE_QUEUE, record(4, 1, 1), &pending, 5, nullptr);
    th_nw_handle_send(&list[0], TH_NW_HANDLE_QUEUE, record(4, 2, 1, HEART_BEAT_MESSAGE), &pending, 5,
                      nullptr);
    EXPECT_EQ(pending, 2u);
    EXPECT_EQ(static_cast<message *>(queue_peek(list[0].pending_queue, 0))->tag, HEART_BEAT_MESSAGE);
    EXPECT_EQ(th_nw_handle_send(&list[0], TH_NW_HANDLE_SEND_PENDING, nullptr, &pending, 5, nullptr),
              EA_VALID);
    list[0].connection_sockfd = 1000; // any value: a link that is connecting writes nothing
    list[0].state = TH_LINK_CONNECTING;
    EXPECT_EQ(th_nw_handle_send(&list[0], TH_NW_HANDLE_SEND_PENDING, nullptr, &pending, 5, nullptr),
              EA_VALID);
    EXPECT_EQ(pending, 2u);
    EXPECT_EQ(th_nw_handle_send(&list[0], 99, record(4, 1, 1), &pending, 5, nullptr), EA_ERROR);
    list[0].connection_sockfd = -1;
    th_nw_handle_destroy(list, 1);
}
