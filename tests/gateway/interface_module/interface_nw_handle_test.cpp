// The send side of one console connection when the console stops reading: what the gateway
// keeps for it stays bounded, the oldest records go first, and once the console reads
// again it is told in one console event how many it lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
        if (set_aside >= 0)
            ea_closesocket(set_aside);
        if (entries != nullptr)
        {
            if (entries[0].socket != EA_INVALID_SOCKET)
                ea_closesocket(entries[0].socket);
            interface_nw_handle_destroy(entries, 1);
        }
        ea_closesocket(console);
        ea_socket_cleanup();
    }

    // What the console has been sent so far, at most `limit` bytes of it, as whole packets
    // appended to `packets`.
    void console_reads(std::vector<std::vector<uint8_t>> *packets, size_t limit = SIZE_MAX)
    {
        uint8_t buffer[4096];
        ASSERT_EQ(ea_setsockopt(console, EA_SOCKOPT_NONBLOCKING), 0);
        for (size_t taken = 0; taken < limit;)
        {
            int32_t n =
                ea_recv(console, buffer, static_cast<int32_t>(std::min(sizeof buffer, limit - taken)));
            ended = ended || n == 0;
            if (n <= 0)
                break;
            stream.insert(stream.end(), buffer, buffer + n);
            taken += static_cast<size_t>(n);
        }
        size_t at = 0;
        while (stream.size() - at >= 2 && stream.size() - at >= get_u16_le(stream.data() + at, 0))
        {
            uint16_t length = get_u16_le(stream.data() + at, 0);
            ASSERT_GE(length, 2) << "a packet shorter than its length field";
            packets->emplace_back(stream.begin() + at, stream.begin() + at + length);
            at += length;
        }
        stream.erase(stream.begin(), stream.begin() + at);
    }

    // The gateway queues the next event, numbered `sent`, for a console that may read nothing:
    // whatever the socket takes, no more than the limit is ever queued.
    void gateway_queues_next()
    {
        uint32_t pending = 0;
        ea_status status = interface_nw_handle_send(&entries[0], INTERFACE_SEND_NEW_PACKET, event(sent++),
                                                    &pending, nullptr);
        ASSERT_TRUE(status == EA_SUCCESS || status == EA_VALID) << status;
        ASSERT_LE(queue_get_count(entries[0].outgoing), static_cast<uint32_t>(INTERFACE_OUTGOING_LIMIT));
        ASSERT_LE(pending, static_cast<uint32_t>(INTERFACE_OUTGOING_LIMIT) + 1);
    }

    // The console reads again: the gateway flushes until nothing is left for it, then closes
    // its end, and the console reads to the end of the stream (what the gateway handed to
    // the kernel may still be on its way).
    void console_takes_everything(std::vector<std::vector<uint8_t>> *packets)
    {
        uint32_t pending = 0;
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                interface_nw_handle_send(&entries[0], INTERFACE_SEND_FLUSH, nullptr, &pending, nullptr);
                console_reads(packets);
                return pending == 0;
            },
            10000));
        ea_closesocket(entries[0].socket);
        entries[0].socket = EA_INVALID_SOCKET;
        ASSERT_TRUE(qel_test::wait_until(
            [&]
            {
                console_reads(packets);
                return ended;
            },
            10000));
        ASSERT_TRUE(stream.empty());
    }

    int32_t console = -1;
    interface_nw_handle *entries = nullptr;
    std::vector<uint8_t> stream;
    bool ended = false; // the console read the end of the stream
    uint32_t sent = 0;
    int32_t set_aside = -1; // the gateway's end while a test keeps anything from leaving
};

bool is_drop_notice(const message *record)
{
    return get_u16_le(record->data, 20) == 10000 && get_u16_le(record->data, 36) == 13003;
}

// What a console heard: the numbers of the events in the order they came, and the counts of
// the notices of events that went.
struct heard
{
    std::vector<uint32_t> events;
    std::vector<uint32_t> notices;
    bool last_is_notice = false;

    uint64_t notified() const
    {
        uint64_t sum = 0;
        for (uint32_t count : notices)
            sum += count;
        return sum;
    }
};

void sort_out(const std::vector<std::vector<uint8_t>> &packets, heard *out)
{
    for (const std::vector<uint8_t> &packet : packets)
    {
        ASSERT_EQ(packet.size(), kEventLength);
        EXPECT_EQ(get_u16_le(packet.data(), 20), 10000);
        EXPECT_EQ(get_u16_le(packet.data(), 30), kBoxId);
        uint16_t reason = get_u16_le(packet.data(), 36);
        if (reason == 13003)
        {
            EXPECT_EQ(get_u32_le(packet.data(), 32), 0u);
            EXPECT_NE(get_u32_le(packet.data(), 22), 0u);
            EXPECT_GT(get_u32_le(packet.data(), 38), 0u);
            out->notices.push_back(get_u32_le(packet.data(), 38));
        }
        else
        {
            ASSERT_EQ(reason, 11013);
            uint32_t number = get_u32_le(packet.data(), 38);
            if (!out->events.empty())
            {
                ASSERT_GT(number, out->events.back()) << "events out of order";
            }
            out->events.push_back(number);
        }
        out->last_is_notice = reason == 13003;
    }
}

// Events from `first` on, up to `last` included, all arrived (the numbers are in order).
bool heard_every_event_from(const heard &what, uint32_t first, uint32_t last)
{
    if (what.events.empty())
        return false;
    auto from = std::lower_bound(what.events.begin(), what.events.end(), first);
    return what.events.end() - from == static_cast<std::ptrdiff_t>(last - first + 1) &&
           what.events.back() == last;
}

TEST_F(console_connection, AConsoleThatReadsNothingKeepsTheQueueBoundedAndLaterHearsHowManyWent)
{
    interface_nw_handle *entry = &entries[0];
    // The console reads nothing while events come, until its queue is full and losing the
    // oldest. However much of the stream the kernel takes meanwhile, whenever it takes it,
    // the queue never passes its limit.
    while (sent < 3 * INTERFACE_OUTGOING_LIMIT || entry->dropped == 0 ||
           queue_get_count(entry->outgoing) < INTERFACE_OUTGOING_LIMIT)
    {
        ASSERT_LT(sent, 100u * INTERFACE_OUTGOING_LIMIT);
        ASSERT_NO_FATAL_FAILURE(gateway_queues_next());
    }

    std::vector<std::vector<uint8_t>> packets;
    ASSERT_NO_FATAL_FAILURE(console_takes_everything(&packets));
    heard what;
    ASSERT_NO_FATAL_FAILURE(sort_out(packets, &what));

    // Events came in order and the newest were kept; the notice comes last, and the notices
    // count exactly the events that did not come. The kernel decides how many went, and
    // whether the queue drained to half (and told the console) while it was filling; a
    // notice still queued takes the place of one event.
    ASSERT_FALSE(what.notices.empty());
    EXPECT_TRUE(what.last_is_notice);
    EXPECT_EQ(what.events.size() + what.notified(), sent);
    const uint32_t kept = INTERFACE_OUTGOING_LIMIT - static_cast<uint32_t>(what.notices.size() - 1);
    EXPECT_TRUE(heard_every_event_from(what, sent - kept, sent - 1));
    EXPECT_EQ(entry->dropped, 0u);
}

TEST_F(console_connection, ANoticeCrowdedOutOfAFullQueuePassesItsCountOn)
{
    interface_nw_handle *entry = &entries[0];
    // The console reads nothing until its queue is full and has lost many events...
    while (entry->dropped < INTERFACE_OUTGOING_LIMIT / 4 ||
           queue_get_count(entry->outgoing) < INTERFACE_OUTGOING_LIMIT)
    {
        ASSERT_LT(sent, 100u * INTERFACE_OUTGOING_LIMIT);
        ASSERT_NO_FATAL_FAILURE(gateway_queues_next());
    }
    // ...then reads a little at a time, until the queue has drained to half and the gateway
    // has queued the notice behind what is left...
    std::vector<std::vector<uint8_t>> packets;
    uint32_t pending = 0;
    ASSERT_TRUE(qel_test::wait_until(
        [&]
        {
            for (int i = 0; i < 64 && entry->dropped != 0; ++i)
            {
                console_reads(&packets, 4096);
                interface_nw_handle_send(entry, INTERFACE_SEND_FLUSH, nullptr, &pending, nullptr);
            }
            return entry->dropped == 0;
        },
        10000));
    const uint32_t queued = queue_get_count(entry->outgoing);
    ASSERT_GT(queued, 0u);
    const message *notice = static_cast<const message *>(queue_peek(entry->outgoing, queued - 1));
    ASSERT_TRUE(is_drop_notice(notice));
    const uint32_t first_count = get_u32_le(notice->data, 38);
    const uint32_t ahead = queued - 1;

    // ...then stops again, and nothing more leaves (the socket is set aside) while events keep
    // coming: the queue fills, loses the events ahead of the notice, the notice, and some after.
    set_aside = entry->socket;
    entry->socket = EA_INVALID_SOCKET;
    const uint32_t after = INTERFACE_OUTGOING_LIMIT / 4;
    const uint32_t coming = INTERFACE_OUTGOING_LIMIT - queued + ahead + 1 + after;
    for (uint32_t i = 0; i < coming; ++i)
        ASSERT_NO_FATAL_FAILURE(gateway_queues_next());
    entry->socket = set_aside;
    set_aside = -1;

    // The next notice counts what the lost one counted as well: the console hears of every
    // event it missed, and of no notice as an event.
    ASSERT_NO_FATAL_FAILURE(console_takes_everything(&packets));
    heard what;
    ASSERT_NO_FATAL_FAILURE(sort_out(packets, &what));
    ASSERT_TRUE(what.last_is_notice);
    EXPECT_EQ(what.notices.back(), first_count + ahead + after);
    EXPECT_EQ(what.events.size() + what.notified(), sent);
    EXPECT_TRUE(heard_every_event_from(what, sent - INTERFACE_OUTGOING_LIMIT, sent - 1));
}

TEST_F(console_connection, AConsoleThatKeepsUpLosesNothing)
{
    std::vector<std::vector<uint8_t>> packets;
    while (sent < 2 * INTERFACE_OUTGOING_LIMIT)
    {
        ASSERT_NO_FATAL_FAILURE(gateway_queues_next());
        if (sent % 256 == 1)
            console_reads(&packets);
    }
    ASSERT_NO_FATAL_FAILURE(console_takes_everything(&packets));
    heard what;
    ASSERT_NO_FATAL_FAILURE(sort_out(packets, &what));
    EXPECT_TRUE(what.notices.empty());
    EXPECT_TRUE(heard_every_event_from(what, 0, sent - 1));
}
} // namespace
